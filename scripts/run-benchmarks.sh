#!/usr/bin/env bash
# Builds Release with the benchmarks and runs every bench/bench_* program, then the end-to-end
# throughput runs (bench/e2e_throughput.sh). Prints the machine context first, since every
# figure depends on it.
#   scripts/run-benchmarks.sh [BUILD_DIR]   (default build-bench)
# Targets: import <= 2 s, 15 MiB course write <= 4 s, cpu <= 5 % of wall with 5 ms acks,
# parsefur noise >= 1 GB/s, valid frames >= 500 MB/s, FIFOStream single thread >= 2 GB/s.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-bench}

echo "=== machine"
echo "date:      $(date -Is)"
echo "revision:  $(git rev-parse --short HEAD 2>/dev/null || echo unknown)$(git diff --quiet 2>/dev/null || echo ' (modified)')"
echo "nproc:     $(nproc)"
echo "cpu:       $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo "load:      $(cut -d' ' -f1-3 /proc/loadavg)"

echo "=== build ($dir, Release)"
# Without warnings as errors: in Release, GCC flags the allocation counter of the packing
# benchmark (malloc/free behind operator new/delete) as a mismatch.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCADDORA_BENCH=ON -DCADDORA_TESTS=OFF \
    -DCADDORA_GUI=OFF -DCADDORA_WERROR=OFF >/dev/null
benches=()
for f in bench/bench_*.cpp; do benches+=("$(basename "$f" .cpp)"); done
cmake --build "$dir" -j "$(nproc)" --target "${benches[@]}" caddora-cli caddora-sim

for b in "${benches[@]}"; do
    echo "=== $b"
    "$dir/bin/$b" --benchmark_min_time=0.2
done

echo "=== end to end"
bash bench/e2e_throughput.sh "$dir/bin"
