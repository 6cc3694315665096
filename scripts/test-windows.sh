#!/usr/bin/env bash
# The Windows build and its tests under Wine: cross-builds the programs and the tests with the
# 'windows' preset, runs the unit tests through ctest (Wine is the cross-compiling emulator),
# then the end-to-end runs against the Linux virtual navigator in build/bin.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
start=$SECONDS

# shellcheck source=scripts/ccache-env.sh
source scripts/ccache-env.sh
bash scripts/build-mingw-deps.sh
echo "=== build-windows: configure and build"
cmake --preset windows "${ccache_launcher[@]}" >/dev/null
cmake --build build-windows -j "$jobs"

# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
wine_up
trap wine_down EXIT
echo "=== build-windows: test under Wine"
(cd build-windows && ctest --output-on-failure -j "$jobs")
echo "=== Windows end-to-end against caddora-sim"
bash scripts/test-windows-e2e.sh
echo "=== Windows window under Xvfb"
bash scripts/test-windows-window.sh
echo "=== Windows installer under Wine"
bash scripts/test-windows-installer.sh
echo "=== Windows stage: $((SECONDS - start)) s"
