#!/bin/sh
# Configures the project against a stand-in for a newer VST 3 SDK: Debian's tree plus the two
# string conversion files newer SDKs have (the second holding what the first calls). The build
# must compile both, and only there.
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

newer_files="public.sdk/source/vst/utility/stringconvert.cpp public.sdk/source/common/commonstringconvert.cpp"
compiles_newer_files() { # compiles_newer_files BUILD_DIR
    for file in $newer_files; do
        grep -q "$file" "$1/compile_commands.json" || fail "a newer SDK's $file is not compiled"
    done
}

# Configured against a newer SDK already: that SDK itself is the case to check.
if [ -e "$sdk/public.sdk/source/common/commonstringconvert.cpp" ]; then
    configure "$work/newer" "$sdk"
    compiles_newer_files "$work/newer"
    echo "newer-sdk-check: ok"
    exit 0
fi

# The stand-in: every entry of the SDK linked, down to public.sdk/source/vst and
# public.sdk/source/common, plus the two files.
mirror() { # mirror FROM TO: links FROM's entries into TO
    mkdir -p "$2"
    for entry in "$1"/*; do ln -s "$entry" "$2/$(basename "$entry")"; done
}
mirror "$sdk" "$work/sdk"
rm "$work/sdk/public.sdk" && mirror "$sdk/public.sdk" "$work/sdk/public.sdk"
rm "$work/sdk/public.sdk/source" && mirror "$sdk/public.sdk/source" "$work/sdk/public.sdk/source"
rm "$work/sdk/public.sdk/source/vst" && mirror "$sdk/public.sdk/source/vst" "$work/sdk/public.sdk/source/vst"
rm "$work/sdk/public.sdk/source/common" && mirror "$sdk/public.sdk/source/common" "$work/sdk/public.sdk/source/common"
mkdir -p "$work/sdk/public.sdk/source/vst/utility"
echo "namespace Steinberg::StringConvert { int Convert(); }
namespace Steinberg::Vst::StringConvert { int Probe() { return Steinberg::StringConvert::Convert(); } }" \
    >"$work/sdk/public.sdk/source/vst/utility/stringconvert.cpp"
echo "namespace Steinberg::StringConvert { int Convert() { return 1; } }" \
    >"$work/sdk/public.sdk/source/common/commonstringconvert.cpp"

configure "$work/newer" "$work/sdk"
compiles_newer_files "$work/newer"
configure "$work/debian" "$sdk"
grep -q "stringconvert.cpp" "$work/debian/compile_commands.json" && fail "Debian's tree has no string conversion files"
echo "newer-sdk-check: ok"
