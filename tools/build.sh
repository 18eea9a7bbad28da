#!/usr/bin/env bash
# Configures and builds everything into build/ with the mingw-w64 toolchain.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELORAN_BUILD:-$root/build}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j "$(nproc)"
