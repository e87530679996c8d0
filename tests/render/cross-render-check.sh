#!/bin/sh
# A cross build's corvex-render, with its own module, renders the same bits as the build machine's
# with its own: defaults, a user IR, a preset, small blocks.
#   cross-render-check.sh <work dir> <native corvex-render> <emulator...> <cross corvex-render>
# The input is the built-in guitar phrase; the user IR is a stretch of it read as 16-bit samples
# at 44.1 kHz, so it is resampled on the way in.
set -eu
work=$1 native=$2
shift 2
rm -rf "$work" && mkdir -p "$work" && cd "$work"
"$native" --demo-dry in.wav -q
{
  printf 'RIFF\044\020\000\000WAVEfmt \020\000\000\000\001\000\001\000\104\254\000\000\210\130\001\000\002\000\020\000'
  printf 'data\000\020\000\000'
  dd if=in.wav bs=4096 skip=20 count=1 2>/dev/null
} > ir.wav
[ "$(wc -c < ir.wav)" -eq 4140 ] || { echo "cannot cut the IR from the phrase"; exit 1; }

failed=0
for case in defaults user-ir preset small-blocks; do
  case $case in
    defaults) options="" ;;
    user-ir) options="--ir ir.wav" ;;
    preset) options="--preset high-gain-lead" ;;
    small-blocks) options="--ir ir.wav --block 37 --tail 1" ;;
  esac
  argv=$(printf '%s\n' $options)
  IFS='
'
  "$native" in.wav "native-$case.wav" --format wav32f -q $argv
  if ! "$@" in.wav "cross-$case.wav" --format wav32f -q $argv; then
    echo "$case: the cross build's corvex-render failed"; failed=1
  elif cmp -s "native-$case.wav" "cross-$case.wav"; then
    echo "$case: the same bits ($(wc -c < "cross-$case.wav") bytes)"
  else
    echo "$case: DIFFERENT, $(cmp "native-$case.wav" "cross-$case.wav" | head -1)"; failed=1
  fi
  unset IFS
done
exit $failed
