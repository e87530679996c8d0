#!/bin/sh
# Fuzzes one target for CORVEX_FUZZ_SECONDS (default 30) from its seeds, its regression inputs and
# the corpus earlier runs of this build grew, with its dictionary if it has one. Prints libFuzzer's
# final statistics and a summary line; fails, keeping the input in FINDINGS, on a finding.
#
#   run-fuzzer.sh FUZZER NAME SOURCE_DIR BINARY_DIR
set -u
[ $# -eq 4 ] || { echo "usage: $0 FUZZER NAME SOURCE_DIR BINARY_DIR" >&2; exit 2; }
fuzzer=$1
name=$2
source=$3
binary=$4
seconds=${CORVEX_FUZZ_SECONDS:-30}
corpus="$binary/corpus/$name"
findings="$binary/findings/$name"
mkdir -p "$corpus" "$findings"
dict=""
[ -f "$source/$name.dict" ] && dict="-dict=$source/$name.dict"
regressions=""
[ -d "$source/regressions/$name" ] && regressions="$source/regressions/$name"
log="$binary/$name.log"
# The readers that take a path read a scratch file; in memory it costs the least.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi

# New inputs go into the first folder (this build's corpus); the others are read only.
# shellcheck disable=SC2086
"$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/" \
    -timeout=10 -rss_limit_mb=2048 $dict "$corpus" "$source/corpus/$name" $regressions >"$log" 2>&1
status=$?
tail -n 40 "$log"
execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
edges=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
features=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
found=$(find "$findings" -type f | wc -l)
echo "fuzz $name: ${seconds} s, ${execs:-?} runs, ${speed:-?} runs/s, ${edges:-?} edges, ${features:-?} features, $found findings"
if [ $status -ne 0 ] || [ "$found" -ne 0 ]; then
    echo "fuzz $name: finding kept in $findings (add it to fuzz/regressions/$name once fixed)" >&2
    exit 1
fi
