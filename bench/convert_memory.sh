#!/usr/bin/env bash
# Peak memory of `caddora-cli convert` (not a test): point CSV files just under convert's 64 MiB
# limit, converted to GPX and KML, with the maximum resident set size /usr/bin/time reports.
#   typical: rows as the import writes them, a few rounds of 18 holes each
#   distinct: every row a round of its own (a name of its own), the most rounds a file can hold
#   short:    the shortest rows (empty names), the most points a file can hold, one round
# The files are generated here and removed afterwards.
#
# Usage: bench/convert_memory.sh [BIN_DIR]   (default: $CADDORA_BIN_DIR, else build/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-${CADDORA_BIN_DIR:-build/bin}}
[ -x "$bin/caddora-cli" ] || { echo "missing $bin/caddora-cli (build it first)" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/caddora-convert-XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import sys
limit = 64 * 1024 * 1024 - 4096
header = ('\ufeff"GCID","Golf Course name","CID","Course name","Hole No","Date","time",'
          '"Shot (s) or Putt (p)","Additional No","Longitude","Latitude"\r\n')
def row(i, golf, course, hole):
    day = 1 + i % 28
    return ('"%d","%s","1","%s","%d","2015/04/%02d","09:%02d:%02d UTC+10:00","%s","0",'
            '%.6f,%.6f\r\n' % (i % 100000, golf, course, hole, day, i % 60, (i * 7) % 60,
                               "sp"[i % 2], 139 + (i % 1000) / 1e4, 35 + (i % 777) / 1e4))
kinds = {
    "typical": lambda i: row(i, "富士見ヶ丘カントリー倶楽部 %d" % (i // 5000),
                             "東コース", 1 + i % 18),
    "distinct": lambda i: row(i, "Golf course number %09d" % i, "East", 1),
    "short": lambda i: row(i, "", "", 1),
}
for name, make in kinds.items():
    with open("%s/%s.csv" % (sys.argv[1], name), "w", encoding="utf-8", newline="") as f:
        size = len(header.encode())
        f.write(header)
        i = 0
        while True:
            r = make(i)
            size += len(r.encode())
            if size > limit:
                break
            f.write(r)
            i += 1
PY

printf '%-9s %-4s %10s %12s %9s\n' file to rows "peak RSS MB" "wall s"
for kind in typical distinct short; do
    csv="$work/$kind.csv"
    rows=$(($(wc -l < "$csv") - 1))
    for to in gpx kml; do
        /usr/bin/time -f '%M %e' -o "$work/time" "$bin/caddora-cli" convert "$csv" --to "$to" \
            --out "$work/out.$to" > /dev/null
        read -r kb wall < "$work/time"
        mb=$(echo "$kb / 1024" | bc -l)
        printf '%-9s %-4s %10d %12.1f %9s\n' "$kind" "$to" "$rows" "$mb" "$wall"
        rm -f "$work/out.$to"
    done
done
