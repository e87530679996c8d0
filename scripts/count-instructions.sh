#!/usr/bin/env bash
# Instructions per stereo sample of corvex-render, counted by callgrind: the marginal cost of
# SECONDS of audio, i.e. the difference between renders of the demo phrase cut to 1 s and to
# 1 + SECONDS s, so start-up (module load, activation) cancels out. Counts stay stable on a
# busy machine where times do not.
#
#   scripts/count-instructions.sh [--render PATH] [--module PATH] [--block N] [--seconds S]
#                                 [--profile | --aarch64] [-- corvex-render options such as --set ...]
#
# --profile also lists the functions with the largest marginal cost per stereo sample.
# --aarch64 counts the aarch64 build's corvex-render (build/aarch64) under qemu-user instead, with
# a plugin of qemu's that counts the instructions executed (scripts/qemu-instructions.c).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
render=""
module=""
block=1024
seconds=2
profile=0
aarch64=0
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --render) render=$2; shift 2 ;;
    --module) module=$2; shift 2 ;;
    --block) block=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --profile) profile=1; shift ;;
    --aarch64) aarch64=1; shift ;;
    --) shift; extra=("$@"); break ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown argument: $1 (see --help)" >&2; exit 2 ;;
  esac
done

if [ -z "$render" ] && [ "$aarch64" = 1 ]; then
  render=$root/build/aarch64/apps/corvex-render/corvex-render
elif [ -z "$render" ]; then
  for candidate in "$root"/build/release/apps/corvex-render/corvex-render "$root"/build/release/tools/corvex-render/corvex-render; do
    if [ -x "$candidate" ]; then render=$candidate; break; fi
  done
fi
if [ -z "$render" ] || [ ! -x "$render" ]; then
  echo "no corvex-render found: build it (cmake --build --preset release --target corvex-render) or pass --render" >&2
  exit 1
fi
if ! [[ "$block" =~ ^[0-9]+$ ]] || [ "$block" -lt 1 ] || [ "$block" -gt 8192 ]; then
  echo "--block $block is out of range; accepted: 1 to 8192 samples" >&2
  exit 2
fi
# The demo phrase lasts about 10 s; the oscillator tables of the chorus fill during the first
# 3.3 s, which the default measurement stays inside of.
if ! [[ "$seconds" =~ ^[1-8]$ ]]; then
  echo "--seconds $seconds is out of range; accepted: 1 to 8" >&2
  exit 2
fi
if [ "$aarch64" = 1 ] && [ "$profile" = 1 ]; then
  echo "--profile needs callgrind, which counts x86-64 programs only: leave out --aarch64" >&2
  exit 2
fi
if [ "$aarch64" = 1 ]; then tools="qemu-aarch64 g++ python3"; else tools="valgrind python3"; fi
for tool in $tools; do
  command -v "$tool" > /dev/null || { echo "$tool is needed (scripts/setup.sh --tests installs it)" >&2; exit 1; }
done
[ -n "$module" ] && extra+=(--module "$module")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rate=44100
lead=1
run() { "$@"; }
if [ "$aarch64" = 1 ]; then
  g++ -x c -shared -fPIC -O2 -o "$work/libinstructions.so" "$root/scripts/qemu-instructions.c"
  run() { qemu-aarch64 -L / -plugin "$work/libinstructions.so" "$@"; }
fi

run "$render" --quiet --demo-dry "$work/phrase.wav" --format wav24 2>/dev/null
# The phrase cut to the lead alone, and to the lead plus the measured seconds.
python3 - "$work/phrase.wav" "$work" "$lead" "$((lead + seconds))" <<'PY'
import sys, wave
source, folder, *lengths = sys.argv[1:]
with wave.open(source, "rb") as w:
    params = w.getparams()
    frames = w.readframes(w.getnframes())
frame_bytes = params.sampwidth * params.nchannels
for seconds in lengths:
    with wave.open(f"{folder}/in{seconds}.wav", "wb") as out:
        out.setparams(params)
        out.writeframes(frames[: int(seconds) * params.framerate * frame_bytes])
PY

count() { # length in seconds; prints the total instruction count and leaves the profile
  if [ "$aarch64" = 1 ]; then
    run "$render" --quiet --block "$block" "${extra[@]}" "$work/in$1.wav" "$work/out$1.wav" 2>&1 >/dev/null |
      awk '/^instructions: / { print $2 }'
    return
  fi
  valgrind --tool=callgrind --callgrind-out-file="$work/cg$1.out" \
    "$render" --quiet --block "$block" "${extra[@]}" "$work/in$1.wav" "$work/out$1.wav" > /dev/null 2>&1
  awk '/^(summary|totals):/ { print $2; exit }' "$work/cg$1.out"
}

short=$(count "$lead")
long=$(count "$((lead + seconds))")
samples=$((seconds * rate))
awk -v s="$short" -v l="$long" -v n="$samples" -v b="$block" -v t="$seconds" 'BEGIN {
  printf "block %d: %.1f instructions per stereo sample (%d over %d s)\n", b, (l - s) / n, l - s, t }'

if [ "$profile" = 1 ]; then
  for length in "$lead" "$((lead + seconds))"; do
    callgrind_annotate --threshold=100 "$work/cg$length.out" 2>/dev/null |
      awk '/^ *[0-9,]+ .*:/ { n = $1; gsub(",", "", n); sub(/^ *[0-9,]+ +(\([^)]*\) +)?/, ""); print n "\t" $0 }' \
      > "$work/profile$length.txt"
  done
  awk -F'\t' -v n="$samples" 'NR == FNR { before[$2] = $1; next }
    { d = $1 - before[$2]; if (d / n >= 1) printf "%9.1f  %s\n", d / n, $2 }' \
    "$work/profile$lead.txt" "$work/profile$((lead + seconds)).txt" | sort -rn | head -40
fi
