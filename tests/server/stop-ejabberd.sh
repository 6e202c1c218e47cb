#!/usr/bin/env bash
# Stops the private ejabberd nodes of one build tree. Keeps the certificates (the next start
# reuses them) and the logs (for a look after a failed run); removes only the facts file, whose
# ports no longer answer.
#   stop-ejabberd.sh DIR     DIR: the build tree's tests/server folder
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd -P)
# shellcheck source=tests/server/common.sh
. "$here/common.sh"

[ $# -eq 1 ] || norvo_die "usage: $0 BUILD/tests/server"
[ -d "$1" ] || exit 0
if [ "$(id -u)" -ne 0 ] && [ "$(id -un)" != ejabberd ]; then
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    exec sudo -n "$0" "$@"
  fi
  norvo_die "must run as root, like start-ejabberd.sh"
fi
norvo_setup_names "$1"
rm -f "$env_file"
norvo_stop_nodes 0 1
# The epmd that our first node started stays behind after the nodes; end it only when no node
# at all is left (the same rule ejabberdctl follows).
if command -v epmd >/dev/null && ! epmd -names 2>/dev/null | grep -q '^name '; then
  epmd -kill >/dev/null 2>&1 || true
fi
echo "stop-ejabberd: stopped ${node_names[*]}"
