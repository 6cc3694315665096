#!/usr/bin/env bash
# Builds what the Windows cross build needs and Debian does not package for MinGW into one
# prefix: GoogleTest (from /usr/src/googletest), CLI11 (header-only, copied) and pugixml (the
# XML writer of the GPX/KML export), and the logbook's SQLite and GeographicLib (static): each from
# Debian's source package of the version the Linux build links, fetched through apt by package
# name (see scripts/debian-source.sh). Does nothing when the prefix is already complete. Prefix:
# $CADDORA_MINGW_PREFIX; else .cache/mingw64, a link to a prefix in the user's cache folder
# named after this script, the toolchain file and the versions, so a fresh clone on the same
# machine (as CI makes) builds none of it again and a change of any of them builds anew.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

# shellcheck source=scripts/debian-source.sh
source "$root/scripts/debian-source.sh"
# shellcheck source=scripts/ccache-env.sh
source "$root/scripts/ccache-env.sh"
jobs=$(nproc)
# The versions the Linux build links.
pugixml_version=$(dpkg-query -W -f='${source:Version}' libpugixml-dev)
sqlite_version=$(dpkg-query -W -f='${source:Version}' libsqlite3-dev)
geographiclib_version=$(dpkg-query -W -f='${source:Version}' libgeographiclib-dev)

if [ -n "${CADDORA_MINGW_PREFIX:-}" ]; then
    prefix=$CADDORA_MINGW_PREFIX
else
    key=$({
        cat "$0" "$root/cmake/toolchain-mingw64.cmake" "$root/scripts/debian-source.sh"
        echo "$pugixml_version $sqlite_version $geographiclib_version"
        dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix googletest libcli11-dev
    } | sha256sum | cut -c1-16)
    prefix="${XDG_CACHE_HOME:-$HOME/.cache}/caddora/mingw64-$key"
    mkdir -p "$prefix" "$root/.cache"
    # A prefix of the earlier layout (a folder in the checkout) gives way to the link.
    if [ -d "$root/.cache/mingw64" ] && [ ! -L "$root/.cache/mingw64" ]; then
        rm -rf "$root/.cache/mingw64"
    fi
    ln -sfn "$prefix" "$root/.cache/mingw64"
fi

if [ -f "$prefix/lib/libgtest.a" ] && [ -f "$prefix/share/cmake/CLI11/CLI11Config.cmake" ] &&
    [ -f "$prefix/lib/libpugixml.a" ] && [ -f "$prefix/lib/libsqlite3.a" ] &&
    [ -f "$prefix/lib/libGeographicLib.a" ]; then
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

if [ ! -f "$prefix/lib/libsqlite3.a" ]; then
    echo "=== SQLite $sqlite_version for MinGW into $prefix"
    debian_source sqlite3 "$sqlite_version" "$work/sqlite3-src"
    # Unpacked with Debian's patches: they carry the security fixes of this version.
    dpkg-source -x "$work"/sqlite3-src/sqlite3_*.dsc "$work/sqlite3" >/dev/null
    # The source tree holds no amalgamation: the host makes sqlite3.c (with tclsh), the cross
    # compiler builds that one file.
    mkdir -p "$work/sqlite3-build"
    (cd "$work/sqlite3-build" && "$work/sqlite3/configure" --disable-tcl >/dev/null &&
        make sqlite3.c >/dev/null)
    cc=(x86_64-w64-mingw32-gcc-posix)
    [ ${#ccache_launcher[@]} -gt 0 ] && cc=(ccache "${cc[@]}")
    "${cc[@]}" -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION \
        -c "$work/sqlite3-build/sqlite3.c" -o "$work/sqlite3-build/sqlite3.o"
    mkdir -p "$prefix/lib" "$prefix/include"
    rm -f "$prefix/lib/libsqlite3.a"
    x86_64-w64-mingw32-ar rcs "$prefix/lib/libsqlite3.a" "$work/sqlite3-build/sqlite3.o"
    cp "$work/sqlite3-build/sqlite3.h" "$work/sqlite3-build/sqlite3ext.h" "$prefix/include/"
fi

if [ ! -f "$prefix/lib/libGeographicLib.a" ]; then
    echo "=== GeographicLib $geographiclib_version for MinGW into $prefix"
    debian_source geographiclib "$geographiclib_version" "$work/geographiclib-src"
    dpkg-source -x "$work"/geographiclib-src/geographiclib_*.dsc "$work/geographiclib" >/dev/null
    cmake -S "$work/geographiclib" -B "$work/geographiclib-build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DBUILD_SHARED_LIBS=OFF -DBUILD_DOCUMENTATION=OFF -DBUILD_MANPAGES=OFF \
        "${ccache_launcher[@]}" >/dev/null
    # The library and its headers only: its tools and examples are not needed.
    cmake --build "$work/geographiclib-build" --target GeographicLib_STATIC -j "$jobs" >/dev/null
    mkdir -p "$prefix/lib" "$prefix/include/GeographicLib"
    cp "$work/geographiclib-build/lib/libGeographicLib.a" "$prefix/lib/"
    cp "$work"/geographiclib/include/GeographicLib/*.hpp \
        "$work/geographiclib-build/include/GeographicLib/Config.h" "$prefix/include/GeographicLib/"
fi
