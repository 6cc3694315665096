#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs to build, test and demo. Idempotent:
# packages already present are left alone and apt-get runs only when something is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    zlib1g-dev libssl-dev libudev-dev libcli11-dev libusb-1.0-0-dev
    libumockdev-dev umockdev
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev libgl-dev xvfb xauth fonts-ipafont-gothic fonts-liberation2
    clang libclang-rt-14-dev
    lrzsz socat gzip openssl python3
    # Windows build, tested under Wine: one MinGW compiler (posix threads), zlib for it, the
    # GoogleTest sources, the installer compiler, and bitmaps/screenshots of the window.
    g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine wine64 nsis
    imagemagick xdotool x11-utils
    help2man lintian file man-db
    libpugixml-dev gpsbabel python3-gpxpy python3-fastkml libxml2-utils
    # The logbook: its store, its distances, the independent distance table, the report's browser;
    # for the Windows build, Debian's sources of the first two unpacked with their patches
    # (dpkg-dev) and SQLite's single-file source made by its Tcl scripts.
    libsqlite3-dev libgeographiclib-dev python3-geographiclib chromium dpkg-dev tcl
)

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
