#!/usr/bin/env bash
# Builds what the Windows cross build needs and Debian does not package for MinGW into one
# prefix: GoogleTest (from /usr/src/googletest), CLI11 (header-only, copied) and pugixml (the
# XML writer of the GPX/KML export, from Debian's source of the version the Linux build links,
# fetched from the Debian archive and checked against the checksum of Debian's source
# description). Does nothing when the prefix is already
# complete. Prefix: $CADDORA_MINGW_PREFIX, else .cache/mingw64.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
prefix="${CADDORA_MINGW_PREFIX:-$root/.cache/mingw64}"

pugixml_version=1.13
pugixml_url="http://deb.debian.org/debian/pool/main/p/pugixml/pugixml_${pugixml_version}.orig.tar.gz"
pugixml_sha256=5c5ad5d7caeb791420408042a7d88c2c6180781bf218feca259fd9d840a888e1

if [ -f "$prefix/lib/libgtest.a" ] && [ -f "$prefix/share/cmake/CLI11/CLI11Config.cmake" ] &&
    [ -f "$prefix/lib/libpugixml.a" ]; then
    exit 0
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
if [ ! -f "$prefix/lib/libgtest.a" ]; then
    echo "=== GoogleTest for MinGW into $prefix"
    cmake -S /usr/src/googletest -B "$work/gtest" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -Dgtest_disable_pthreads=OFF -DBUILD_GMOCK=ON >/dev/null
    cmake --build "$work/gtest" -j 1 >/dev/null
    cmake --install "$work/gtest" >/dev/null
fi

mkdir -p "$prefix/include" "$prefix/share/cmake"
cp -r /usr/include/CLI "$prefix/include/"
cp -r /usr/share/cmake/CLI11 "$prefix/share/cmake/"

if [ ! -f "$prefix/lib/libpugixml.a" ]; then
    echo "=== pugixml $pugixml_version for MinGW into $prefix"
    tarball="$work/pugixml.tar.gz"
    # apt's own downloader: the machine's apt sources and proxy settings apply, and it checks
    # the checksum. As root it would hand the download to the _apt user, who cannot write here.
    sandbox=()
    [ "$(id -u)" -eq 0 ] && sandbox=(-o APT::Sandbox::User=root)
    /usr/lib/apt/apt-helper "${sandbox[@]}" -o Acquire::Retries=3 \
        download-file "$pugixml_url" "$tarball" "SHA256:$pugixml_sha256" >/dev/null
    tar -xzf "$tarball" -C "$work"
    cmake -S "$work/pugixml-$pugixml_version" -B "$work/pugixml" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DBUILD_SHARED_LIBS=OFF -DPUGIXML_BUILD_TESTS=OFF >/dev/null
    cmake --build "$work/pugixml" -j 2 >/dev/null
    cmake --install "$work/pugixml" >/dev/null
fi
