#!/bin/sh
# Runs the LV2 plug-in in jalv against the JACK server the test's fixture started (named by
# JACK_DEFAULT_SERVER), wires it to the server's dummy system ports, lets it process for a few
# seconds, then closes jalv's console and checks that it exited cleanly and reported no error.
#
#   jalv-run.sh LV2_PATH PLUGIN_URI SECONDS
set -u
. "$(dirname "$0")/jalv-finish.sh"
[ $# -eq 3 ] || { echo "usage: $0 LV2_PATH PLUGIN_URI SECONDS" >&2; exit 2; }
export LV2_PATH="$1"
uri=$2
seconds=$3
client="corvex-jalv-$$"
out=$(mktemp)
trap 'rm -f "$out"' EXIT

# jalv reads commands on its standard input and exits at its end; one that has not exited
# jalv_limit seconds after it started is stopped (jalv_finish says so and shows its output).
jalv_limit=$((seconds + 20))
(sleep "$seconds") | timeout -k 5 "$jalv_limit" jalv -x -n "$client" -c distortion_level=0.7 "$uri" >"$out" 2>&1 &
jalv_pid=$!

tries=0
until jack_lsp 2>/dev/null | grep -q "^$client:out_right\$"; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 "$jalv_pid" 2>/dev/null; then
        echo "jalv-run: jalv never registered its ports:" >&2
        cat "$out" >&2
        exit 1
    fi
    sleep 0.05
done
jack_connect system:capture_1 "$client:in_left" || exit 1
jack_connect system:capture_2 "$client:in_right" || exit 1
jack_connect "$client:out_left" system:playback_1 || exit 1
jack_connect "$client:out_right" system:playback_2 || exit 1
jack_lsp -c "$client:out_left" | grep -q "system:playback_1" || { echo "jalv-run: not connected" >&2; exit 1; }

jalv_finish jalv-run jalv "error\|warning\|xrun"
echo "jalv-run: ran $seconds s cleanly"
