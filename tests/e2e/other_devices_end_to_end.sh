#!/usr/bin/env bash
# Two sound devices of the test environment's own (null sinks, each paired with its monitor),
# chosen through "OtherDevices", join the default devices' loopback: three ports, each playing
# noise of its own that must come back on that port's inputs and on no other, with "ClockSync" 0
# and 1. A device removed while streaming must bring one reset request, and the host's restart
# must then stream the others.
#
#   other_devices_end_to_end.sh DLL PROBE_HOST [RUNS]
#
# RUNS chooses the runs, of "sync0 sync1 removal" (the default: all three).
set -uo pipefail
dll=$1
dll_name=$(basename "$dll")
host=$2
runs=" ${3:-sync0 sync1 removal} "
here=$(cd "$(dirname "$0")" && pwd)
env_dir=${VELORAN_ENV:-$here/../../build/testenv}
run() { "$here/../../tools/wine-run" "$@"; }
testenv() { "$here/../../tools/testenv.sh" "$@"; }
work=$(mktemp -d)
defaults='HKLM\Software\ASIO\Asio 2.0 Veloran Driver\Default Parameters'
sinks=(VeloranOtherA VeloranOtherB)
trap 'for sink in "${sinks[@]}"; do testenv remove-sink "$env_dir" "$sink"; done
      run regsvr32 /s /u "$work/$dll_name" >/dev/null 2>&1
      run reg delete "HKLM\\Software\\ASIO\\Asio 2.0 Veloran Driver" /f >/dev/null 2>&1; rm -rf "$work"' EXIT
cp "$dll" "$work/$dll_name"
cp "$host" "$work/probe.exe"
run regsvr32 /s "$work/$dll_name" >/dev/null 2>&1 || { echo "0 passed, 1 failed"; exit 1; }
testenv local-updates "$env_dir"

passed=0 failed=0
check() {
    if eval "$2"; then passed=$((passed + 1)); echo "ok: $1"; else failed=$((failed + 1)); echo "FAILED: $1"; fi
}

# Each sink paired with its own monitor, as Wine names them.
for sink in "${sinks[@]}"; do testenv add-sink "$env_dir" "$sink"; done
endpoints=$(run "$work/probe.exe" /list 2>/dev/null | tr -d '\r')
echo "$endpoints" | sed 's/^/  /'
endpoint() { sed -n "s/^endpoint: $1 \([^ ]*\) $2\$/\\1/p" <<<"$endpoints"; }
choice=
for sink in "${sinks[@]}"; do
    capture=$(endpoint capture "Monitor of $sink") render=$(endpoint render "$sink")
    check "Wine lists $sink and its monitor" '[ -n "$capture" ] && [ -n "$render" ]'
    choice+="${choice:+\\0}$capture|$render"
done
run reg add "$defaults" /v OtherDevices /t REG_MULTI_SZ /d "$choice" /f >/dev/null 2>&1

# Input 0 reports under "stream" alone, the others under "stream input N".
label() { if [ "$1" = 0 ]; then echo stream; else echo "stream input $1"; fi; }
field() { sed -n "s/^$2\$/\\1/p" <<<"$1" | tail -1; }
# Checks every input of a run's output $2 (the ports' pairs, $3 inputs), prefixed with $1.
check_inputs() {
    local prefix=$1 out=$2 inputs=$3 input l
    for ((input = 0; input < inputs; ++input)); do
        l=$(label $input)
        lateWindows=$(field "$out" "$l windows: .* after first second: \([0-9]*\) found: [0-9]*")
        lateFound=$(field "$out" "$l windows: .* after first second: [0-9]* found: \([0-9]*\)")
        foreign=$(field "$out" "$l foreign windows: \([0-9]*\)")
        echo "  port $((input / 2)) input $input: delay $(field "$out" "$l delay: first [0-9]* last \([0-9]*\) .*")," \
             "worst correlation $(field "$out" "$l delay: .* worst correlation \([0-9.]*\)")," \
             "slips $(field "$out" "$l slips: \([0-9]*\) after .*") (after the first second:" \
             "$(field "$out" "$l slips: [0-9]* after first second: \([0-9]*\) .*")), found in ${lateFound:-?}" \
             "of ${lateWindows:-?} windows once settled, other ports' noise in ${foreign:-?}"
        check "${prefix}input $input carries its port's noise once settled" \
            '[ -n "$lateFound" ] && [ $((lateFound * 2)) -gt "$lateWindows" ]'
        check "${prefix}input $input carries no other port's noise" '[ "$foreign" = 0 ]'
    done
}

# The default devices for this host (reply 291) and the two chosen pairs.
for sync in 0 1; do
    [[ $runs == *" sync$sync "* ]] || continue
    run reg add "$defaults" /v ClockSync /t REG_DWORD /d $sync /f >/dev/null 2>&1
    echo "clock sync $sync:"
    out=$(run "$work/probe.exe" /reply 291 /stream 3 2>/dev/null | tr -d '\r')
    echo "  $(field "$out" '\(hardware: .*\)'), $(field "$out" '\(stream switches: .*\)')," \
         "driver overloads: $(field "$out" 'stream slips: .* overloads: \([0-9]*\)')"
    check "clock sync $sync: three ports, six inputs and six outputs" '[ "$(field "$out" "channels: \(.*\)")" = "6 6" ]'
    check_inputs "clock sync $sync: " "$out" 6
done
run reg delete "$defaults" /v ClockSync /f >/dev/null 2>&1

# The second sink goes while the host streams; the host restarts when asked to.
if [[ $runs != *" removal "* ]]; then
    echo "$passed passed, $failed failed"
    [ $failed = 0 ]
    exit
fi
echo "removal:"
run "$work/probe.exe" /reply 291 /stream 3 /restart 3 2>/dev/null | tr -d '\r' >"$work/removal.txt" &
probe=$!
for _ in $(seq 300); do grep -q '^stream started' "$work/removal.txt" && break; sleep 0.2; done
sleep 1
testenv remove-sink "$env_dir" "${sinks[1]}"
wait $probe
out=$(cat "$work/removal.txt")
before=$(sed '/^restart:/q' <<<"$out")
after=$(sed '1,/^restart:/d' <<<"$out")
requests=$(field "$out" 'reset requests: \([0-9]*\)')
echo "  reset requests: ${requests:-?}, before the restart: $(field "$before" 'restart: reset requests \([0-9]*\)')"
check "removal: exactly one reset request" '[ "$requests" = 1 ]'
check "removal: after the restart, two ports" '[ "$(field "$after" "channels: \(.*\)")" = "4 4" ]'
check_inputs "removal: after the restart, " "$after" 4
echo "$passed passed, $failed failed"
[ $failed = 0 ]
