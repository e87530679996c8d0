#!/bin/sh
# Unpacks the Debian package into a temporary root and uses Corvex from there: the VST 3 loads as
# hosts load it and its presets lie where hosts look, lv2ls finds the LV2 plug-in, corvex-render
# renders the demo through the installed module bit for bit as the build does, and lintian
# reports no error.
#   package-check.sh DEB PLUGIN_TESTS LV2LS BUILT_RENDER BUILT_BUNDLE
set -eu
deb=$1 plugin_tests=$2 lv2ls=$3 built_render=$4 built_bundle=$5
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "package-check: $*" >&2; exit 1; }

[ -f "$deb" ] || fail "no package at $deb: build it with cmake --workflow --preset package"
dpkg-deb -x "$deb" "$root"
dpkg-deb -f "$deb" Depends | grep -q "libjack" || fail "the dependencies do not name libjack: $(dpkg-deb -f "$deb" Depends)"
for file in bin/corvex bin/corvex-render share/man/man1/corvex.1.gz share/man/man1/corvex-render.1.gz \
    share/applications/corvex.desktop share/icons/hicolor/scalable/apps/corvex.svg share/doc/corvex/copyright; do
    [ -f "$root/usr/$file" ] || fail "/usr/$file is missing"
done

CORVEX_TEST_BUNDLE="$root/usr/lib/vst3/Corvex.vst3" CORVEX_TEST_PRESETS_ROOT="$root/usr/share/vst3/presets" \
    "$plugin_tests" --gtest_filter='Module.*:PresetFolder.*' --gtest_brief=1 || fail "the installed VST 3 fails the module tests"

LV2_PATH="$root/usr/lib/lv2" "$lv2ls" | grep -qx "https://corvex.example.org/lv2/corvex" ||
    fail "lv2ls does not find the installed LV2 plug-in"

"$root/usr/bin/corvex-render" --module "$root/usr/lib/vst3/Corvex.vst3" --demo "$root/installed.wav" -q
"$built_render" --module "$built_bundle" --demo "$root/built.wav" -q
cmp "$root/installed.wav" "$root/built.wav" || fail "the installed corvex-render renders other bits than the build"

lintian --fail-on error "$deb"
echo "package-check: ok"
