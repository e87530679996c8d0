#!/usr/bin/env bash
# Puts Debian's source of libsamplerate (the release this system's packages come from) into DEST,
# for the Windows cross build, which compiles it with its own toolchain (no MinGW build of it is
# packaged). Uses a package list of its own: the system's apt configuration stays as it is.
#   scripts/fetch-libsamplerate.sh DEST
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DEST" >&2; exit 2; }
dest=$1
if [ -f "$dest/src/samplerate.c" ]; then
  exit 0
fi

. /etc/os-release
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/sources"
printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
  "$VERSION_CODENAME" > "$work/sources/debian-src.sources"
apt_options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/sources"
             -o "Dir::State::Lists=$work/lists")
# As root, apt would hand the download to its own user, who cannot write into the folder.
if [ "$(id -u)" -eq 0 ]; then
  apt_options+=(-o APT::Sandbox::User=root)
fi
apt-get "${apt_options[@]}" -qq update
(cd "$work" && apt-get "${apt_options[@]}" -qq source --download-only libsamplerate)

mkdir -p "$dest"
tar -xf "$work"/libsamplerate_*.orig.tar.* -C "$dest" --strip-components=1
echo "libsamplerate's source is in $dest"
