#!/bin/sh
# A JACK server for tests: the dummy backend, so no sound card and no real-time privileges are
# needed, under a name nothing else on the machine uses. Synchronous mode: the server waits for
# every client in every cycle, so on a busy machine cycles come late but none is skipped.
#
#   jackd-fixture.sh start STATE [RATE [PERIOD]]  start a server, wait until it accepts clients
#   jackd-fixture.sh stop STATE                   stop it (if still running) and wait for it to exit
#   jackd-fixture.sh run STATE COMMAND [ARG...]   run COMMAND with JACK_DEFAULT_SERVER naming it
#
# STATE is a file this script writes: the server's name on the first line, its pid on the second.
# Stop servers with SIGTERM, as `stop` does: a server killed outright keeps its entry in JACK's
# registry of servers (eight entries for the whole machine) until one of the same name starts.
set -u
# Asking a server that is not there must not start one.
export JACK_NO_START_SERVER=1

usage() {
    echo "usage: $0 start STATE [RATE [PERIOD]] | stop STATE | run STATE COMMAND [ARG...]" >&2
    exit 2
}

[ $# -ge 2 ] || usage
action=$1
state=$2
shift 2

case "$action" in
start)
    rate=${1:-48000}
    period=${2:-256}
    log="$state.log"
    # JACK keeps eight servers per machine; other test runs may hold them for a moment.
    attempt=1
    while :; do
        name="corvex-test-$$-$(date +%s%N)"
        # setsid and every descriptor to the log: the server outlives this script and CTest does
        # not wait for it.
        setsid jackd --no-realtime --sync --name "$name" -d dummy --rate "$rate" --period "$period" \
            --capture 2 --playback 2 </dev/null >"$log" 2>&1 &
        pid=$!
        printf '%s\n%s\n' "$name" "$pid" >"$state"
        # Up to 10 s for the server to run its driver (its system ports appear), unless it gives
        # up before.
        tries=0
        ready=no
        while kill -0 "$pid" 2>/dev/null && [ $tries -lt 100 ]; do
            if jack_lsp --server "$name" 2>/dev/null | grep -q '^system:playback_2$'; then
                ready=yes
                break
            fi
            tries=$((tries + 1))
            sleep 0.1
        done
        [ $ready = yes ] && break
        kill "$pid" 2>/dev/null
        if [ $attempt -ge 3 ]; then
            echo "jackd-fixture: the JACK server $name did not start:" >&2
            cat "$log" >&2
            exit 1
        fi
        attempt=$((attempt + 1))
        sleep 2
    done
    echo "jackd-fixture: JACK server $name running as pid $pid"
    ;;
stop)
    [ -f "$state" ] || { echo "jackd-fixture: no server state in $state" >&2; exit 0; }
    pid=$(sed -n 2p "$state")
    name=$(sed -n 1p "$state")
    if kill "$pid" 2>/dev/null; then
        tries=0
        while kill -0 "$pid" 2>/dev/null; do
            tries=$((tries + 1))
            if [ $tries -gt 50 ]; then
                kill -KILL "$pid" 2>/dev/null
                break
            fi
            sleep 0.1
        done
    fi
    rm -f "$state" "$state.log"
    echo "jackd-fixture: JACK server $name stopped"
    ;;
run)
    [ $# -ge 1 ] || usage
    [ -f "$state" ] || { echo "jackd-fixture: no server state in $state" >&2; exit 1; }
    JACK_DEFAULT_SERVER=$(sed -n 1p "$state")
    export JACK_DEFAULT_SERVER
    exec "$@"
    ;;
*)
    usage
    ;;
esac
