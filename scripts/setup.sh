#!/usr/bin/env bash
# Installs every Debian package Corvex needs to build, test and run.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  juce-modules-source-data   # the VST 3 SDK (interfaces, base, public SDK classes)
  libsndfile1-dev libcli11-dev
  libcairo2-dev libpng-dev fonts-dejavu-core
  libx11-dev libxtst-dev xvfb xauth
  lv2-dev liblilv-dev lilv-utils jalv sordi x11-utils   # the LV2 plug-in and its tests
  jackd2 libjack-jackd2-dev libasound2-dev   # corvex's audio backends; jackd for the tests
  g++-mingw-w64-x86-64 wine wine64 libstb-dev   # the Windows cross build and its tests under Wine
  libgtk-3-dev               # GtkSocket, the XEmbed embedder the editor tests embed into
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${packages[@]}"
