#!/usr/bin/env bash
# The Windows installer: builds it with makensis from build-windows/bin, installs it silently
# under Wine, runs caddora-cli.exe --version from the installed folder, checks the Start-menu
# shortcut, uninstalls silently and checks that nothing is left. A second installer, built from
# a copy of the script with stand-ins for the owner's device images beside it, must install those
# images beside the programs and remove them again.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
version="$(sed -n 's/^project(caddora VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
setup="$root/build-windows/caddora-setup-$version.exe"
makensis -V2 -DBINDIR="$root/build-windows/bin" -DVERSION="$version" -DOUTFILE="$setup" \
    "$root/packaging/windows/caddora.nsi"
echo "ok   installer built: $setup ($(stat -c %s "$setup") bytes)"
images=(patch_image.bin boot_26mhz.bin boot_16369khz.bin)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$root/packaging/windows/caddora.nsi" "$work/"
for image in "${images[@]}"; do echo "stand-in $image" >"$work/$image"; done
makensis -V2 -DBINDIR="$root/build-windows/bin" -DVERSION="$version" \
    -DOUTFILE="$work/setup-with-images.exe" "$work/caddora.nsi"

wine_up
installed="$WINEPREFIX/drive_c/Program Files/CADDORA"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/CADDORA"
failures=0
check() {
    local what=$1
    shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

# Nothing of an installation is left.
gone() {
    [ ! -e "$shortcut" ] || return 1
    local file
    for file in caddora.exe caddora-cli.exe "${images[@]}"; do
        [ ! -e "$installed/$file" ] || return 1
    done
}

# install_cycle SETUP SCRIPT_DIR [FOLDER]: installs (into FOLDER, a Windows path on C:, when
# given), checks, uninstalls. The device images that lay beside the installer's script in
# SCRIPT_DIR must be installed, no others.
install_cycle() {
    local dir="${3:-C:\Program Files\CADDORA}" target=()
    [ -n "${3:-}" ] && target=("/D=$dir")
    installed="$WINEPREFIX/drive_c/${dir#C:\\}"
    installed="${installed//\\//}"
    wine "$1" /S "${target[@]}" </dev/null >/dev/null 2>&1
    check "installed both programs" \
        test -f "$installed/caddora.exe" -a -f "$installed/caddora-cli.exe"
    check "uninstall entry written" \
        bash -c "wine reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\CaddoraMaintenanceTool' </dev/null >/dev/null 2>&1"
    check "Start-menu shortcut" test -f "$shortcut/CADDORA.lnk"
    for image in "${images[@]}"; do
        if [ -e "$2/$image" ]; then
            check "$image installed" cmp -s "$2/$image" "$installed/$image"
        else
            check "no $image" test ! -e "$installed/$image"
        fi
    done
    reported="$(wine "$dir\\caddora-cli.exe" --version </dev/null 2>/dev/null |
        tr -d '\r')"
    check "caddora-cli.exe --version from the installed folder says $version" \
        test "$reported" = "caddora-cli $version"

    wine "$dir\\uninstall.exe" /S "_?=$dir" \
        </dev/null >/dev/null 2>&1
    for _ in $(seq 50); do gone && break; sleep 0.2; done
    check "uninstalled: programs, images and shortcut gone" gone
    check "uninstalled: uninstall entry gone" \
        bash -c "! wine reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\CaddoraMaintenanceTool' </dev/null >/dev/null 2>&1"
    # With _?= the uninstaller cannot delete itself.
    rm -rf "$installed"
}

echo "--- the installer as built"
install_cycle "$setup" "$root/packaging/windows"
echo "--- with stand-ins for the owner's device images beside the script"
install_cycle "$work/setup-with-images.exe" "$work"
echo "--- into a folder with a Japanese name"
install_cycle "$work/setup-with-images.exe" "$work" 'C:\ゴルフ\キャドラ'
[ "$failures" -eq 0 ]
