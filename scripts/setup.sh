#!/usr/bin/env bash
# Installs the Debian packages Corvex needs to build and run; with --tests, also those its tests,
# the Windows cross build and the packages need.
#   scripts/setup.sh [--tests]
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  juce-modules-source-data   # the VST 3 SDK (interfaces, base, public SDK classes)
  libsndfile1-dev libcli11-dev   # corvex-render's audio files and IR files; every program's options
  libsamplerate0-dev         # IRs resampled to the session's rate
  libpng-dev libx11-dev      # the editor's artwork and its X11 window
  libdbus-1-dev              # the editor's file chooser (the desktop portal over D-Bus)
  lv2-dev                    # the LV2 plug-in
  libjack-jackd2-dev libasound2-dev   # corvex's audio backends
)
test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev
  libcairo2-dev fonts-dejavu-core   # the artwork generator
  libxtst-dev xvfb xauth x11-utils libgtk-3-dev   # the editor tests (GtkSocket embeds with XEmbed)
  dbus-daemon                # the editor tests' session bus for the file chooser's portal
  liblilv-dev lilv-utils jalv sordi   # the LV2 tests
  jackd2                     # the JACK server the live tests start
  g++-mingw-w64-x86-64 wine wine64 libstb-dev   # the Windows cross build and its tests under Wine
  help2man lintian nsis      # the Debian package's manual pages and check, the Windows installer
  valgrind                   # scripts/count-instructions.sh counts instructions with callgrind
  libsoxr-dev                # the IR benchmark weighs libsoxr against libsamplerate
  clang libfuzzer-14-dev     # the fuzz targets (libFuzzer)
  g++-aarch64-linux-gnu qemu-user   # the aarch64 cross build and its tests under qemu-aarch64
  # The aarch64 build's libraries, through multiarch. That build is headless (no editor, no
  # corvex): their arm64 libraries (libpng, D-Bus, X11) would pin, and so upgrade, the build machine's.
  libsndfile1-dev:arm64 libsamplerate0-dev:arm64 liblilv-dev:arm64
)

case "${1-}" in
  "") ;;
  --tests) packages+=("${test_packages[@]}") ;;
  *) echo "usage: $0 [--tests]" >&2; exit 2 ;;
esac

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

export DEBIAN_FRONTEND=noninteractive
if [ "${1-}" = --tests ] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  $SUDO dpkg --add-architecture arm64
fi
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${packages[@]}"
# The Windows cross build compiles libsamplerate from Debian's source (no MinGW build is packaged).
if [ "${1-}" = --tests ]; then
  "$(dirname "$0")/fetch-libsamplerate.sh" "$(cd "$(dirname "$0")/.." && pwd)/build/sources/libsamplerate"
fi
