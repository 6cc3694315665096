#!/usr/bin/env bash
# End-to-end runs of the Windows caddora-cli.exe under Wine against the Linux caddora-sim: the
# simulator is registered in the prefix as an interface of the navigator driver's class
# (scripts/wine-navigator.sh), so the programs find it through SetupAPI and the Windows USB
# link's overlapped code talks to its pty. Checks: a point import (CSV, GPX, KML)
# equal byte for byte to the Linux one, maps converted from a CSV file, a course write and a firmware write as the simulator stored them, and
# a YMODEM transfer. Needs build/bin (Linux) and build-windows/bin.
set -euo pipefail
# The virtual navigator takes the stand-in device images.
export CADDORA_ALLOW_STAND_IN=1
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
# shellcheck source=scripts/wine-navigator.sh
source "$root/scripts/wine-navigator.sh"
unset CADDORA_DEVICE_PATHS  # the driver's list, never a stand-in
linux_bin="${CADDORA_LINUX_BIN:-$root/build/bin}"
win_cli="${CADDORA_WINDOWS_BIN:-$root/build-windows/bin}/caddora-cli.exe"
for f in "$linux_bin/caddora-sim" "$linux_bin/caddora-cli" "$win_cli"; do
    [ -x "$f" ] || { echo "missing: $f" >&2; exit 1; }
done

wine_up
work="$(mktemp -d)"
# The Linux imports fill a logbook of this run, never the user's.
export CADDORA_LOGBOOK="$work/logbook.sqlite3"
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -f "$WINEPREFIX/dosdevices/com8"
    navigator_unregister_all || true
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
navigator_unregister_all

# start_sim NAME [sim options...]: a simulator with its own folder, plugged in as interface 0001.
start_sim() {
    local dir="$work/$1"
    shift
    mkdir -p "$dir/dev" "$dir/dump"
    "$linux_bin/caddora-sim" --device-dir "$dir/dev" --journal "$dir/journal.txt" \
        --dump-dir "$dir/dump" "$@" >"$dir/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do
        grep -q '^ready' "$dir/sim.out" 2>/dev/null && break
        sleep 0.05
    done
    navigator_register 0001 "$dir/dev/navigator0"
}

# stop_sim: ends the simulator, which writes its memory dump (one that vanished has ended).
stop_sim() {
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" || true
    sim_pid=""
}

# Runs caddora-cli.exe in the work folder (win_cli_in: in folder $1); its output goes to cli.log,
# shown when a check fails.
win_cli_in() {
    local dir=$1
    shift
    (cd "$dir" && timeout 300 wine "$win_cli" "$@" \
        </dev/null >"$work/cli.log" 2>&1)
}
win_cli() { win_cli_in "$work" "$@"; }

check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok   $what"
    else
        echo "FAIL $what"
        sed 's/^/     | /' "$work/cli.log" 2>/dev/null || true
        failures=$((failures + 1))
    fi
}

# The dump file of the region the simulator stored from address $2 (hex, as in regions.txt).
region_file() {
    local dir="$work/$1/dump" file
    file="$(awk -v a="$2" 'tolower($1) == tolower(a) { print $3 }' "$dir/regions.txt")"
    [ -n "$file" ] && echo "$dir/$file"
}

# The first $3 bytes of the stored region at $2 equal file $4.
stored_equals() {
    local region
    region="$(region_file "$1" "$2")" || return 1
    cmp -n "$3" "$region" "$4"
}

start=$SECONDS

# The driver's list: `devices` shows the interface's path and what the navigator runs.
start_sim devices
# devices_show NAME: `devices` succeeds and shows interface NAME in the boot loader.
devices_show() {
    win_cli devices && grep -qF "$(navigator_path "$1")  USB driver  boot loader" "$work/cli.log"
}
check "devices: the SetupAPI path, then what the navigator runs" devices_show 0001
# 13 interfaces: the record holds the first 12 the driver lists. The others lead nowhere.
limit_names=()
for i in $(seq -w 2 13); do limit_names+=("n$i" "$work/nowhere"); done
navigator_register "${limit_names[@]}"
listed() { tr -d '\r' <"$work/cli.log" | grep -c '^\\\\?\\usb#'; }
check "13 interfaces: exit status 0" win_cli devices
check "13 interfaces: 12 listed (was $(listed))" test "$(listed)" -eq 12
check "13 interfaces: the last one left out" \
    bash -c "! grep -qF '$(navigator_path n13)' '$work/cli.log'"
navigator_unregister_all
# Paths of 127 bytes fit the record; one of 128 is skipped whole, and named.
short="$(printf 'a%.0s' $(seq 62))"
long="${short}a"
navigator_register "$short" "$work/devices/dev/navigator0" "$long" "$work/nowhere"
check "a path of 127 bytes: listed and opened" devices_show "$short"
check "a path of 128 bytes: named as skipped beside it" grep -qF \
    "$(navigator_path "$long")  skipped: its path is longer than 127 bytes" "$work/cli.log"
navigator_unregister "$short"
status=0
win_cli devices || status=$?
check "a path of 128 bytes alone: no navigator found, and the failure names it" \
    grep -qF "$(navigator_path "$long") is skipped, its path is longer than 127" "$work/cli.log"
check "a path of 128 bytes alone: exit status not 0" test "$status" -ne 0
navigator_unregister_all
stop_sim

# Point import with its maps: the same records through both builds give the same bytes.
maps=(--format csv --format gpx --format kml)
start_sim points-linux --synthetic-points 200
"$linux_bin/caddora-cli" import-points --device-dir "$work/points-linux/dev" \
    --out "$work/linux.csv" "${maps[@]}" >/dev/null 2>&1
stop_sim
start_sim points-windows --synthetic-points 200
check "point import: exit status 0" win_cli import-points --out windows.csv "${maps[@]}"
stop_sim
for ext in csv gpx kml; do
    check "point import: $ext equal to the Linux one" cmp "$work/linux.$ext" "$work/windows.$ext"
done
# Maps of an earlier CSV, from the simulator's sample points (Japanese names, several offsets).
start_sim sample-linux
"$linux_bin/caddora-cli" import-points --device-dir "$work/sample-linux/dev" \
    --out "$work/sample.csv" "${maps[@]}" >/dev/null 2>&1
stop_sim
for ext in gpx kml; do
    check "convert --to $ext: exit status 0" \
        win_cli convert sample.csv --to "$ext" --out "converted.$ext"
    check "convert --to $ext: same bytes" cmp "$work/sample.$ext" "$work/converted.$ext"
done

# The navigator unplugged during an import (its pty closes: Wine reports errors 109 and 21): the
# import ends at once, with the Linux build's status and last words.
start_sim vanish-linux --synthetic-points 200 --vanish-after 10
linux_status=0
(cd "$work" && "$linux_bin/caddora-cli" import-points --device-dir "$work/vanish-linux/dev" \
    --out vanished.csv </dev/null >/dev/null 2>"$work/linux-vanish.log") || linux_status=$?
stop_sim
rm -f "$work/vanished.csv"
start_sim vanish-windows --synthetic-points 200 --vanish-after 10
status=0
win_cli import-points --out vanished.csv || status=$?
stop_sim
same_last_words() {
    [ "$(tail -n 1 "$work/linux-vanish.log")" = "$(tr -d '\r' <"$work/cli.log" | tail -n 1)" ]
}
check "unplugged during import: exit status $linux_status as on Linux (was $status)" \
    test "$status" -eq "$linux_status" -a "$status" -ne 0
check "unplugged during import: the same last words as on Linux" same_last_words

# Course data: jis.bin goes to 0xC0080000.
head -c 70001 /dev/urandom >"$work/jis.bin"
start_sim course
check "course write: exit status 0" win_cli write-course jis.bin
stop_sim
check "course write: the navigator stored the file" \
    stored_equals course C0080000 70001 "$work/jis.bin"

# Firmware: a packed image written at 0x90000000 while the navigator runs its boot loader.
head -c 5000 /dev/urandom >"$work/fw.bin"
"$linux_bin/caddora-cli" pack-firmware "$work/fw.bin" "$work/fw.ckfm" --sub-header 02 \
    --boot-code-offset 1024 --reference-clock 26000000 >/dev/null
"$linux_bin/caddora-cli" unpack "$work/fw.ckfm" "$work/fw.image" >/dev/null
start_sim firmware
check "firmware write: exit status 0" win_cli write-firmware fw.ckfm
stop_sim
check "firmware write: the navigator stored the image" \
    stored_equals firmware 90000000 "$(stat -c %s "$work/fw.image")" "$work/fw.image"

# A file written reaches the disk before its name does: the temporary is flushed, then renamed
# over the target with write-through (MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH = 9),
# as Wine's trace of the calls shows.
flushed_then_renamed() {
    (cd "$work" && WINEDEBUG=+relay timeout 120 wine "$win_cli" unpack fw.ckfm flushed.bin \
        </dev/null >/dev/null 2>"$work/relay.log") || return 1
    grep -a -E 'Call KERNEL32\.(FlushFileBuffers|MoveFileExW)\(' "$work/relay.log" | tr -d '\r' |
        awk '/FlushFileBuffers/ { flushed = 1 }
             /MoveFileExW/ && /flushed\.bin",00000009\)/ && flushed { ok = 1 }
             END { exit !ok }'
}
check "unpack: the output is flushed, then renamed with write-through" flushed_then_renamed
rm -f "$work/relay.log"

# YMODEM: a packed file of type 3, its payload received whole.
head -c 40000 /dev/urandom >"$work/ym.bin"
"$linux_bin/caddora-cli" pack "$work/ym.bin" "$work/ym.ckfm" --sub-header 0300000000000000 \
    >/dev/null
start_sim ymodem
check "ymodem: exit status 0" win_cli ymodem ym.ckfm
stop_sim
check "ymodem: the navigator received the payload" cmp "$work/ymodem/dump/ymodem_0.bin" \
    "$work/ym.bin"

# Japanese names (a user folder 山田 and files in it), and a character outside code page 932.
jp="$work/山田"
mkdir -p "$jp"
start_sim points-japanese --synthetic-points 200
check "import into the folder 山田: exit status 0" win_cli_in "$jp" import-points
stop_sim
jp_csvs=("$jp"/*.csv)
check "import into the folder 山田: the CSV is there, equal to the Linux one" \
    cmp "$work/linux.csv" "${jp_csvs[0]}"
cp "$work/sample.csv" "$jp/テスト.csv"
check "convert テスト.csv to 地図.gpx: exit status 0" \
    win_cli_in "$jp" convert テスト.csv --to gpx --out 地図.gpx
check "convert テスト.csv to 地図.gpx: same bytes" cmp "$work/sample.gpx" "$jp/地図.gpx"
check "convert テスト.csv to 地図.gpx: the console names 地図.gpx" grep -q "地図.gpx" "$work/cli.log"
check "convert テスト.csv --to kml: テスト.kml beside it" \
    win_cli_in "$jp" convert テスト.csv --to kml
check "convert テスト.csv --to kml: same bytes" cmp "$work/sample.kml" "$jp/テスト.kml"
check "convert --out sortie_é.gpx: exit status 0" \
    win_cli_in "$jp" convert テスト.csv --to gpx --out sortie_é.gpx
check "convert --out sortie_é.gpx: that very name" cmp "$work/sample.gpx" "$jp/sortie_é.gpx"
cp "$work/fw.ckfm" "$jp/ファーム.ckfm"
check "unpack ファーム.ckfm to ファーム.bin: exit status 0" \
    win_cli_in "$jp" unpack ファーム.ckfm ファーム.bin
check "unpack to ファーム.bin: the payload" cmp "$work/fw.image" "$jp/ファーム.bin"
files_in() { local files=("$1"/*); echo "${#files[@]}"; }
check "the folder 山田 holds only these files" test "$(files_in "$jp")" -eq 7

# The logbook: two imports of the same navigator leave its points once, and the logbook commands
# answer as the Linux build's do on the same data (the sample points: Japanese names, several
# offsets; and a full point area of 4,096).
# lb_added FILE N M: the last logbook line of cli.log says N points added, M already there.
lb_added() {
    tr -d '\r' <"$work/cli.log" | grep -q "^logbook $1: $2 points\? added, $3 already in the logbook$"
}
# same_as_linux NAME ARGS...: caddora-cli ARGS prints the same on both builds, the Linux one
# with --logbook linux-NAME.sqlite3, the Windows one with --logbook win-NAME.sqlite3.
same_as_linux() {
    local name=$1
    shift
    (cd "$work" && "$linux_bin/caddora-cli" "$@" --logbook "linux-$name.sqlite3" \
        </dev/null >"$work/lb-linux.out" 2>&1) || return 1
    win_cli "$@" --logbook "win-$name.sqlite3" || return 1
    tr -d '\r' <"$work/cli.log" | cmp - "$work/lb-linux.out"
}
for points in sample 4096; do
    sim_points=(--sample-points)
    [ "$points" = 4096 ] && sim_points=(--synthetic-points 4096)
    start_sim "logbook-$points" "${sim_points[@]}"
    check "logbook ($points): first import" \
        win_cli import-points --out "lb-$points.csv" --logbook "win-$points.sqlite3"
    rows=$(($(wc -l <"$work/lb-$points.csv") - 1))
    check "logbook ($points): first import added its $rows points" \
        lb_added "win-$points.sqlite3" "$rows" 0
    check "logbook ($points): second import" \
        win_cli import-points --out "lb-$points-again.csv" --logbook "win-$points.sqlite3"
    check "logbook ($points): second import added nothing" \
        lb_added "win-$points.sqlite3" 0 "$rows"
    stop_sim
    (cd "$work" && "$linux_bin/caddora-cli" logbook add "lb-$points.csv" \
        --logbook "linux-$points.sqlite3" </dev/null >/dev/null 2>&1)
    check "logbook ($points): logbook add of the CSV as on Linux" \
        same_as_linux "$points" logbook add "lb-$points.csv"
    check "logbook ($points): rounds --json as on Linux" same_as_linux "$points" rounds --json
    first_round=$(grep -m 1 -o '"id":[0-9]*' "$work/lb-linux.out" | cut -d: -f2) || true
    check "logbook ($points): a round listed" test -n "$first_round"
    check "logbook ($points): round $first_round --json as on Linux" \
        same_as_linux "$points" round "$first_round" --json
done

# The serial link: the same navigator as a plain COM port.
serial_test="$(dirname "$win_cli")/../tests/test_win32_serial.exe"
start_sim serial
ln -sfn "$work/serial/dev/navigator0" "$WINEPREFIX/dosdevices/com8"
check "serial link on COM8" bash -c "cd '$work' && CADDORA_TEST_COM_PORT=COM8 \
    timeout 120 wine '$serial_test' </dev/null >'$work/cli.log' 2>&1"
stop_sim

echo "Windows end-to-end: $failures failure(s) in $((SECONDS - start)) s"
[ "$failures" -eq 0 ]
