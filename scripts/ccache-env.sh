# Sourced by the build scripts: a compiler cache for every build (the Linux configurations,
# the fuzz targets, the Windows programs and their libraries), so a repeated run compiles only
# what changed. It lives in the user's cache folder, outside the checkout, so a fresh clone on
# the same machine (CI, a second work tree) finds what an earlier run compiled; paths below the
# project are hashed relative to it, so clones in other folders hit the same entries. A machine
# without it compiles everything once.
# Sets ccache_launcher to the CMake options that use it (empty without ccache).
ccache_launcher=()
if command -v ccache >/dev/null; then
    ccache_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    export CCACHE_DIR="${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/caddora/ccache}"
    export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-8G}"
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ccache_root}"
    # The build folder in the debug information does not decide a hit.
    export CCACHE_NOHASHDIR=1
    ccache_launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
