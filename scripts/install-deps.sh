#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, by purpose:
#   scripts/install-deps.sh cli     building and running caddora-cli and caddora-sim
#   scripts/install-deps.sh build   that and the window (Qt): what the demo needs
#   scripts/install-deps.sh         that, and on top everything the tests need (the default)
# Idempotent: packages already present are left alone and apt-get runs only when something is
# missing.
set -euo pipefail

# Compiler, CMake, Ninja and the libraries the programs link.
cli_packages=(
    build-essential cmake ninja-build pkg-config gzip
    zlib1g-dev libssl-dev libudev-dev libcli11-dev libusb-1.0-0-dev
    # The logbook: its store and its geodesic distances.
    libsqlite3-dev libgeographiclib-dev
)
# The window: Qt and a font for its Japanese texts.
window_packages=(qt6-base-dev libgl-dev fonts-ipafont-gothic)
test_packages=(
    ccache help2man
    libgtest-dev libgmock-dev libbenchmark-dev libumockdev-dev umockdev
    xvfb xauth fonts-liberation2
    clang libclang-rt-14-dev
    lrzsz socat openssl python3
    # Windows build, tested under Wine: one MinGW compiler (posix threads), zlib for it, the
    # GoogleTest sources, the installer compiler, and bitmaps/screenshots of the window.
    g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine wine64 nsis
    imagemagick xdotool x11-utils
    lintian file man-db
    # Independent readers of the maps (pugixml also checks them in the unit tests and fuzzer).
    libpugixml-dev gpsbabel python3-gpxpy python3-fastkml libxml2-utils
    # The logbook's independent distance table and the report's browser; for the Windows build,
    # Debian's sources of SQLite and GeographicLib unpacked with their patches (dpkg-dev) and
    # SQLite's single-file source made by its Tcl scripts.
    python3-geographiclib chromium dpkg-dev tcl
)

case "${1:-all}" in
    cli) packages=("${cli_packages[@]}") ;;
    build) packages=("${cli_packages[@]}" "${window_packages[@]}") ;;
    all) packages=("${cli_packages[@]}" "${window_packages[@]}" "${test_packages[@]}") ;;
    *)
        echo "usage: $0 [cli|build|all]" >&2
        exit 2
        ;;
esac

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
