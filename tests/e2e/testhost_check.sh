#!/usr/bin/env bash
# VeloranAsioTest's scripted check, as a user runs it: the registered driver streams the default
# devices through the test environment's audio loopback while the demonstration audio plays and
# every input is recorded; the recording must hold the demonstration audio.
set -uo pipefail
dll=$1
dll_name=$(basename "$dll")
testhost=$2
matcher=$3
demo=$4
here=$(cd "$(dirname "$0")" && pwd)
"$here/../../tools/testenv.sh" runnable "$dll" || exit
run() { "$here/../../tools/wine-run" "$@"; }
work=$(mktemp -d)
recording=
cleanup() {
    [ -n "$recording" ] && run cmd /c del "$recording" >/dev/null 2>&1
    run regsvr32 /s /u "$work/$dll_name" >/dev/null 2>&1
    # Unregistering keeps the hosts' settings; this run's go with the driver's key.
    run reg delete 'HKLM\Software\ASIO\Asio 2.0 Veloran Driver' /f >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
cp "$dll" "$work/$dll_name"
cp "$testhost" "$work/VeloranAsioTest.exe"
winpath() { echo "Z:${1//\//\\}"; }

passed=0 failed=0
check() {
    if eval "$2"; then passed=$((passed + 1)); echo "ok: $1"; else failed=$((failed + 1)); echo "FAILED: $1"; fi
}

run regsvr32 /s "$work/$dll_name" >/dev/null 2>&1
"$here/../../tools/testenv.sh" local-updates "${VELORAN_ENV:-$here/../../build/testenv}"
code=$?
check "the driver registers" '[ $code = 0 ]'

# Bad arguments: a clear message and exit code 2, no window left waiting.
message=$(run "$work/VeloranAsioTest.exe" /check soon 2>&1 >/dev/null | tr -d '\r')
code=$?
check "a malformed /check is refused with a message" '[ $code = 2 ] && grep -q "VeloranAsioTest.exe /check SECONDS" <<<"$message"'

run "$work/VeloranAsioTest.exe" /check 4 /report "$(winpath "$work/report.txt")" VELORAN_ASIO_USE_DEF_IN_OUTS_OK en \
    >/dev/null 2>&1
code=$?
report=$(tr -d '\r' <"$work/report.txt" 2>/dev/null)
sed 's/^/  report: /' <<<"$report"
check "the check exits with 0" '[ $code = 0 ]'
check "the report names the driver and the default devices (in the driver's language)" \
    'grep -q "^Driver: Asio 2.0 Veloran Driver" <<<"$report" && grep -q "^  Input 1: .* - In L, peak" <<<"$report" && grep -q "^  Output 2: .* - Out R$" <<<"$report"'
check "the driver streamed" 'grep -q "^Result: the driver streamed$" <<<"$report"'

recording=$(sed -n 's/^Recorded file: \(.*\.wav\)$/\1/p' <<<"$report")
rate=$(sed -n 's/^Sample rate: \([0-9]*\) Hz$/\1/p' <<<"$report")
match=$(run "$matcher" "$recording" "$(winpath "$demo/DemoAudio_${rate:-44100}_L.raw")" 2>&1 | tr -d '\r')
echo "  recording: $match"
correlation=$(sed -n 's/^match correlation \([0-9.]*\) delay \([0-9]*\)$/\1/p' <<<"$match")
check "the recording holds the demonstration audio" \
    '[ -n "$correlation" ] && awk -v c="$correlation" "BEGIN { exit !(c >= 0.8) }"'
echo "$passed passed, $failed failed"
[ $failed = 0 ]
