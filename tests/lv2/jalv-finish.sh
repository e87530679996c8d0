# Sourced by the jalv scripts: waits for the jalv started as $jalv_pid, shows its output ($out),
# and fails when it exited with an error or its output matches PATTERN.
#
#   jalv_finish SCRIPT PROGRAM PATTERN
jalv_finish() {
    wait "$jalv_pid"
    status=$?
    cat "$out"
    if [ $status -ne 0 ]; then
        echo "$1: $2 exited with status $status" >&2
        exit 1
    fi
    if grep -qi "$3" "$out"; then
        echo "$1: $2 reported a problem" >&2
        exit 1
    fi
}
