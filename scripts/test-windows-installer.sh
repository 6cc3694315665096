#!/usr/bin/env bash
# The Windows installer: builds it with makensis from build-windows/bin, installs it silently
# under Wine, runs caddora-cli.exe --version from the installed folder, checks the Start-menu
# shortcut, uninstalls silently and checks that nothing is left.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
version="$(sed -n 's/^project(caddora VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
setup="$root/build-windows/caddora-setup-$version.exe"
makensis -V2 -DBINDIR="$root/build-windows/bin" -DVERSION="$version" -DOUTFILE="$setup" \
    "$root/packaging/windows/caddora.nsi"
echo "ok   installer built: $setup ($(stat -c %s "$setup") bytes)"

wine_up
installed="$WINEPREFIX/drive_c/Program Files/CADDORA"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/CADDORA"
failures=0
check() {
    local what=$1
    shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

wine "$setup" /S </dev/null >/dev/null 2>&1
check "installed both programs" test -f "$installed/caddora.exe" -a -f "$installed/caddora-cli.exe"
check "uninstall entry written" \
    bash -c "wine reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\CaddoraMaintenanceTool' </dev/null >/dev/null 2>&1"
check "Start-menu shortcut" test -f "$shortcut/CADDORA.lnk"
reported="$(wine 'C:\Program Files\CADDORA\caddora-cli.exe' --version </dev/null 2>/dev/null |
    tr -d '\r')"
check "caddora-cli.exe --version from the installed folder says $version" \
    test "$reported" = "caddora-cli $version"

wine 'C:\Program Files\CADDORA\uninstall.exe' /S '_?=C:\Program Files\CADDORA' \
    </dev/null >/dev/null 2>&1
gone() { [ ! -e "$installed/caddora.exe" ] && [ ! -e "$installed/caddora-cli.exe" ] && [ ! -e "$shortcut" ]; }
for _ in $(seq 50); do gone && break; sleep 0.2; done
check "uninstalled: programs and shortcut gone" gone
check "uninstalled: uninstall entry gone" \
    bash -c "! wine reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\CaddoraMaintenanceTool' </dev/null >/dev/null 2>&1"
# With _?= the uninstaller cannot delete itself.
rm -rf "$installed"
[ "$failures" -eq 0 ]
