#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (libraries instrumented for coverage, AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs each one for a while.
#   scripts/run-fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
# Inputs that once crashed a target are kept in fuzz/regressions/<target>/ and replayed first.
# New crashes land in build-fuzz/artifacts/<target>/; copy them into fuzz/regressions/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true

dir=build-fuzz
# shellcheck source=scripts/ccache-env.sh
source scripts/ccache-env.sh
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja "${ccache_launcher[@]}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCADDORA_FUZZ=ON -DCADDORA_TESTS=OFF -DCADDORA_BENCH=OFF \
    -DCADDORA_GUI=OFF -DCADDORA_WERROR=ON "-DCADDORA_SANITIZE=address;undefined" \
    -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null

if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for f in fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# One target: its regression inputs, then fuzzing; prints what happened, fails on a crash.
fuzz_target() {
    local t=$1
    local corpus="$dir/corpus/$t"
    local artifacts="$dir/artifacts/$t"
    mkdir -p "$corpus" "$artifacts"
    local regressions=()
    if [ -d "fuzz/regressions/$t" ]; then
        while IFS= read -r -d '' f; do regressions+=("$f"); done \
            < <(find "fuzz/regressions/$t" -type f -print0)
    fi
    if [ ${#regressions[@]} -gt 0 ]; then
        echo "=== $t: replaying ${#regressions[@]} regression inputs"
        "$dir/bin/$t" "${regressions[@]}" >"$dir/$t.replay.log" 2>&1 ||
            { echo "FAILED: $t on a regression input"; tail -30 "$dir/$t.replay.log"; return 1; }
    fi
    echo "=== $t: fuzzing for ${seconds}s"
    if ! "$dir/bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -artifact_prefix="$artifacts/" -print_final_stats=1 "$corpus" >"$dir/$t.log" 2>&1; then
        echo "FAILED: $t (artifacts in $artifacts)"
        tail -40 "$dir/$t.log"
        return 1
    fi
    grep -E "^stat::number_of_executed_units|^#[0-9]+.*DONE" "$dir/$t.log" | tail -2 || true
}

# Each fuzzer runs on one core: as many at once as there are cores, each for the full time.
parallel=${CADDORA_FUZZ_JOBS:-$(nproc)}
status=0
for ((first = 0; first < ${#targets[@]}; first += parallel)); do
    batch=("${targets[@]:first:parallel}")
    pids=()
    for t in "${batch[@]}"; do
        fuzz_target "$t" >"$dir/$t.summary" 2>&1 &
        pids+=($!)
    done
    for i in "${!batch[@]}"; do
        wait "${pids[$i]}" || status=1
        cat "$dir/${batch[$i]}.summary"
    done
done
exit $status
