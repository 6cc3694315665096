#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: a normal build with warnings as
# errors (also packaged and the package checked), the Windows build and its tests under Wine
# (CADDORA_WINDOWS=0 skips it), then the same tests under AddressSanitizer +
# UndefinedBehaviorSanitizer, then the threaded tests under ThreadSanitizer, and a short run of
# every fuzz target.
# Set CADDORA_QUICK=1 to run the normal and Windows builds only.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)

# Each build is a preset of CMakePresets.json (dev, asan, tsan); the test preset of the same
# name sets the sanitizer options and the label filter.
build_and_test() {
    local preset=$1
    echo "=== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    echo "=== $preset: test"
    ctest --preset "$preset" -j "$jobs"
}

build_and_test dev
echo "=== Debian package"
bash scripts/check-package.sh build

# The Windows programs, cross-built and tested under Wine (the end-to-end runs use build/bin).
if [ "${CADDORA_WINDOWS:-1}" != 0 ]; then
    bash scripts/test-windows.sh
fi

if [ "${CADDORA_QUICK:-0}" != 1 ]; then
    build_and_test asan
    build_and_test tsan
    echo "=== short fuzz runs"
    bash scripts/run-fuzz.sh "${CADDORA_FUZZ_SECONDS:-20}"
fi
