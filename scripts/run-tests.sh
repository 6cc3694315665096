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
start=$SECONDS
# Seconds per stage, printed at the end.
timings=()
stage_done() { timings+=("$1: $((SECONDS - stage_start)) s"); }

# shellcheck source=scripts/ccache-env.sh
source scripts/ccache-env.sh

# Each build is a preset of CMakePresets.json (dev, asan, tsan, release); the test preset of
# the same name sets the sanitizer options and the filters.
build_preset() {
    local preset=$1
    echo "=== $preset: configure and build"
    stage_start=$SECONDS
    cmake --preset "$preset" "${ccache_launcher[@]}" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    stage_done "$preset build"
}
build_and_test() {
    local preset=$1
    build_preset "$preset"
    echo "=== $preset: test"
    stage_start=$SECONDS
    ctest --preset "$preset" -j "$jobs"
    stage_done "$preset test"
}

build_and_test dev
echo "=== Debian package"
stage_start=$SECONDS
bash scripts/check-package.sh build
stage_done "package check"

# The Windows programs, cross-built and tested under Wine (the end-to-end runs use build/bin).
if [ "${CADDORA_WINDOWS:-1}" != 0 ]; then
    stage_start=$SECONDS
    bash scripts/test-windows.sh
    stage_done "Windows build and tests"
fi

if [ "${CADDORA_QUICK:-0}" != 1 ]; then
    # Built only: the optimised configuration of the README (and its benchmarks) must build
    # without a warning too; GCC warns differently at -O3.
    build_preset release
    build_and_test asan
    build_and_test tsan
    echo "=== short fuzz runs"
    stage_start=$SECONDS
    bash scripts/run-fuzz.sh "${CADDORA_FUZZ_SECONDS:-20}"
    stage_done "fuzz"
fi

echo "=== time per stage"
printf '%s\n' "${timings[@]}" "total: $((SECONDS - start)) s"
if [ ${#ccache_launcher[@]} -gt 0 ]; then ccache --show-stats | grep -iE 'hits|misses' || true; fi
