#!/bin/sh
# Configures the project against a stand-in for a newer VST 3 SDK: Debian's tree plus the string
# conversion file newer SDKs have. The build must compile that file, and only there.
#   newer-sdk-check.sh CMAKE SOURCE_DIR SDK_DIR
set -eu
cmake=$1 source=$2 sdk=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "newer-sdk-check: $*" >&2; exit 1; }

configure() {
    "$cmake" -S "$source" -B "$1" -DCORVEX_VST3_SDK_DIR="$2" -DCORVEX_BUILD_TESTS=OFF \
        -DCORVEX_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Release >"$1.log" 2>&1 || { cat "$1.log" >&2; fail "configure failed"; }
}

# Configured against a newer SDK already: that SDK itself is the case to check.
if [ -e "$sdk/public.sdk/source/vst/utility/stringconvert.cpp" ]; then
    configure "$work/newer" "$sdk"
    grep -q "public.sdk/source/vst/utility/stringconvert.cpp" "$work/newer/compile_commands.json" ||
        fail "the SDK's stringconvert.cpp is not compiled"
    echo "newer-sdk-check: ok"
    exit 0
fi

# The stand-in: every entry of the SDK linked, down to public.sdk/source/vst, plus utility/.
mirror() { # mirror FROM TO: links FROM's entries into TO
    mkdir -p "$2"
    for entry in "$1"/*; do ln -s "$entry" "$2/$(basename "$entry")"; done
}
mirror "$sdk" "$work/sdk"
rm "$work/sdk/public.sdk" && mirror "$sdk/public.sdk" "$work/sdk/public.sdk"
rm "$work/sdk/public.sdk/source" && mirror "$sdk/public.sdk/source" "$work/sdk/public.sdk/source"
rm "$work/sdk/public.sdk/source/vst" && mirror "$sdk/public.sdk/source/vst" "$work/sdk/public.sdk/source/vst"
mkdir -p "$work/sdk/public.sdk/source/vst/utility"
echo "namespace Steinberg::Vst::StringConvert { int Probe() { return 1; } }" \
    >"$work/sdk/public.sdk/source/vst/utility/stringconvert.cpp"

configure "$work/newer" "$work/sdk"
grep -q "public.sdk/source/vst/utility/stringconvert.cpp" "$work/newer/compile_commands.json" ||
    fail "a newer SDK's stringconvert.cpp is not compiled"
configure "$work/debian" "$sdk"
grep -q "stringconvert.cpp" "$work/debian/compile_commands.json" && fail "Debian's tree has no stringconvert.cpp"
echo "newer-sdk-check: ok"
