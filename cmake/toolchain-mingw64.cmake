# Cross build for 64-bit Windows with MinGW-w64 (posix threads, static runtime). Programs and
# tests run under Wine through scripts/wine-run.sh, so ctest works on the build machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

# The MinGW sysroot plus the prefix that scripts/build-mingw-deps.sh fills (GoogleTest, CLI11).
# APPEND keeps a CMAKE_FIND_ROOT_PATH given on the command line.
if(DEFINED ENV{CADDORA_MINGW_PREFIX})
    set(_deps $ENV{CADDORA_MINGW_PREFIX})
else()
    get_filename_component(_deps ${CMAKE_CURRENT_LIST_DIR}/../.cache/mingw64 ABSOLUTE)
endif()
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${_mingw} ${_deps})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libstdc++, libgcc or winpthread DLLs to ship.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)

get_filename_component(_wine_run ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_wine_run})

# pkg-config looks only at the target's packages, never at the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} "${_deps}/lib/pkgconfig:/usr/${_mingw}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
