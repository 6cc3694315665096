#!/usr/bin/env bash
# Builds what the Windows cross build needs and Debian does not package for MinGW into one
# prefix: GoogleTest (from /usr/src/googletest), CLI11 (header-only, copied) and pugixml (the
# XML writer of the GPX/KML export, from Debian's source package of the version the Linux build
# links, fetched through apt by package name: see scripts/debian-source.sh). Does nothing when
# the prefix is already complete. Prefix: $CADDORA_MINGW_PREFIX, else .cache/mingw64.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
prefix="${CADDORA_MINGW_PREFIX:-$root/.cache/mingw64}"

# shellcheck source=scripts/debian-source.sh
source "$root/scripts/debian-source.sh"
# shellcheck source=scripts/ccache-env.sh
source "$root/scripts/ccache-env.sh"
jobs=$(nproc)
# The version the Linux build links.
pugixml_version=$(dpkg-query -W -f='${source:Version}' libpugixml-dev)

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
        -Dgtest_disable_pthreads=OFF -DBUILD_GMOCK=ON "${ccache_launcher[@]}" >/dev/null
    cmake --build "$work/gtest" -j "$jobs" >/dev/null
    cmake --install "$work/gtest" >/dev/null
fi

mkdir -p "$prefix/include" "$prefix/share/cmake"
cp -r /usr/include/CLI "$prefix/include/"
cp -r /usr/share/cmake/CLI11 "$prefix/share/cmake/"

if [ ! -f "$prefix/lib/libpugixml.a" ]; then
    echo "=== pugixml $pugixml_version for MinGW into $prefix"
    debian_source pugixml "$pugixml_version" "$work/pugixml-src"
    # The upstream sources alone: Debian's changes concern its own packaging.
    tar -xzf "$work"/pugixml-src/pugixml_*.orig.tar.gz -C "$work"
    src=$(echo "$work"/pugixml-[0-9]*/)
    cmake -S "$src" -B "$work/pugixml" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DBUILD_SHARED_LIBS=OFF -DPUGIXML_BUILD_TESTS=OFF "${ccache_launcher[@]}" >/dev/null
    cmake --build "$work/pugixml" -j "$jobs" >/dev/null
    cmake --install "$work/pugixml" >/dev/null
fi
