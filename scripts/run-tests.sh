#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: a normal build with warnings as
# errors, then the same tests under AddressSanitizer + UndefinedBehaviorSanitizer, then the
# threaded tests under ThreadSanitizer, and a short run of every fuzz target.
# Set CADDORA_QUICK=1 to run the normal build only.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

build_and_test() {
    local dir=$1; shift
    local ctest_args=$1; shift
    echo "=== $dir: configure and build"
    cmake -S . -B "$dir" -G Ninja -DCADDORA_WERROR=ON -DCADDORA_BENCH=OFF "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    echo "=== $dir: test"
    # shellcheck disable=SC2086
    (cd "$dir" && ctest --output-on-failure -j "$jobs" $ctest_args)
}

build_and_test build "" -DCMAKE_BUILD_TYPE=RelWithDebInfo

if [ "${CADDORA_QUICK:-0}" != 1 ]; then
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    build_and_test build-asan "" -DCMAKE_BUILD_TYPE=Debug "-DCADDORA_SANITIZE=address;undefined"
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    build_and_test build-tsan "-L unit" -DCMAKE_BUILD_TYPE=Debug -DCADDORA_SANITIZE=thread \
        -DCADDORA_GUI=OFF "-DCADDORA_TEST_FOLDERS=transport;protocol;sim;app;transfer"
    echo "=== short fuzz runs"
    bash scripts/run-fuzz.sh "${CADDORA_FUZZ_SECONDS:-20}"
fi
