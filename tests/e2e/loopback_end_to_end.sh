#!/usr/bin/env bash
# The registered driver streams the system's default devices, which the test environment joins
# into an audio loopback: a noise sequence written to the outputs must come back on the inputs.
set -uo pipefail
dll=$1
host=$2
here=$(cd "$(dirname "$0")" && pwd)
run() { "$here/../../tools/wine-run" "$@"; }
work=$(mktemp -d)
trap 'run regsvr32 /s /u "$work/VeloranAsioDriver_x64.dll" >/dev/null 2>&1; rm -rf "$work"' EXIT
cp "$dll" "$work/VeloranAsioDriver_x64.dll"
cp "$host" "$work/loopback.exe"
run regsvr32 /s "$work/VeloranAsioDriver_x64.dll" >/dev/null 2>&1 || { echo "0 passed, 1 failed"; exit 1; }

out=$(run "$work/loopback.exe" /reply 291 /stream 3 2>/dev/null | tr -d '\r')
echo "$out" | grep -a '^stream' | sed 's/^/  host: /'
switches=$(sed -n 's/^stream switches: \([0-9]*\) expected: \([0-9]*\)$/\1/p' <<<"$out")
expected=$(sed -n 's/^stream switches: \([0-9]*\) expected: \([0-9]*\)$/\2/p' <<<"$out")
correlation=$(sed -n 's/^stream correlation: \([0-9.]*\) delay: \([0-9]*\)$/\1/p' <<<"$out")

passed=0 failed=0
check() {
    if eval "$2"; then passed=$((passed + 1)); echo "ok: $1"; else failed=$((failed + 1)); echo "FAILED: $1"; fi
}
check "the host streamed" '[ -n "$switches" ] && [ -n "$correlation" ]'
# PulseAudio's null sink keeps only roughly to real time on these machines, hence the wide margin.
check "buffer switches follow the sample rate" \
    '[ -n "$switches" ] && [ $((switches * 100)) -ge $((expected * 60)) ] && [ $((switches * 100)) -le $((expected * 110)) ]'
check "the played noise comes back on the inputs" \
    '[ -n "$correlation" ] && awk -v c="$correlation" "BEGIN { exit !(c >= 0.8) }"'
echo "$passed passed, $failed failed"
[ $failed = 0 ]
