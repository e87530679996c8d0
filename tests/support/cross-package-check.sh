#!/bin/sh
# A cross build's Debian package and bundle tarball: lintian finds no error, and both hold the
# bundles built for the target (readelf names its machine).
#   cross-package-check.sh <.deb> <bundles .tar.gz> <readelf> <machine, as readelf -h names it>
set -eu
deb=$1 tarball=$2 readelf=$3 machine=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
lintian --fail-on error "$deb"
dpkg-deb -x "$deb" "$work/deb"
mkdir "$work/tar"
tar -xzf "$tarball" -C "$work/tar"
for binary in "$work/deb/usr/lib/lv2/Corvex.lv2/corvex.so" "$work/deb/usr/lib/vst3/Corvex.vst3/Contents/"*/Corvex.so \
              "$work/deb/usr/bin/corvex-render" "$work/tar/Corvex.lv2/corvex.so" "$work/tar/Corvex.vst3/Contents/"*/Corvex.so; do
  "$readelf" -h "$binary" | grep -q "Machine: *$machine" || { echo "${binary#"$work"/}: not built for $machine"; exit 1; }
done
for ttl in manifest.ttl corvex.ttl presets.ttl; do
  cmp "$work/deb/usr/lib/lv2/Corvex.lv2/$ttl" "$work/tar/Corvex.lv2/$ttl"
done
echo "package and tarball hold the $machine bundles"
