#!/usr/bin/env bash
# Sets everything up, registers the driver in the test prefix and runs the test program's check:
# the demonstration audio plays to the default output and every input is recorded through the
# test environment's audio loopback; the program prints its report.
#   tools/run.sh [SECONDS]                  the check (5 s by default)
#   tools/run.sh --screenshot FILE.png      the test program's window, as a picture
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELORAN_BUILD:-$root/build}
seconds=5 screenshot=
case "${1:-}" in
    --screenshot) screenshot=${2:?usage: tools/run.sh --screenshot FILE.png} ;;
    '') ;;
    *[!0-9]*) echo "usage: tools/run.sh [SECONDS] | --screenshot FILE.png" >&2; exit 2 ;;
    *) seconds=$1 ;;
esac
"$root/tools/testenv.sh" install
"$root/tools/build.sh"
export VELORAN_ENV=$build/testenv
trap '"$root/tools/testenv.sh" stop "$VELORAN_ENV"' EXIT
"$root/tools/testenv.sh" start "$VELORAN_ENV"
"$root/tools/wine-run" regsvr32 /s "$build/VeloranAsioDriver_x64.dll"
echo "driver registered in $VELORAN_ENV/prefix"

if [ -z "$screenshot" ]; then
    "$root/tools/wine-run" "$build/VeloranAsioTest.exe" /check "$seconds" VELORAN_ASIO_USE_DEF_IN_OUTS_OK
    exit
fi

# The window as a user sees it, playing: started, left to draw, captured from the display.
"$root/tools/wine-run" "$build/VeloranAsioTest.exe" VELORAN_ASIO_USE_DEF_IN_OUTS_OK &
program=$!
sleep 8
eval "$("$root/tools/testenv.sh" vars "$VELORAN_ENV")"
# The empty desktop is black: trimming leaves the window.
import -window root png:- | convert png:- -trim +repage "$screenshot"
"$root/tools/wine-run" taskkill /f /im VeloranAsioTest.exe >/dev/null 2>&1 || kill "$program" 2>/dev/null || true
wait "$program" 2>/dev/null || true
echo "screenshot written to $screenshot"
