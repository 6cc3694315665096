#!/usr/bin/env bash
# What the session log costs (not a test): a 4,096-record point import from caddora-sim through
# a pty, with and without --log, alternating, RUNS times each; prints the medians of the wall
# time and the overhead in per cent (the budget is 5 %), and the log's size.
#
# Usage: bench/session_log_overhead.sh [BIN_DIR] [RUNS]   (default: $CADDORA_BIN_DIR, else
# build/bin; 7 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
export CADDORA_ALLOW_STAND_IN=1
bin=${1:-${CADDORA_BIN_DIR:-build/bin}}
runs=${2:-7}
for p in caddora-cli caddora-sim; do
    [ -x "$bin/$p" ] || { echo "missing $bin/$p (build it first)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/caddora-logbench-XXXXXX")
sim_pid=
stop_sim() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid"
        wait "$sim_pid" 2>/dev/null || true
    fi
    sim_pid=
}
trap 'stop_sim; rm -rf "$work"' EXIT INT TERM

"$bin/caddora-sim" --device-dir "$work/dev" --mode normal --synthetic-points 4096 \
    >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 1 200); do
    grep -q '^ready$' "$work/sim.out" 2>/dev/null && break
    sleep 0.05
done
grep -q '^ready$' "$work/sim.out" || { echo "caddora-sim did not start" >&2; exit 1; }

# Wall seconds of one import; extra arguments are added.
import_once() {
    local start end
    start=$(date +%s%N)
    "$bin/caddora-cli" import-points --no-logbook --out "$work/points.csv" \
        --device-dir "$work/dev" "$@" >"$work/cli.out" 2>"$work/cli.err" || {
        echo "caddora-cli failed: $(cat "$work/cli.err")" >&2
        exit 1
    }
    end=$(date +%s%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f\n", (e - s) / 1e9 }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: >"$work/plain"
: >"$work/logged"
import_once >/dev/null  # warm-up
for _ in $(seq 1 "$runs"); do
    import_once >>"$work/plain"
    import_once --log "$work/session.log" >>"$work/logged"
done
plain=$(median <"$work/plain")
logged=$(median <"$work/logged")
rows=$(wc -l <"$work/points.csv")
awk -v p="$plain" -v l="$logged" -v r="$rows" -v s="$(stat -c %s "$work/session.log")" \
    -v n="$(wc -l <"$work/session.log")" 'BEGIN {
    printf "import of %d rows, median of the runs: %.3f s without --log, %.3f s with it\n", r - 1, p, l
    printf "overhead: %+.1f %% (budget 5 %%); the log: %d lines, %.1f KiB\n", (l - p) / p * 100, n, s / 1024
}'
