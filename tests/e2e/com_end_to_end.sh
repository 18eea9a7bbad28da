#!/usr/bin/env bash
# The real DLL as hosts meet it: regsvr32 registers it (twice), a separate host process finds it
# in HKLM\Software\ASIO, creates it by class id through COM and drives it, and regsvr32 /u
# removes its registration again and leaves the hosts' settings.
set -uo pipefail
dll=$1
dll_name=$(basename "$dll")
host=$2
here=$(cd "$(dirname "$0")" && pwd)
"$here/../../tools/testenv.sh" runnable "$dll" || exit
run() { "$here/../../tools/wine-run" "$@"; }
clsid='{84FF15BA-5F73-4664-B26C-BCE4A6C9A591}'
# Each bitness registers in its own registry view; both keep their settings in the 64-bit one.
case $dll_name in *_x86.dll) view=/reg:32 ;; *) view=/reg:64 ;; esac
asio_key='HKLM\Software\ASIO\Asio 2.0 Veloran Driver'
class_key="HKLM\\Software\\Classes\\CLSID\\$clsid"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$dll" "$work/$dll_name"
cp "$host" "$work/probe.exe"
cp "$host" "$work/example.exe"
cp "$host" "$work/hostA.exe"
cp "$host" "$work/hostB.exe"
dll_win=$(run winepath -w "$work/$dll_name" 2>/dev/null | tr -d '\r')

passed=0 failed=0
check() {  # description, command...
    local what=$1; shift
    if "$@"; then passed=$((passed + 1)); echo "ok: $what"
    else failed=$((failed + 1)); echo "FAILED: $what"; fi
}
query() { local out; out=$(run reg query "$@" 2>/dev/null) || return 0; tr -d '\r' <<<"$out"; }
has() { grep -qaiF -- "$2" <<<"$1"; }
lacks() { ! grep -qaiF -- "$2" <<<"$1"; }
count_of() { grep -caiF -- "$2" <<<"$1" || true; }

# Unregistering keeps the hosts' settings: whatever other tests stored goes first.
run regsvr32 /s /u "$work/$dll_name" >/dev/null 2>&1
run reg delete "$asio_key" /f >/dev/null 2>&1
run regsvr32 /s "$work/$dll_name" >/dev/null 2>&1; first=$?
run regsvr32 /s "$work/$dll_name" >/dev/null 2>&1; second=$?
"$here/../../tools/testenv.sh" local-updates "${VELORAN_ENV:-$here/../../build/testenv}"
check "regsvr32 succeeds twice" test "$first$second" = "00"

asio=$(query 'HKLM\Software\ASIO' /s $view)
check "one ASIO list entry" test "$(count_of "$asio" 'Asio 2.0 Veloran Driver')" -ge 1
check "ASIO entry has the class id" has "$asio" "$clsid"
check "ASIO entry is listed once" test "$(grep -ciE '^HKEY.*\\ASIO\\Asio 2.0 Veloran Driver$' <<<"$asio")" = 1
classes=$(query "$class_key" /s $view)
check "InprocServer32 names the DLL" has "$classes" "$dll_win"
check "threading model Apartment" has "$classes" "Apartment"
check "class key default value" has "$classes" "Asio 2.0 Veloran Driver"

# An ordinary host: the default devices are not offered, and there is no USB interface here.
out=$(run "$work/probe.exe" /reply 0 2>/dev/null | tr -d '\r'); rc=$?
echo "$out" | sed 's/^/  host: /'
check "host ran" test $rc = 0
check "version resource" has "$out" "product version: 1.9.0.0"
check "init answers true" has "$out" "init: 1"
check "private message sent once" has "$out" "private messages: 1"
check "driver name" has "$out" "name: Asio 2.0 Veloran Driver"
check "driver version" has "$out" "version: 1900"
check "no channels without hardware" has "$out" "channels: 0 0"
check "buffer size" has "$out" "buffer size: 512 512 512 0"
check "sample rates" has "$out" "can 44100 48000 96000: 0 0 -995"
check "hardware query" has "$out" "hardware: 0 No hardware"
check "time info asked once" has "$out" "time info queries: 1"
check "start without hardware" has "$out" "start: 0"
check "last release destroys" has "$out" "release: 0"

# A host that answers 291 gets the system's default devices (Wine's PulseAudio loopback) as one
# port, named in the language stored for it.
run reg add 'HKLM\Software\ASIO\Asio 2.0 Veloran Driver\probe\Parameters' /v Language /t REG_DWORD /d 9 /f \
    >/dev/null 2>&1
out=$(run "$work/probe.exe" /reply 291 2>/dev/null | tr -d '\r')
echo "$out" | sed 's/^/  host: /'
check "default devices give two inputs and two outputs" has "$out" "channels: 2 2"
check "first input named" has "$out" "input 0: 0 18 Def. Sound Device - In L"
check "second input named" has "$out" "input 1: 0 18 Def. Sound Device - In R"
check "outputs named" has "$out" "output 1: 0 18 Def. Sound Device - Out R"
check "hardware text names the device" has "$out" "hardware: 0 Def. Sound Device"

out=$(run "$work/probe.exe" /reply 292 2>/dev/null | tr -d '\r')
check "reply 292 puts the hardware text in the error message" has "$out" "error message: Def. Sound Device"

# Each host program keeps its own settings, under the name of its executable.
params='HKLM\Software\ASIO\Asio 2.0 Veloran Driver\%s\Parameters'
run reg add "$(printf "$params" hostA)" /v AsioBuffSizePreferred /t REG_DWORD /d 256 /f >/dev/null 2>&1
run reg add "$(printf "$params" hostB)" /v AsioBuffSizePreferred /t REG_DWORD /d 300 /f >/dev/null 2>&1
out_a=$(run "$work/hostA.exe" 2>/dev/null | tr -d '\r')
out_b=$(run "$work/hostB.exe" 2>/dev/null | tr -d '\r')
check "host A reads its own buffer size" has "$out_a" "buffer size: 256 256 256 0"
check "host B's invalid size loads as 512" has "$out_b" "buffer size: 512 512 512 0"
check "and is written back" has "$(query "$(printf "$params" hostB)" /v AsioBuffSizePreferred)" "0x200"
check "host A's value is untouched" has "$(query "$(printf "$params" hostA)" /v AsioBuffSizePreferred)" "0x100"

run "$work/example.exe" /setlanguage 9 >/dev/null 2>&1
lang=$(query 'HKLM\Software\ASIO\Asio 2.0 Veloran Driver\example\Parameters' /v Language)
check "SetLanguage writes the host's key" has "$lang" "0x9"

run regsvr32 /s /u "$work/$dll_name" >/dev/null 2>&1; rc=$?
check "regsvr32 /u succeeds" test $rc = 0
check "class key removed" test -z "$(query "$class_key" $view)"
check "no longer an ASIO driver" lacks "$(query "$asio_key" $view)" CLSID
check "the hosts' settings stay" has "$(query "$(printf "$params" hostA)" /v AsioBuffSizePreferred)" "0x100"
check "no longer creatable" bash -c "! '$here/../../tools/wine-run' '$work/probe.exe' >/dev/null 2>&1"
run reg delete "$asio_key" /f >/dev/null 2>&1

echo "$passed passed, $failed failed"
[ $failed = 0 ]
