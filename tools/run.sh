#!/usr/bin/env bash
# Sets everything up, registers the driver in the test prefix and lets a host drive it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELORAN_BUILD:-$root/build}
"$root/tools/testenv.sh" install
"$root/tools/build.sh"
export VELORAN_ENV=$build/testenv
trap '"$root/tools/testenv.sh" stop "$VELORAN_ENV"' EXIT
"$root/tools/testenv.sh" start "$VELORAN_ENV"
"$root/tools/wine-run" regsvr32 /s "$build/VeloranAsioDriver_x64.dll"
echo "driver registered in $VELORAN_ENV/prefix"
"$root/tools/wine-run" "$build/tests/asio_probe_host.exe" /reply 291
"$root/tools/wine-run" "$build/tests/asio_probe_host.exe" /reply 291 /stream 3
