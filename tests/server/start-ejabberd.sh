#!/usr/bin/env bash
# Starts the private ejabberd of one build tree for the test run and writes what the tests need
# to know into DIR/ejabberd.env.
#   start-ejabberd.sh DIR     DIR: the build tree's tests/server folder (created if missing)
#
# Two nodes run on 127.0.0.1 only, each with one c2s listener (STARTTLS required) on a free port:
# the main node with a certificate for "localhost" signed by a test CA made here, and a second
# node whose certificate, signed by the same CA, names "wrong.example". Both know the same
# accounts and passwords; X-OAUTH2 tokens are issued by the main node only.
# A node left over from an interrupted run is stopped first. Needs root (ejabberdctl runs the
# server as the user ejabberd).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd -P)
# shellcheck source=tests/server/common.sh
. "$here/common.sh"

[ $# -eq 1 ] || norvo_die "usage: $0 BUILD/tests/server"
if [ "$(id -u)" -ne 0 ] && [ "$(id -un)" != ejabberd ]; then
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    exec sudo -n "$0" "$@"
  fi
  norvo_die "must run as root: ejabberdctl runs the server as the user ejabberd"
fi
command -v ejabberdctl >/dev/null || norvo_die "ejabberdctl not found; run scripts/install-deps"
getent passwd ejabberd >/dev/null || norvo_die "no user ejabberd; run scripts/install-deps"

mkdir -p "$1"
norvo_setup_names "$1"
timeout_s=${NORVO_EJABBERD_START_TIMEOUT:-90}
started_at=$SECONDS

# The accounts of the test run: name, password.
accounts=(hub hub-secret-1 device device-secret-2 friend friend-secret-3 stranger stranger-secret-4)

# A system ejabberd (the Debian package starts one on install, on the default ports and with the
# system's configuration) is stopped and disabled: nothing of ours may ever talk to it, and its
# ports and name must not be mistaken for ours.
stop_system_server() {
  command -v epmd >/dev/null || return 0
  epmd -names 2>/dev/null | grep -q '^name ejabberd at port' || return 0
  echo "start-ejabberd: stopping the system ejabberd" >&2
  if command -v systemctl >/dev/null && systemctl is-active -q ejabberd 2>/dev/null; then
    systemctl disable --now ejabberd >/dev/null 2>&1 || true
  else
    ejabberdctl stop >/dev/null 2>&1 || true
    if command -v update-rc.d >/dev/null; then
      update-rc.d ejabberd disable >/dev/null 2>&1 || true
    fi
  fi
}

# All local TCP ports in use (any state), one a line.
used_ports() {
  local f sl local_addr rest
  for f in /proc/net/tcp /proc/net/tcp6; do
    [ -r "$f" ] || continue
    while read -r sl local_addr rest; do
      [ "$sl" = "sl" ] && continue
      echo $((16#${local_addr##*:}))
    done <"$f"
  done
}

# pick_ports N: N distinct free ports below the kernel's ephemeral range, so that no outgoing
# connection takes one between our choice and the server's bind.
pick_ports() {
  local low=32768
  read -r low _ </proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || true
  [ "$low" -gt 12000 ] || low=32768
  local used picked=() p
  used=" $(used_ports | tr '\n' ' ') "
  while [ ${#picked[@]} -lt "$1" ]; do
    p=$((10000 + (RANDOM * 32768 + RANDOM) % (low - 10000)))
    case "$used ${picked[*]} " in *" $p "*) continue ;; esac
    picked+=("$p")
  done
  echo "${picked[@]}"
}

# The test CA and the two server certificates, made once per build tree and kept while valid
# for at least another day. The "localhost" certificate names only the domain (no IP address),
# so a client that checks the address it dialled instead of the XMPP domain fails.
make_certs() {
  mkdir -p "$cert_dir"
  if openssl x509 -checkend 86400 -noout -in "$cert_dir/ca.pem" >/dev/null 2>&1 &&
    openssl x509 -checkend 86400 -noout -in "$cert_dir/localhost.pem" >/dev/null 2>&1 &&
    openssl x509 -checkend 86400 -noout -in "$cert_dir/wrong.example.pem" >/dev/null 2>&1; then
    return 0
  fi
  local tmp
  tmp=$(mktemp -d "$cert_dir/.new.XXXXXX")
  openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -keyout "$tmp/ca.key" -out "$tmp/ca.pem" -days 30 -subj "/CN=Norvo Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  local name
  for name in localhost wrong.example; do
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
      -keyout "$tmp/$name.key" -out "$tmp/$name.csr" -subj "/CN=$name" 2>/dev/null
    printf '%s\n' "basicConstraints=critical,CA:FALSE" \
      "keyUsage=critical,digitalSignature,keyAgreement" \
      "extendedKeyUsage=serverAuth" "subjectAltName=DNS:$name" >"$tmp/$name.ext"
    openssl x509 -req -in "$tmp/$name.csr" -CA "$tmp/ca.pem" -CAkey "$tmp/ca.key" \
      -CAcreateserial -days 30 -extfile "$tmp/$name.ext" -out "$tmp/$name.pem" 2>/dev/null
    rm -f "$tmp/$name.csr" "$tmp/$name.ext"
  done
  rm -f "$tmp"/*.srl
  chmod 644 "$tmp"/*.pem
  chmod 600 "$tmp"/*.key
  mv -f "$tmp"/* "$cert_dir"/
  rmdir "$tmp"
}

# prepare_node INDEX PORT: a fresh private folder for node INDEX (accounts, rosters and offline
# messages of an earlier run are dropped, so every run starts from the same state).
prepare_node() {
  local i=$1 port=$2
  local d=$node_root/${node_kinds[$i]}
  local cert=localhost
  [ "$i" -eq 1 ] && cert=wrong.example
  rm -rf "$d"
  mkdir -p "$d/config" "$d/logs" "$d/spool"
  local only_main=""
  [ "$i" -eq 1 ] && only_main="/# main node only/,/# end of main node only/d"
  sed -e "s|@PORT@|$port|g" -e "s|@CERTFILE@|$d/config/server.pem|g" -e "$only_main" \
    "$here/ejabberd.yml.in" >"$d/config/ejabberd.yml"
  # An ejabberdctl.cfg of our own (empty) keeps the system's one from being read.
  : >"$d/config/ejabberdctl.cfg"
  cp /etc/ejabberd/inetrc "$d/config/inetrc"
  cat "$cert_dir/$cert.pem" "$cert_dir/$cert.key" >"$d/config/server.pem"
  chmod 700 "$d"
  chmod 600 "$d/config/server.pem"
  if [ "$(id -u)" -eq 0 ]; then
    chown -R ejabberd:ejabberd "$d"
  fi
}

# The Erlang cookie shared by a node and the ejabberdctl calls lives in the home of the user
# ejabberd. Made here once, so that two nodes starting at the same time do not both create it.
ensure_cookie() {
  local home
  home=$(getent passwd ejabberd | cut -d: -f6)
  [ -n "$home" ] || norvo_die "the user ejabberd has no home folder"
  if ! norvo_as_ejabberd test -s "$home/.erlang.cookie"; then
    norvo_as_ejabberd sh -c "umask 077; head -c 15 /dev/urandom | od -An -tx1 | tr -d ' \n' \
      | tr a-f A-F >'$home/.erlang.cookie.tmp' && mv '$home/.erlang.cookie.tmp' \
      '$home/.erlang.cookie' && chmod 400 '$home/.erlang.cookie'"
  fi
}

# wait_node INDEX PORT: until the node accepts connections and has logged that it started (both
# cheap to check; ejabberdctl status costs an Erlang VM a call). Fails early when the node's VM
# is gone (a bad configuration, or a port taken after all).
wait_node() {
  local i=$1 port=$2
  local log=$node_root/${node_kinds[$i]}/logs/ejabberd.log
  while :; do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null &&
      grep -q "is started in the node ${node_names[$i]}" "$log" 2>/dev/null; then
      return 0
    fi
    if [ $((SECONDS - started_at)) -ge "$timeout_s" ]; then
      echo "start-ejabberd: node ${node_names[$i]} not ready after ${timeout_s}s" >&2
      return 1
    fi
    if [ $((SECONDS - started_at)) -ge 3 ] && [ -z "$(norvo_node_pid "$i")" ]; then
      echo "start-ejabberd: node ${node_names[$i]} ended during start-up" >&2
      return 1
    fi
    sleep 0.1
  done
}

show_logs() {
  local i d
  for i in 0 1; do
    d=$node_root/${node_kinds[$i]}/logs
    for f in "$d"/ejabberd.log "$d"/error.log "$d"/erlang.log; do
      [ -s "$f" ] || continue
      echo "---- $f (last lines)" >&2
      tail -n 30 "$f" >&2
    done
  done
}

# Both nodes' status, the accounts on both nodes and the tokens on the main node, all from one
# Erlang VM. Leaves the batch's output in OUT/batch.
provision() {
  local out=$1 k
  {
    echo "0 status"
    echo "1 status"
    for ((k = 0; k < ${#accounts[@]}; k += 2)); do
      echo "0 register ${accounts[k]} localhost ${accounts[k + 1]}"
      echo "1 register ${accounts[k]} localhost ${accounts[k + 1]}"
      echo "0 oauth_issue_token ${accounts[k]}@localhost 3600 sasl_auth"
    done
  } >"$out/commands"
  chmod 644 "$out/commands"
  if ! norvo_ctl_batch "$out/commands" >"$out/batch" 2>&1; then
    cat "$out/batch" >&2
    return 1
  fi
}

stop_system_server
norvo_stop_nodes 0 1
rm -f "$env_file"
make_certs
ensure_cookie
mkdir -p "$node_root"
# Under /tmp the folder's name is predictable: use it only when it is our own real folder.
{ [ -O "$node_root" ] && [ ! -L "$node_root" ]; } || norvo_die "$node_root is not ours"
[ "$(id -u)" -eq 0 ] && chmod 755 "$node_root"

# From here on a failed start leaves no node behind.
work=$(mktemp -d)
finished=0
cleanup() {
  rm -rf "$work"
  if [ $finished -ne 1 ]; then norvo_stop_nodes 0 1; fi
}
trap cleanup EXIT

ok=0
for _ in 1 2; do
  read -r port wrong_port < <(pick_ports 2)
  prepare_node 0 "$port"
  prepare_node 1 "$wrong_port"
  norvo_ctl 0 start >/dev/null
  norvo_ctl 1 start >/dev/null
  if wait_node 0 "$port" && wait_node 1 "$wrong_port"; then
    ok=1
    break
  fi
  show_logs
  norvo_stop_nodes 0 1
  [ $((SECONDS - started_at)) -lt "$timeout_s" ] || break
  echo "start-ejabberd: trying again with other ports" >&2
done
[ $ok -eq 1 ] || norvo_die "ejabberd did not start"

if ! provision "$work"; then
  show_logs
  norvo_die "could not register the test accounts"
fi

# The facts, as shell KEY='VALUE' lines (tests/server/test_server.h reads them). Written to a
# new file and renamed, so a reader never sees half of it.
{
  echo "# Written by tests/server/start-ejabberd.sh; valid while the nodes below run."
  echo "NORVO_TEST_XMPP_HOST='127.0.0.1'"
  echo "NORVO_TEST_XMPP_DOMAIN='localhost'"
  echo "NORVO_TEST_XMPP_PORT='$port'"
  echo "NORVO_TEST_XMPP_WRONGNAME_PORT='$wrong_port'"
  echo "NORVO_TEST_XMPP_WRONGNAME_CERT_NAME='wrong.example'"
  echo "NORVO_TEST_XMPP_CA_FILE='$cert_dir/ca.pem'"
  echo "NORVO_TEST_XMPP_CTL='$state_dir/ejabberdctl'"
  echo "NORVO_TEST_XMPP_NODE='${node_names[0]}'"
  echo "NORVO_TEST_XMPP_WRONGNAME_NODE='${node_names[1]}'"
  echo "NORVO_TEST_XMPP_SERVER_DIR='$node_root'"
  names=()
  for ((k = 0; k < ${#accounts[@]}; k += 2)); do
    name=${accounts[k]}
    upper=$(printf '%s' "$name" | tr '[:lower:]' '[:upper:]')
    # The reply, after the batch's "== 0 oauth_issue_token NAME@localhost ..." line, is
    # "TOKEN<tab>[<<"sasl_auth">>]<tab>3600 seconds".
    token=$(awk -F '\t' -v cmd="== 0 oauth_issue_token $name@localhost " \
      'index($0, cmd) == 1 { getline; print $1; exit }' "$work/batch")
    [[ "$token" =~ ^[A-Za-z0-9]+$ ]] || norvo_die "no token for $name: $(cat "$work/batch")"
    names+=("$name")
    echo "NORVO_TEST_XMPP_${upper}_JID='$name@localhost'"
    echo "NORVO_TEST_XMPP_${upper}_PASSWORD='${accounts[k + 1]}'"
    echo "NORVO_TEST_XMPP_${upper}_TOKEN='$token'"
  done
  echo "NORVO_TEST_XMPP_ACCOUNTS='${names[*]}'"
} >"$env_file.tmp"

# ejabberdctl for the main node, for tests that change rosters, kick sessions and the like:
#   "$NORVO_TEST_XMPP_CTL" add_rosteritem hub localhost friend localhost Friend Friends both
{
  echo "#!/usr/bin/env bash"
  echo "# Runs ejabberdctl on this build tree's main test node. Written by start-ejabberd.sh."
  echo "set -euo pipefail"
  echo "if [ \"\$(id -u)\" -ne 0 ] && [ \"\$(id -un)\" != ejabberd ]; then exec sudo -n \"\$0\" \"\$@\"; fi"
  echo ". '$here/common.sh'"
  echo "norvo_setup_names '$state_dir'"
  echo "norvo_ctl \"\${NORVO_TEST_XMPP_CTL_NODE:-0}\" \"\$@\""
} >"$state_dir/ejabberdctl"
chmod 755 "$state_dir/ejabberdctl"
chmod 644 "$env_file.tmp"
mv -f "$env_file.tmp" "$env_file"
finished=1
echo "start-ejabberd: ${node_names[0]} on 127.0.0.1:$port," \
  "${node_names[1]} on 127.0.0.1:$wrong_port, ready in $((SECONDS - started_at))s; facts in $env_file"
