#!/bin/sh
# A cross build's corvex-render, with its own module, renders the same bits as the build machine's
# with its own: defaults, a preset, small blocks, a user IR (the phrase itself: stereo, long enough
# for every partition of the convolution, and its loader's thread). The input is the built-in
# guitar phrase.
#   cross-render-check.sh <work dir> <native corvex-render> <emulator...> <cross corvex-render>
set -eu
work=$1 native=$2
shift 2
rm -rf "$work" && mkdir -p "$work" && cd "$work"
"$native" --demo-dry in.wav -q

failed=0
for case in defaults preset small-blocks user-ir; do
  case $case in
    defaults) options="" ;;
    preset) options="--preset crunch" ;;
    small-blocks) options="--block 37 --tail 1" ;;
    user-ir) options="--ir in.wav" ;;
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
