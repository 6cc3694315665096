#!/usr/bin/env bash
# Runs the end-to-end fault suite (tests/e2e/fault_suite_test.cpp) over many seeds: each seed
# picks the frame at which the virtual navigator vanishes or refuses, and the noise it adds.
#   scripts/run-fault-suite.sh [SEEDS] [BUILD_DIR]   (default 12 seeds: 1..12, build-faults)
# Set CADDORA_FAULT_SLOW=1 to include the late-reply cases near the time-outs (about a minute).
# Seeds run three at a time (one simulator each); a failure names its seed, and
# CADDORA_FAULT_SEED=<seed> build-faults/tests/test_e2e --gtest_filter='FaultSuite.*' repeats it.
set -euo pipefail
cd "$(dirname "$0")/.."
seeds=${1:-12}
dir=${2:-build-faults}

cmake -S . -B "$dir" -G Ninja -DCADDORA_WERROR=ON -DCADDORA_GUI=OFF -DCADDORA_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j "$(nproc)" --target test_e2e caddora-cli caddora-sim

filter='FaultSuite.*'
[ "${CADDORA_FAULT_SLOW:-0}" = 1 ] || filter='FaultSuite.*-*_Slow'
export CADDORA_BIN_DIR="$PWD/$dir/bin"
status=0
for ((first = 1; first <= seeds; first += 3)); do
    group=$first
    for ((s = first + 1; s < first + 3 && s <= seeds; ++s)); do group+=",$s"; done
    echo "=== seeds $group"
    if ! CADDORA_FAULT_SEED=$group "$dir/tests/test_e2e" --gtest_filter="$filter" \
            --gtest_brief=1 >"$dir/fault-suite-$first.log" 2>&1; then
        grep -E 'CADDORA_FAULT_SEED|Failure|FAILED' "$dir/fault-suite-$first.log" | head -40
        status=1
    fi
done
[ $status = 0 ] && echo "fault suite passed for $seeds seeds"
exit $status
