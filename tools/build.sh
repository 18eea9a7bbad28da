#!/usr/bin/env bash
# Configures and builds everything with the mingw-w64 toolchains: the 32-bit driver, test program
# and tests into build/x86, then the 64-bit ones, the setup (holding both) and the tests into build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELORAN_BUILD:-$root/build}
configure() {
    local dir=$1 toolchain=$2
    shift 2
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
            -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    fi
}
configure "$build/x86" mingw-w64-i686.cmake
cmake --build "$build/x86" -j "$(nproc)"
configure "$build" mingw-w64-x86_64.cmake -DVELORAN_X86_BUILD="$build/x86"
# A build made before the 32-bit one existed learns where it is.
grep -qx "VELORAN_X86_BUILD:PATH=$build/x86" "$build/CMakeCache.txt" ||
    cmake "$build" -DVELORAN_X86_BUILD="$build/x86" >/dev/null
cmake --build "$build" -j "$(nproc)"
