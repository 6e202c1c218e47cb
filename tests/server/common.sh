# shellcheck shell=bash disable=SC2034  # the names set here are used by the sourcing scripts
# Shared by start-ejabberd.sh and stop-ejabberd.sh: names and helpers of the private ejabberd
# nodes of one build tree. Sourced, not run.
#
# Every build tree (build/, build/asan, build-NAME) gets its own pair of nodes, named after a
# checksum of the tree's path, so two trees can run their suites at the same time without the
# servers fighting over names, folders or ports.

norvo_die() {
  echo "$(basename "$0"): $*" >&2
  exit 1
}

# norvo_setup_names DIR: sets the names and folders used below for the build tree's tests/server
# folder DIR (which must exist).
norvo_setup_names() {
  state_dir=$(cd "$1" && pwd -P)
  env_file=$state_dir/ejabberd.env
  cert_dir=$state_dir/certs
  local tag
  tag=$(printf '%s' "$state_dir" | cksum | cut -d' ' -f1)
  # The main node offers the "localhost" certificate; the second one offers a certificate for
  # another name, so a client that skips the host name check can be caught.
  node_names=("norvo${tag}@localhost" "norvo${tag}w@localhost")
  node_kinds=(main wrongname)
  # The server runs as the user ejabberd, which must be able to reach its folder. A build tree
  # under a private home (CI clones into /root) is not reachable, so the nodes then live in /tmp.
  if norvo_as_ejabberd test -x "$state_dir" 2>/dev/null; then
    node_root=$state_dir/nodes
  else
    node_root=${TMPDIR:-/tmp}/norvo-ejabberd-$tag
  fi
}

# Runs a command as the user ejabberd (we are root or that user).
norvo_as_ejabberd() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u ejabberd -- "$@"
  else
    "$@"
  fi
}

# norvo_ctl INDEX ARGS...: ejabberdctl on node INDEX (0 main, 1 wrong name) with its own folders.
# ERL_EPMD_ADDRESS keeps an epmd that we start on loopback; the distribution port of the node
# and of every ejabberdctl call is bound to loopback too.
norvo_ctl() {
  local i=$1
  shift
  local d=$node_root/${node_kinds[$i]}
  ERL_EPMD_ADDRESS=127.0.0.1 \
    ERL_OPTIONS="-kernel inet_dist_use_interface {127,0,0,1}" \
    EJABBERD_PID_PATH=$d/ejabberd.pid \
    ejabberdctl --config-dir "$d/config" --logs "$d/logs" --spool "$d/spool" \
    --node "${node_names[$i]}" "$@"
}

# The process id of node INDEX when it runs, else nothing. The pid file alone could name an
# unrelated process after a reboot, so the command line must carry the node's name as well.
norvo_node_pid() {
  local d=$node_root/${node_kinds[$1]}
  local pid
  pid=$(cat "$d/ejabberd.pid" 2>/dev/null) || true
  if [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] &&
    tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q -- "-sname ${node_names[$1]} "; then
    echo "$pid"
    return
  fi
  # No usable pid file (an interrupted first start): look for our node's own name.
  pgrep -f -- "-sname ${node_names[$1]} " 2>/dev/null | head -n 1 || true
}

# norvo_stop_nodes INDEX...: stops those nodes that run. SIGTERM makes the Erlang VM shut down
# in order (all nodes at once); a node that has not ended within 20 seconds is killed.
norvo_stop_nodes() {
  local i pid pids=()
  for i in "$@"; do
    pid=$(norvo_node_pid "$i")
    [ -n "$pid" ] || continue
    kill -TERM "$pid" 2>/dev/null || true
    pids+=("$pid")
  done
  local waited=0
  for pid in "${pids[@]}"; do
    while kill -0 "$pid" 2>/dev/null; do
      if [ $waited -ge 200 ]; then
        echo "$(basename "$0"): a test node did not stop, killing pid $pid" >&2
        kill -KILL "$pid" 2>/dev/null || true
        break
      fi
      sleep 0.1
      waited=$((waited + 1))
    done
  done
}

# norvo_ctl_batch FILE: runs many ejabberdctl commands from one hidden Erlang node instead of one
# VM per command (each VM start costs most of a second of CPU). FILE has one command a line:
# "INDEX WORD WORD ...", INDEX 0 or 1 for the node, words without spaces, quotes or backslashes.
# Each command goes through ejabberd_ctl:process on the node, as ejabberdctl's own calls do.
# Prints "== INDEX WORDS" before and "=> CODE" after each command's output; fails unless every
# command returned 0.
norvo_ctl_batch() {
  local terms="" idx words w list
  while read -r idx words; do
    [ -z "$idx" ] && continue
    list=""
    for w in $words; do
      case "$w" in *[\"\\\']*) norvo_die "unsafe word in a ctl command: $w" ;; esac
      list="$list${list:+,}\"$w\""
    done
    terms="$terms${terms:+,}{$idx,'${node_names[$idx]}',[$list]}"
  done <"$1"
  local expr="
    Run = fun({I, N, Args}) ->
      io:format(\"== ~b ~ts~n\", [I, lists:join(\" \", Args)]),
      R = rpc:call(N, ejabberd_ctl, process, [Args], 60000),
      io:format(\"=> ~p~n\", [R]),
      R
    end,
    Codes = [Run(C) || C <- [$terms]],
    halt(case lists:all(fun(C) -> C =:= 0 end, Codes) of true -> 0; false -> 1 end)."
  local tag=${node_names[0]%@*}
  (cd "$node_root" && norvo_as_ejabberd env ERL_EPMD_ADDRESS=127.0.0.1 \
    ERL_INETRC="$node_root/${node_kinds[0]}/config/inetrc" \
    erl -sname "${tag}ctl$$@localhost" -hidden -noinput -noshell \
    -kernel inet_dist_use_interface '{127,0,0,1}' -eval "$expr")
}
