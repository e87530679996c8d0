#!/bin/sh
# Opens the plug-in with its editor in jalv.gtk3 (which embeds LV2 X11 UIs through suil) on the
# display and JACK server the test provides, waits until the editor's 1024 x 768 window is
# viewable inside jalv's, then closes jalv and checks that it exited cleanly.
#
#   jalv-gtk-run.sh LV2_PATH PLUGIN_URI
set -u
. "$(dirname "$0")/jalv-finish.sh"
[ $# -eq 2 ] || { echo "usage: $0 LV2_PATH PLUGIN_URI" >&2; exit 2; }
export LV2_PATH="$1"
uri=$2
out=$(mktemp)
trap 'rm -f "$out"' EXIT

# Stopped if still running after jalv_limit seconds, however far the script got (see jalv_finish).
jalv_limit=40
timeout -k 5 "$jalv_limit" jalv.gtk3 -n "corvex-jalv-gtk-$$" "$uri" >"$out" 2>&1 &
jalv_pid=$!

shown=""
tries=0
while [ -z "$shown" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 200 ] || ! kill -0 "$jalv_pid" 2>/dev/null; then
        echo "jalv-gtk-run: the editor never showed:" >&2
        cat "$out" >&2
        xwininfo -root -tree >&2
        kill "$jalv_pid" 2>/dev/null
        exit 1
    fi
    for id in $(xwininfo -root -tree | awk '/\(has no name\): \(\)  1024x768\+/ { print $1 }'); do
        if xwininfo -id "$id" | grep -q "Map State: IsViewable"; then
            shown=$id
        fi
    done
    [ -n "$shown" ] || sleep 0.05
done

kill -INT "$jalv_pid"
jalv_finish jalv-gtk-run jalv.gtk3 "error\|critical"
echo "jalv-gtk-run: the editor showed as window $shown"
