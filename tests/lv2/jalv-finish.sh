# Sourced by the jalv scripts: waits for the jalv started as $jalv_pid (under timeout, limited to
# $jalv_limit seconds), shows its output ($out) whether it ended or was stopped, and fails when it
# was stopped, exited with an error or its output matches PATTERN.
#
#   jalv_finish SCRIPT PROGRAM PATTERN
jalv_finish() {
    wait "$jalv_pid"
    status=$?
    cat "$out"
    # timeout's statuses: 124 when its TERM ended the program, 137 when its KILL had to.
    if [ $status -eq 124 ] || [ $status -eq 137 ]; then
        echo "$1: $2 had not exited after $jalv_limit s and was stopped (status $status)" >&2
        exit 1
    fi
    if [ $status -ne 0 ]; then
        echo "$1: $2 exited with status $status" >&2
        exit 1
    fi
    if grep -qi "$3" "$out"; then
        echo "$1: $2 reported a problem" >&2
        exit 1
    fi
}
