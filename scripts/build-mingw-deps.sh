#!/usr/bin/env bash
# Builds what the Windows cross build needs and Debian does not package for MinGW into one
# prefix: GoogleTest (from /usr/src/googletest) and CLI11 (header-only, copied). Does nothing
# when the prefix is already complete. Prefix: $CADDORA_MINGW_PREFIX, else .cache/mingw64.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
prefix="${CADDORA_MINGW_PREFIX:-$root/.cache/mingw64}"

if [ -f "$prefix/lib/libgtest.a" ] && [ -f "$prefix/share/cmake/CLI11/CLI11Config.cmake" ]; then
    exit 0
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
echo "=== GoogleTest for MinGW into $prefix"
cmake -S /usr/src/googletest -B "$work/gtest" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -Dgtest_disable_pthreads=OFF -DBUILD_GMOCK=ON >/dev/null
cmake --build "$work/gtest" -j 1 >/dev/null
cmake --install "$work/gtest" >/dev/null

mkdir -p "$prefix/include" "$prefix/share/cmake"
cp -r /usr/include/CLI "$prefix/include/"
cp -r /usr/share/cmake/CLI11 "$prefix/share/cmake/"
