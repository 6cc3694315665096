#!/usr/bin/env bash
# End-to-end throughput of the jobs (not a test): caddora-cli against caddora-sim through a pty.
#   1. a full default point import (4,096 records) from a device that answers at once
#   2. a 15 MiB course write (raw) to a device that answers at once; it goes to "packed.k16" at
#      0xC1100000, the one course file whose flash area is that large (the virtual navigator's
#      course area leaves 15 MiB there)
#   3. a 1,000-frame course write to a device that acknowledges each frame 5 ms late
#   4. whole commands as the user waits for them, from the boot loader and from normal firmware:
#      the sample point import, the 4,096-record import, the 15 MiB course write, `devices`
# Each run is timed with /usr/bin/time (wall, and the CPU time caddora-cli used). The course job
# pauses 1,000 ms before writing; a baseline run of the same command with nothing to move
# measures that fixed part, and "net" is the run minus its baseline.
#
# Usage: bench/e2e_throughput.sh [BIN_DIR]   (default: $CADDORA_BIN_DIR, else build/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
# The virtual navigator takes the stand-in device images.
export CADDORA_ALLOW_STAND_IN=1
bin=${1:-${CADDORA_BIN_DIR:-build/bin}}
for p in caddora-cli caddora-sim; do
    [ -x "$bin/$p" ] || { echo "missing $bin/$p (build it first)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/caddora-bench-XXXXXX")
sim_pid=
stop_sim() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid"
        wait "$sim_pid" 2>/dev/null || true
    fi
    sim_pid=
}
trap 'stop_sim; rm -rf "$work"' EXIT INT TERM

start_sim() {
    stop_sim
    "$bin/caddora-sim" --device-dir "$work/dev" "$@" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 1 200); do
        grep -q '^ready$' "$work/sim.out" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "caddora-sim did not start: $(cat "$work/sim.err")" >&2
    exit 1
}

# Runs caddora-cli ARGS; sets wall, cpu (user + system seconds).
timed_cli() {
    /usr/bin/time -f '%e %U %S' -o "$work/time" "$bin/caddora-cli" "$@" --device-dir "$work/dev" \
        >"$work/cli.out" 2>"$work/cli.err" || {
        echo "caddora-cli $* failed: $(cat "$work/cli.err")" >&2
        exit 1
    }
    read -r wall user sys <"$work/time"
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')
}

report() {  # name, frames, wall, baseline wall, cpu, target
    local name=$1 frames=$2 w=$3 base=$4 c=$5 target=$6
    awk -v n="$name" -v f="$frames" -v w="$w" -v b="$base" -v c="$c" -v t="$target" 'BEGIN {
        net = w - b; rate = net > 0 ? f / net : 0
        printf "%-38s wall %6.2f s  net %6.2f s  %8.0f frames/s  cpu %5.2f s (%4.1f %% of wall)  target %s\n",
            n, w, net, rate, c, 100 * c / w, t }'
}

mkdir -p "$work/dev" "$work/data"

# Every run starts a fresh simulator: a job resets the navigator at its end, and the mode it
# restarts in answers the version queries differently (and more slowly).
run() {  # sim args..., --, cli args...
    local sim_args=()
    while [ "$1" != -- ]; do sim_args+=("$1"); shift; done
    shift
    start_sim "${sim_args[@]}"
    timed_cli "$@"
    stop_sim
}

echo "== point import, 4,096 records"
run --mode patch --synthetic-points 4096 -- import-points --out "$work/base.csv" --length 0
base=$wall
run --mode patch --synthetic-points 4096 -- import-points --out "$work/points.csv"
rows=$(($(wc -l <"$work/points.csv") - 1))
[ "$rows" -eq 4096 ] || { echo "expected 4096 rows, got $rows" >&2; exit 1; }
report "import 4096 records" 4096 "$wall" "$base" "$cpu" "net <= 2 s"

echo "== course write, 15 MiB"
: >"$work/data/packed.k16"
run --mode patch -- write-course "$work/data/packed.k16"
base=$wall
head -c $((15 << 20)) /dev/urandom >"$work/data/packed.k16"
run --mode patch -- write-course "$work/data/packed.k16"
report "course write 15 MiB (7680 frames)" 7680 "$wall" "$base" "$cpu" "net <= 4 s"

echo "== course write, 1,000 frames, acknowledgements 5 ms late"
: >"$work/data/packed.k16"
run --mode patch --ack-delay-ms 5 -- write-course "$work/data/packed.k16"
base=$wall
head -c $((1000 * 2048)) /dev/urandom >"$work/data/packed.k16"
run --mode patch --ack-delay-ms 5 -- write-course "$work/data/packed.k16"
report "course write 1000 frames, 5 ms acks" 1000 "$wall" "$base" "$cpu" "cpu <= 5 % of wall"


echo "== whole commands, device answering at once (wall time as the user waits)"
whole() {  # name, target, sim args..., --, cli args...
    local name=$1 target=$2
    shift 2
    run "$@"
    awk -v n="$name" -v w="$wall" -v c="$cpu" -v t="$target" \
        'BEGIN { printf "%-42s wall %6.2f s  cpu %5.2f s  target %s\n", n, w, c, t }'
}
whole "sample points from the boot loader" "wall <= 0.5 s" --mode boot -- \
    import-points --out "$work/sample-boot.csv"
rows_of() { echo $(($(wc -l <"$1") - 1)); }
[ "$(rows_of "$work/sample-boot.csv")" -gt 0 ] || { echo "no sample rows read" >&2; exit 1; }
whole "sample points from normal firmware" "wall <= 0.3 s" --mode normal -- \
    import-points --out "$work/sample-normal.csv"
[ "$(rows_of "$work/sample-normal.csv")" -gt 0 ] || { echo "no sample rows read" >&2; exit 1; }
whole "import 4096 records from the boot loader" "wall <= 0.8 s" --mode boot \
    --synthetic-points 4096 -- import-points --out "$work/points-boot.csv"
[ "$(rows_of "$work/points-boot.csv")" -eq 4096 ] || { echo "expected 4096 rows" >&2; exit 1; }
head -c $((15 << 20)) /dev/urandom >"$work/data/packed.k16"
whole "course write 15 MiB from the boot loader" "wall <= 2.2 s" --mode boot -- \
    write-course "$work/data/packed.k16"
whole "devices, normal firmware" "wall <= 0.2 s" --mode normal -- devices
