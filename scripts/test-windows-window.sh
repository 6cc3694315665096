#!/usr/bin/env bash
# The Windows window under Xvfb + Wine against the Linux virtual navigator: a screenshot of each
# tab (build-windows/window-tab1.png ... tab4.png, for review), a second copy that must end at
# once, the course button's open-file dialog whose file must reach the navigator, and one click
# on the point button that must write the same CSV as the Linux import.
# Japanese texts need the IPA fonts in place of the Windows ones (scripts/wine-fonts.reg). Closing
# (the WM_CLOSE that taskkill sends) must be refused while the import runs and work after it.
# The end of the session during an import stops it with its whole rows in place.
# The navigator is plugged in as the driver would (scripts/wine-navigator.sh) after the window has
# started; its arrival and removal reach the window as the system's broadcast
# (build-windows/tests/post_device_change.exe), and the job buttons follow (screenshots
# window-no-navigator.png, window-navigator-arrived.png, window-navigator-removed.png,
# window-unplugged-import.png). Unplugged during an import, the CSV keeps its whole rows.
# The import fills the logbook (in a folder ログ) and the point tab then links to the report of
# its rounds; the logbook choice, unticked, is kept and adds nothing.
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
win_bin="${CADDORA_WINDOWS_BIN:-$root/build-windows/bin}"
shots="$root/build-windows"
post="$win_bin/../tests/post_device_change.exe"
for f in "$linux_bin/caddora-sim" "$linux_bin/caddora-cli" "$win_bin/caddora.exe" "$post"; do
    [ -x "$f" ] || { echo "missing: $f" >&2; exit 1; }
done

work="$(mktemp -d)"
# The Linux imports fill a logbook of this run, never the user's.
export CADDORA_LOGBOOK="$work/logbook.sqlite3"
pids=()
# The window runs from a folder with a Japanese name, and the user's Documents folder, named in
# the prefix's registry, lies in another one during the run (on a Japanese PC, under the user's
# own folder C:\Users\山田).
app="$work/アプリ"
shell_folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
personal_was=""
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    navigator_unregister_all || true
    if [ -n "$personal_was" ]; then
        wine reg add "$shell_folders" /v Personal /t REG_EXPAND_SZ /d "$personal_was" /f \
            </dev/null >/dev/null 2>&1 || true
    fi
    chattr -i "$app" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
# A fresh server for this display: Wine's desktop process, once started by a program without a
# display (the unit tests), serves every later window of the server, and they never show.
wine_down
wine_up
wine regedit /S "$root/scripts/wine-fonts.reg" </dev/null >/dev/null 2>&1
# The maps choice starts unticked, whatever an earlier run in this prefix left.
maps_key='HKCU\Software\caddora\caddora\points'
wine reg delete "$maps_key" /v alsoSaveMaps /f </dev/null >/dev/null 2>&1 || true
# The logbook choice starts ticked.
wine reg delete "$maps_key" /v addToLogbook /f </dev/null >/dev/null 2>&1 || true
navigator_unregister_all

# The navigator, and the CSV the Linux build imports from the same records.
mkdir -p "$work/dev" "$work/linux-dev" "$app"
"$linux_bin/caddora-sim" --device-dir "$work/linux-dev" --synthetic-points 50 >/dev/null 2>&1 &
sim=$!
sleep 0.5
"$linux_bin/caddora-cli" import-points --device-dir "$work/linux-dev" --out "$work/linux.csv" \
    --format csv --format gpx --format kml >/dev/null 2>&1
kill "$sim"
# Every answer 300 ms late: the import takes seconds, long enough to try closing during it.
mkdir -p "$work/dump"
"$linux_bin/caddora-sim" --device-dir "$work/dev" --synthetic-points 50 --delay-ms 300 \
    --dump-dir "$work/dump" >"$work/sim.out" 2>&1 &
sim=$!
pids+=($sim)
for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" 2>/dev/null && break; sleep 0.05; done

# The window runs from its own folder, which then receives the CSV. The course file there is the
# one the open-file dialog offers.
cp "$win_bin/caddora.exe" "$app/"
head -c 5000 /dev/urandom >"$work/course.raw"
gzip -n -c "$work/course.raw" >"$app/index4.kzip"
# Like a program under Program Files, the window may not write into its own folder: it must put
# the CSV into the user's Documents folder. (Where the folder cannot be made read-only, the CSV
# goes beside the program.)
csv_dir="$app"
if chattr +i "$app" 2>/dev/null; then
    personal_was="$(wine reg query "$shell_folders" /v Personal </dev/null 2>/dev/null |
        sed -n 's/.*REG_EXPAND_SZ *//p' | tr -d '\r')"
    [ -n "$personal_was" ] || personal_was='%USERPROFILE%\Documents'
    csv_dir="$work/山田/Documents"
    mkdir -p "$csv_dir"
    wine reg add "$shell_folders" /v Personal /t REG_EXPAND_SZ /d "Z:${csv_dir//\//\\}" /f \
        </dev/null >/dev/null 2>&1
else
    echo "note the program folder stays writable here: the CSV goes beside the program"
fi
# The window's logbook, apart from the Linux imports'; its report goes beside it.
logbook_dir="$work/ログ"
mkdir -p "$logbook_dir"
window_logbook="Z:${logbook_dir//\//\\}\\window.sqlite3"
report="$logbook_dir/window-last-import.html"
(cd "$app" && CADDORA_LOGBOOK="$window_logbook" exec wine caddora.exe </dev/null >/dev/null 2>&1) &
window_pid=$!
pids+=($window_pid)
# The first window named like $1, looked for every 0.2 s, at most $2 times; empty if none came.
find_window() {
    local id=""
    for _ in $(seq "$2"); do
        id="$(xdotool search --name "$1" 2>/dev/null | head -1)" || true
        [ -n "$id" ] && break
        sleep 0.2
    done
    echo "$id"
}
# Up to 90 s: Wine's first start of a window program in a new prefix is slow on a busy machine.
window="$(find_window 'CADDORA for MDL4100' 450)"
[ -n "$window" ] || { echo "FAIL the window did not appear"; exit 1; }
echo "ok   the window appeared"
sleep 2  # the first device check

# Without a window manager the window has no frame: its client area starts at its origin.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
failures=0
nav="$(navigator_path 0001)"
# The job buttons (points, course, firmware; 1 = enabled) reach state $1 within 10 s.
buttons_become() {
    local now=""
    for _ in $(seq 50); do
        now="$(wine "$post" buttons </dev/null 2>/dev/null | tr -d '\r')"
        [ "$now" = "$1" ] && return 0
        sleep 0.2
    done
    echo "     buttons: $now"
    return 1
}
# expect_buttons WHAT STATE SHOT: checks the state, then takes the screenshot SHOT.
expect_buttons() {
    if buttons_become "$2"; then
        echo "ok   $1"
    else
        echo "FAIL $1"
        failures=$((failures + 1))
    fi
    import -display "$display" -window "$window" "$shots/$3"
}
plug() { navigator_register 0001 "$work/dev/navigator0" && wine "$post" arrival "$nav"; }
unplug() { navigator_unregister 0001 && wine "$post" removal "$nav"; }
expect_buttons "no navigator: the job buttons are disabled" "0 0 0" window-no-navigator.png
plug
expect_buttons "arrival: the job buttons are enabled" "1 1 1" window-navigator-arrived.png
unplug
expect_buttons "removal: the job buttons are disabled" "0 0 0" window-navigator-removed.png
plug
buttons_become "1 1 1" || true
for tab in 1 2 3 4; do
    click $((18 + 60 + 120 * (tab - 1))) 29
    sleep 0.7
    import -display "$display" -window "$window" "$shots/window-tab$tab.png"
done
echo "ok   screenshots: $shots/window-tab[1-4].png"
# The product picture's transparent corner shows the page's own colour, as in the Qt window.
pixel() { convert "$shots/window-tab4.png" -format "%[pixel:p{$1}]" info:; }
if [ "$(pixel 58,73)" = "$(pixel 30,80)" ]; then
    echo "ok   the pictures keep their transparency"
else
    echo "FAIL the product picture stands on $(pixel 58,73), the page is $(pixel 30,80)"
    failures=$((failures + 1))
fi

second=0
(cd "$app" && timeout 30 wine caddora.exe </dev/null >/dev/null 2>&1) || second=$?
if [ "$second" -eq 0 ]; then
    echo "ok   a second copy ends at once with status 0"
else
    echo "FAIL a second copy ended with status $second"
    failures=$((failures + 1))
fi

# The course button's open-file dialog offers index4.kzip in the program's folder; Return takes
# it and the course data job writes it (checked in the navigator's memory at the end).
click 198 29
sleep 0.5
click 110 129  # buttonKroDown
dialog="$(find_window '^(Open|開く)$' 50)"  # English or Japanese Wine
if [ -n "$dialog" ]; then
    echo "ok   the course button opens the file dialog"
    sleep 0.5
    import -display "$display" -window root "$shots/window-open-dialog.png" || true
else
    echo "FAIL the course button opened no file dialog"
    failures=$((failures + 1))
fi
# The done message: a window that was not there while the dialog was. Without a window manager a
# first click on its OK button only gives it the keyboard; Return then presses the button.
visible() { xdotool search --onlyvisible --name '' 2>/dev/null | sort; }
before="$(visible)"
[ -n "$dialog" ] && xdotool key --window "$dialog" Return
box=""
for _ in $(seq 150); do
    box="$(comm -13 <(echo "$before") <(visible) | head -1)"
    [ -n "$box" ] && break
    sleep 0.2
done
if [ -n "$box" ]; then
    sleep 0.5  # drawn and taking clicks
    eval "$(xdotool getwindowgeometry --shell "$box")"
    xdotool mousemove --window "$box" $((WIDTH / 2)) $((HEIGHT - 20)) click 1  # on OK
    sleep 0.3
    xdotool key Return
    sleep 1
fi

click 78 29  # back to the point tab
sleep 0.5
# "GPX・KMLファイルも保存する": the choice is kept for the next run, and the import saves both maps.
click 242 179
sleep 0.5
if wine reg query "$maps_key" /v alsoSaveMaps </dev/null 2>/dev/null | grep -qi '0x1'; then
    echo "ok   the maps choice is kept for the next run"
else
    echo "FAIL ticking the maps choice kept nothing for the next run"
    failures=$((failures + 1))
fi
before_import="$(visible)"
click 110 129  # buttonUpdata
sleep 1
close_window() { wine taskkill /im caddora.exe </dev/null >/dev/null 2>&1 || true; }
window_present() {
    kill -0 "$window_pid" 2>/dev/null && xdotool search --name 'CADDORA for MDL4100' >/dev/null 2>&1
}
# Asked to close during the import, the window stays, also after the import has written its
# file. (A window that accepted would be gone then: its program ends with the job.)
close_window
refused=0
for _ in $(seq 300); do
    window_present || break
    if ls "$csv_dir"/*.csv >/dev/null 2>&1; then
        sleep 1
        window_present && refused=1
        break
    fi
    sleep 0.1
done
if [ "$refused" -eq 1 ]; then
    echo "ok   closing is refused while the import runs"
else
    echo "FAIL closing during the import was accepted: the window went with the job"
    failures=$((failures + 1))
fi
csv=""
for _ in $(seq 300); do
    csv="$(ls "$csv_dir"/*.csv 2>/dev/null | head -1)" || true
    if [ -n "$csv" ] && [ "$(wc -l <"$csv")" -eq "$(wc -l <"$work/linux.csv")" ]; then break; fi
    sleep 0.1
done
sleep 1
import -display "$display" -window root "$shots/window-after-import.png"
if [ -n "$csv" ] && cmp -s "$csv" "$work/linux.csv"; then
    echo "ok   one click on the point button wrote the CSV ($csv), equal to the Linux one"
else
    echo "FAIL the point button wrote no CSV equal to the Linux one"
    failures=$((failures + 1))
fi
for ext in gpx kml; do
    if [ -n "$csv" ] && cmp -s "${csv%.csv}.$ext" "$work/linux.$ext"; then
        echo "ok   the $ext map beside the CSV equals the Linux one"
    else
        echo "FAIL no $ext map beside the CSV equal to the Linux one"
        failures=$((failures + 1))
    fi
done
# The logbook holds the 50 points once: the Linux build adding the same CSV finds them all.
in_logbook="$("$linux_bin/caddora-cli" logbook add "$work/linux.csv" \
    --logbook "$logbook_dir/window.sqlite3" 2>&1)" || true
if [ "$in_logbook" = "0 points added, 50 already in the logbook" ]; then
    echo "ok   the import added its 50 points to the logbook"
else
    echo "FAIL the logbook after the import: $in_logbook"
    failures=$((failures + 1))
fi
# The link's report: one drawing per hole played (synthetic points: 50 points, one round).
holes="$("$linux_bin/caddora-cli" rounds --json --logbook "$logbook_dir/window.sqlite3" |
    grep -o '"holes":[0-9]*' | cut -d: -f2 | paste -sd+ | bc)" || true
if [ -f "$report" ] && [ -n "$holes" ] && [ "$(grep -o '<svg' "$report" | wc -l)" -eq "$holes" ]; then
    echo "ok   the report of the imported rounds is beside the logbook ($holes drawings)"
else
    echo "FAIL no report of the imported rounds beside the logbook ($report)"
    failures=$((failures + 1))
fi
# The done message dismissed (a click gives it the keyboard, Return presses OK), the point tab
# shows the link below its text: more than the one colour of the page there.
box="$(comm -13 <(echo "$before_import") <(visible) | grep -vx "$window" | head -1)" || true
if [ -n "$box" ]; then
    eval "$(xdotool getwindowgeometry --shell "$box")"
    xdotool mousemove --window "$box" $((WIDTH / 2)) $((HEIGHT - 20)) click 1
    sleep 0.3
    xdotool key Return
    sleep 1
fi
import -display "$display" -window "$window" "$shots/window-report-link.png"
link_row="$(convert "$shots/window-report-link.png" -crop 200x16+200+143 -format '%k' info:)" ||
    true
if [ "${link_row:-1}" -gt 1 ]; then
    echo "ok   the point tab shows the report's link"
else
    echo "FAIL the point tab shows no link to the report"
    failures=$((failures + 1))
fi
# "ログブックに記録する" unticked is kept for the next run (which then adds nothing).
click 242 203
sleep 0.5
if wine reg query "$maps_key" /v addToLogbook </dev/null 2>/dev/null | grep -qi '0x0'; then
    echo "ok   the logbook choice is kept for the next run"
else
    echo "FAIL unticking the logbook choice kept nothing for the next run"
    failures=$((failures + 1))
fi
rm -f "$report"

# The first close request may go to the done message; the next ones reach the window.
for _ in $(seq 10); do
    kill -0 "$window_pid" 2>/dev/null || break
    close_window
    sleep 0.5
done
if kill -0 "$window_pid" 2>/dev/null; then
    echo "FAIL the window does not close after the import"
    failures=$((failures + 1))
else
    echo "ok   the window closes after the import"
fi

# The navigator writes its memory when it stops.
kill -TERM "$sim" 2>/dev/null || true
wait "$sim" 2>/dev/null || true
stored="$(awk 'toupper($1) == "C0000000" { print $3 }' "$work/dump/regions.txt" 2>/dev/null)" || true
if [ -n "$stored" ] && cmp -s -n 5000 "$work/dump/$stored" "$work/course.raw"; then
    echo "ok   the file chosen in the dialog was written into the navigator"
else
    echo "FAIL the navigator did not store the course file chosen in the dialog"
    failures=$((failures + 1))
fi

# Logout during an import (Wine's end of session sends WM_QUERYENDSESSION and WM_ENDSESSION to
# every window): the job stops as on a failure, the navigator is reset, the whole rows read so
# far are in place and no temporary file is left.
rm -f "$csv_dir"/*.csv "$csv_dir"/*.gpx "$csv_dir"/*.kml
: >"$work/sim.out"
"$linux_bin/caddora-sim" --device-dir "$work/dev" --synthetic-points 50 --delay-ms 300 \
    --journal "$work/journal.txt" >"$work/sim.out" 2>&1 &
sim=$!
pids+=($sim)
for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
(cd "$app" && CADDORA_LOGBOOK="$window_logbook" exec wine caddora.exe </dev/null >/dev/null 2>&1) &
window_pid=$!
pids+=($window_pid)
window="$(find_window 'CADDORA for MDL4100' 150)"
sleep 2
click 78 29
sleep 0.5
click 110 129  # buttonUpdata
# Some records read (0.3 s each), far from all 50.
for _ in $(seq 100); do
    [ "$(grep -c ' F4 31 ' "$work/journal.txt" 2>/dev/null)" -ge 8 ] && break
    sleep 0.1
done
wine wineboot --end-session </dev/null >/dev/null 2>&1 || true
for _ in $(seq 100); do kill -0 "$window_pid" 2>/dev/null || break; sleep 0.1; done
sleep 1
csv="$(ls "$csv_dir"/*.csv 2>/dev/null | head -1)" || true
rows=0
[ -n "$csv" ] && rows=$(($(wc -l <"$csv") - 1))
if [ "$rows" -gt 0 ] && [ "$rows" -lt 50 ] && cmp -s -n "$(stat -c %s "$csv")" "$csv" "$work/linux.csv"; then
    echo "ok   the end of the session stopped the import with its $rows whole rows in place"
else
    echo "FAIL the end of the session left no CSV of whole rows (${csv:-none}, $rows rows)"
    failures=$((failures + 1))
fi
if [ -e "$report" ]; then
    echo "FAIL the logbook choice was off, yet the import wrote a report"
    failures=$((failures + 1))
fi
if ls -a "$csv_dir" | grep -q '\.part$'; then
    echo "FAIL the end of the session left a temporary file: $(ls -a "$csv_dir" | grep '\.part$')"
    failures=$((failures + 1))
fi
if awk '$2 $3 == "F431" { read = NR } $2 $3 == "0640" { reset = NR } END { exit !(reset > read) }' \
    "$work/journal.txt"; then
    echo "ok   the navigator was reset after the last record read"
else
    echo "FAIL no reset after the last record read: $(tail -n 3 "$work/journal.txt" | tr '\n' ' ')"
    failures=$((failures + 1))
fi
kill -TERM "$sim" 2>/dev/null || true
wait "$sim" 2>/dev/null || true

# The navigator unplugged during an import (its link and registration gone, its pty closed, the
# broadcast sent): the import ends as an unplug does, with its whole rows in place, and the job
# buttons stay disabled.
rm -f "$csv_dir"/*.csv
: >"$work/journal.txt"
"$linux_bin/caddora-sim" --device-dir "$work/dev" --synthetic-points 50 --delay-ms 300 \
    --journal "$work/journal.txt" >"$work/sim.out" 2>&1 &
sim=$!
pids+=($sim)
for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
navigator_register 0001 "$work/dev/navigator0"
(cd "$app" && CADDORA_LOGBOOK="$window_logbook" exec wine caddora.exe </dev/null >/dev/null 2>&1) &
window_pid=$!
pids+=($window_pid)
window="$(find_window 'CADDORA for MDL4100' 150)"
buttons_become "1 1 1" || true
click 78 29
sleep 0.5
click 110 129  # buttonUpdata
for _ in $(seq 100); do
    [ "$(grep -c ' F4 31 ' "$work/journal.txt" 2>/dev/null)" -ge 8 ] && break
    sleep 0.1
done
navigator_unregister 0001
kill -TERM "$sim" 2>/dev/null || true
wait "$sim" 2>/dev/null || true
wine "$post" removal "$nav" || true
# The job has ended once its CSV stands under its own name, with no temporary beside it.
for _ in $(seq 100); do
    ls "$csv_dir"/*.csv >/dev/null 2>&1 && ! ls -a "$csv_dir" | grep -q '\.part$' && break
    sleep 0.1
done
sleep 1
expect_buttons "unplugged during an import: the job buttons are disabled" "0 0 0" \
    window-unplugged-import.png
csv="$(ls "$csv_dir"/*.csv 2>/dev/null | head -1)" || true
rows=0
[ -n "$csv" ] && rows=$(($(wc -l <"$csv") - 1))
if [ "$rows" -gt 0 ] && [ "$rows" -lt 50 ] && cmp -s -n "$(stat -c %s "$csv")" "$csv" "$work/linux.csv"; then
    echo "ok   unplugged during an import: the CSV keeps its $rows whole rows"
else
    echo "FAIL unplugged during an import: no CSV of whole rows (${csv:-none}, $rows rows)"
    failures=$((failures + 1))
fi
wine taskkill /f /im caddora.exe </dev/null >/dev/null 2>&1 || true
[ "$failures" -eq 0 ]
