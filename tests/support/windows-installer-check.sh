#!/bin/sh
# Under Wine: the .zip holds the bundle as built; the installer carries its version resource; a
# silent install (/S) puts the bundle into the VST 3 folder and the presets into the all-users
# preset folder, registers an uninstall entry with its icon, size and location, and the installed
# module loads as hosts load it; the silent uninstall removes all of it.
#   windows-installer-check.sh CMAKE WINE INSTALLER ZIP BUNDLE PRESETS_ROOT PLUGIN_TESTS
set -eu
cmake=$1 wine=$2 installer=$3 zip=$4 bundle=$5 presets_root=$6 plugin_tests=$7
prefix=${WINEPREFIX:-$HOME/.wine}
vst3="$prefix/drive_c/Program Files/Common Files/VST3"
presets="$prefix/drive_c/ProgramData/VST3 Presets"
uninstaller="$prefix/drive_c/Program Files/Corvex/Uninstall.exe"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "windows-installer-check: $*" >&2; exit 1; }
# The installer and the uninstaller's copy of itself run on after wine returns: wait for the server.
run() { "$wine" "$@"; wineserver -w; }

(cd "$work" && "$cmake" -E tar xf "$zip")
diff -r "$bundle" "$work/Corvex.vst3" || fail "the .zip does not hold the bundle as built"

vendor=$(ls "$presets_root")
run "$installer" /S
diff -r "$bundle" "$vst3/Corvex.vst3" || fail "the installed bundle differs from the built one"
diff -r "$presets_root/$vendor" "$presets/$vendor" || fail "the installed presets differ from the built ones"
[ -f "$uninstaller" ] || fail "no uninstaller at $uninstaller"
CORVEX_TEST_BUNDLE='C:\Program Files\Common Files\VST3\Corvex.vst3' \
    CORVEX_TEST_INSTALLER="Z:$(echo "$installer" | tr / '\\')" "$wine" "$plugin_tests" --gtest_filter='Module.*' \
    --gtest_brief=1 || fail "the installed module fails the module tests"
entry=$("$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvex' | tr -d '\r')
for value in DisplayName DisplayVersion DisplayIcon EstimatedSize InstallLocation UninstallString; do
    echo "$entry" | grep -q "^ *$value " || fail "the uninstall entry has no $value: $entry"
done
echo "$entry" | grep -q '^ *InstallLocation *REG_SZ *C:\\Program Files\\Corvex$' ||
    fail "the uninstall entry's InstallLocation is not C:\\Program Files\\Corvex: $entry"
# The bundle alone is over 1 MB: the size counts it.
size=$(echo "$entry" | sed -n 's/^ *EstimatedSize *REG_DWORD *//p')
[ $((size)) -gt 1024 ] || fail "the uninstall entry's EstimatedSize is $size KB"

run "$uninstaller" /S
for left in "$vst3/Corvex.vst3" "$presets/$vendor" "$uninstaller"; do
    [ ! -e "$left" ] || fail "the uninstaller left $left"
done
echo "windows-installer-check: ok"
