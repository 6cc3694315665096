#!/usr/bin/env bash
# Builds the Debian package from a finished build, checks it with lintian (errors fail, the
# warnings are shown), unpacks it into a throwaway root and runs the installed programs from
# there: each one's --version (the window's without a display), the manual pages, and
# `caddora-cli devices` and a point import against the installed caddora-sim.
#   scripts/check-package.sh [BUILD_DIR]        (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
start=$SECONDS

fail() {
    echo "check-package: $*" >&2
    exit 1
}

rm -f "$build"/caddora_*.deb
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) || { cat "$build/cpack.log"; fail "cpack failed"; }
deb=$(echo "$build"/caddora_*.deb)
[ -f "$deb" ] || fail "no package was built in $build"
version=$(dpkg-deb -f "$deb" Version)
echo "=== $(basename "$deb"): lintian"
# Runs as root print a note that says nothing about the package.
lintian --fail-on error --pedantic "$deb" 2> >(grep -v "root privileges" >&2) ||
    fail "lintian found errors"

root=$(mktemp -d)
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$root"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$root/install"
bin=$root/install/usr/bin

echo "=== installed programs"
for program in caddora caddora-cli caddora-sim; do
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/$program" --version)
    [ "$out" = "$program $version" ] || fail "$program --version said '$out'"
    page=$root/install/usr/share/man/man1/$program.1.gz
    MANWIDTH=80 man -l "$page" 2>&1 | grep -q "^NAME" || fail "man -l $page shows no page"
done
# Access to the USB navigators of /etc/caddora/usb-ids is the one active rule; the terminal link
# is a template with placeholder ids.
rules=$(cd "$root/install/usr/lib/udev/rules.d" && echo *)
[ "$rules" = 70-caddora-navigator.rules ] || fail "udev rules installed: $rules"
[ -s "$root/install/usr/share/doc/caddora/examples/70-caddora.rules" ] || fail "no rule template"

# The maintainer scripts reload udev's rules, through whatever udevadm is on PATH.
dpkg-deb -e "$deb" "$root/control"
mkdir "$root/fake-bin"
printf '#!/bin/sh\necho "$*" >>"%s"\n' "$root/udevadm.log" >"$root/fake-bin/udevadm"
chmod +x "$root/fake-bin/udevadm"
PATH="$root/fake-bin:$PATH" sh "$root/control/postinst" configure
PATH="$root/fake-bin:$PATH" sh "$root/control/postrm" remove
[ "$(grep -c '^control --reload-rules$' "$root/udevadm.log")" = 2 ] &&
    grep -q '^trigger .*--subsystem-match=usb' "$root/udevadm.log" ||
    fail "the maintainer scripts did not reload udev: $(cat "$root/udevadm.log")"

mkdir "$root/dev"
"$bin/caddora-sim" --device-dir "$root/dev" --mode patch \
    --version-text "MDL4200 BOOT E3 PATCH V1.02" >"$root/sim.out" 2>"$root/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
    grep -q '^ready$' "$root/sim.out" && break
    sleep 0.1
done
grep -q '^ready$' "$root/sim.out" || fail "caddora-sim did not start: $(cat "$root/sim.err")"
devices=$("$bin/caddora-cli" devices --device-dir "$root/dev")
echo "$devices"
[[ "$devices" == "$root/dev/navigator0"*"patch program"* ]] || fail "devices did not list the simulator"
# A boot-stage navigator needs the patch program; the package has only the simulator's stand-in.
CADDORA_ALLOW_STAND_IN=1 CADDORA_LOGBOOK="$root/logbook.sqlite3" \
    "$bin/caddora-cli" import-points --device-dir "$root/dev" \
    --patch-image "$root/install/usr/share/caddora-sim/stand-ins/patch_image.bin" \
    --out "$root/points.csv" >"$root/import.log" 2>&1 ||
    fail "the point import failed: $(cat "$root/import.log")"
[ "$(wc -l <"$root/points.csv")" -gt 1 ] || fail "the point import wrote no rows"

echo "=== package checked in $((SECONDS - start)) s"
