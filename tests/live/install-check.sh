#!/bin/sh
# The user installation of corvex: into a scratch home, with and without the folder on PATH; the
# installed programs load the installed plug-in, the build's ones the build's.
#   install-check.sh CMAKE CORVEX RENDER SOURCE_DIR BUNDLE
set -eu
cmake=$1 corvex=$2 render=$3 source=$4 bundle=$5
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
install() {
    "$cmake" -DCORVEX="$corvex" -DRENDER="$render" -DBIN_DIR="$home/.local/bin" \
        -DDESKTOP_DIR="$home/.local/share/applications" \
        -DDESKTOP_TEMPLATE="$source/apps/corvex/corvex.desktop.in" -DICON="$source/apps/corvex/corvex.svg" \
        -DICON_DIR="$home/.local/share/icons/hicolor" -P "$source/apps/corvex/InstallApps.cmake"
}
fail() { echo "install-check: $*" >&2; exit 1; }

out=$(PATH=/usr/bin:/bin install)
echo "$out" | grep -q "$home/.local/bin is not on your PATH" || fail "no PATH note in: $out"
for program in corvex corvex-render; do
    [ -x "$home/.local/bin/$program" ] || fail "$program not installed"

    cmp -s "$home/.local/bin/$program" "$( [ $program = corvex ] && echo "$corvex" || echo "$render")" || fail "$program differs"
done
"$home/.local/bin/corvex" --help | grep -q -- "--alsa" || fail "the installed corvex does not run"
entry="$home/.local/share/applications/corvex.desktop"
grep -qx "Name=Corvex" "$entry" || fail "no Name in the desktop entry"
grep -qx "Exec=$home/.local/bin/corvex" "$entry" || fail "the desktop entry does not run the installed corvex"
grep -qx "Icon=corvex" "$entry" && [ -f "$home/.local/share/icons/hicolor/scalable/apps/corvex.svg" ] ||
    fail "the desktop entry's icon is not installed"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$entry"; fi

out=$(PATH="$home/.local/bin:/usr/bin:/bin" install)
echo "$out" | grep -q "not on your PATH" && fail "PATH note although the folder is on PATH"

# The module each loads: the first "module:" line of a verbose demo render.
module() { HOME=$home "$1" -v --demo "$home/demo.wav" | sed -n 's/^module: //p'; }
built=$(module "$render")
case $built in "$bundle"/*) ;; *) fail "the build's corvex-render loads $built, not the build's module" ;; esac
[ "$(module "$home/.local/bin/corvex-render")" = "$built" ] ||
    fail "without an installed module the installed corvex-render does not fall back to the build's"
mkdir -p "$home/.vst3" && cp -R "$bundle" "$home/.vst3/Corvex.vst3"
case $(module "$home/.local/bin/corvex-render") in "$home/.vst3/Corvex.vst3"/*) ;;
    *) fail "the installed corvex-render does not load the installed module" ;; esac
case $(module "$render") in "$bundle"/*) ;; *) fail "the build's corvex-render leaves the build's module" ;; esac
echo "install-check: ok"
