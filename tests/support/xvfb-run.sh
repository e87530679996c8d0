#!/bin/sh
# Runs a command on a virtual X server of its own, as xvfb-run does, but lets Xvfb choose a free
# display itself (-displayfd): tests started at the same moment never race for one, as they can
# with xvfb-run -a's guess. The server stops when the command ends; its status is the command's.
#   xvfb-run.sh -s "SERVER ARGUMENTS" COMMAND [ARGUMENT...]
set -u
if [ "${1-}" != "-s" ] || [ $# -lt 3 ]; then
  echo "usage: $0 -s \"SERVER ARGUMENTS\" COMMAND [ARGUMENT...]" >&2
  exit 2
fi
server_args=$2
shift 2

dir=$(mktemp -d) || exit 1
# shellcheck disable=SC2086 # the server arguments are words
Xvfb -displayfd 3 $server_args 3>"$dir/display" 2>"$dir/log" &
server=$!
cleanup() {
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# Xvfb writes its display number once it accepts connections.
tries=0
until [ -s "$dir/display" ]; do
  if ! kill -0 "$server" 2>/dev/null || [ $tries -ge 300 ]; then
    echo "Xvfb did not start:" >&2
    cat "$dir/log" >&2
    exit 1
  fi
  tries=$((tries + 1))
  sleep 0.1
done
DISPLAY=":$(head -n 1 "$dir/display")"
export DISPLAY
unset XAUTHORITY
"$@"
