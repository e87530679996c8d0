#!/bin/sh
# A soak of corvex: ten minutes (or SECONDS) on a JACK dummy server with its window on a virtual
# X server, edited through the window (XTest) all along, then SIGTERM. Prints the xruns corvex and
# the server counted, corvex's resident memory after the warm-up and at the end, and its stderr;
# fails on an xrun the server did not report, growth of 1 MB or more, or anything on stderr. CI
# runs the same test for a minute (corvex_live_soak, label soak).
#
#   scripts/soak.sh [SECONDS [BUILD_DIR]]     defaults: 600, build/release (the release preset's)
set -eu
seconds=${1:-600}
cd "$(dirname "$0")/.."
build=${2:-build/release}
CORVEX_SOAK_SECONDS=$seconds exec ctest --test-dir "$build" -R '^corvex_live_soak$' --output-on-failure -V
