#!/usr/bin/env bash
# What the session log costs (not a test): a 4,096-record point import from caddora-sim through
# a pty, with and without --log, alternating, RUNS times each; prints the fastest wall time of
# each (the least disturbed by other load on the machine), the median CPU time caddora-cli used,
# the overhead in per cent of both (the budget is 5 %), and the log's size.
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

# "wall cpu" seconds (wall to the microsecond, CPU as time(1) gives it) of one import; extra arguments are added.
import_once() {
    local start=$EPOCHREALTIME
    /usr/bin/time -f '%e %U %S' -o "$work/time" "$bin/caddora-cli" import-points --no-logbook \
        --out "$work/points.csv" --device-dir "$work/dev" "$@" >"$work/cli.out" \
        2>"$work/cli.err" || {
        echo "caddora-cli failed: $(cat "$work/cli.err")" >&2
        exit 1
    }
    local end=$EPOCHREALTIME
    awk -v s="$start" -v e="$end" '{ printf "%.4f %.2f\n", e - s, $2 + $3 }' "$work/time"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
fastest() { sort -n | head -1; }

: >"$work/plain"
: >"$work/logged"
import_once >/dev/null  # warm-up
for _ in $(seq 1 "$runs"); do
    import_once >>"$work/plain"
    import_once --log "$work/session.log" >>"$work/logged"
done
plain=$(cut -d' ' -f1 <"$work/plain" | fastest)
logged=$(cut -d' ' -f1 <"$work/logged" | fastest)
plainCpu=$(cut -d' ' -f2 <"$work/plain" | median)
loggedCpu=$(cut -d' ' -f2 <"$work/logged" | median)
rows=$(wc -l <"$work/points.csv")
awk -v p="$plain" -v l="$logged" -v pc="$plainCpu" -v lc="$loggedCpu" -v r="$rows" \
    -v s="$(stat -c %s "$work/session.log")" -v n="$(wc -l <"$work/session.log")" 'BEGIN {
    printf "import of %d rows, %d runs each\n", r - 1, '"$runs"'
    printf "wall (fastest): %.3f s without --log, %.3f s with it: %+.1f %% (budget 5 %%)\n", p, l, (l - p) / p * 100
    printf "cpu (median): %.2f s without --log, %.2f s with it\n", pc, lc
    printf "the log: %d lines, %.1f KiB\n", n, s / 1024
}'
