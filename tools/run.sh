#!/usr/bin/env bash
# Sets everything up, registers the driver in the test prefix and runs the test program's check:
# the demonstration audio plays to the default output and every input is recorded through the
# test environment's audio loopback; the program prints its report.
#   tools/run.sh [SECONDS]                  the check (5 s by default)
#   tools/run.sh --screenshot FILE.png      the test program's window, as a picture
#   tools/run.sh --panel-screenshot FILE.png  the same with the driver's control panel opened by
#                                             the test program's control-panel button
#   tools/run.sh --devices-screenshot FILE.png  the same with two sound devices of the environment's
#                                             own added and the panel's other-devices dialog opened
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELORAN_BUILD:-$root/build}
seconds=5 screenshot= panel= devices=
case "${1:-}" in
    --screenshot) screenshot=${2:?usage: tools/run.sh --screenshot FILE.png} ;;
    --panel-screenshot) screenshot=${2:?usage: tools/run.sh --panel-screenshot FILE.png} panel=1 ;;
    --devices-screenshot) screenshot=${2:?usage: tools/run.sh --devices-screenshot FILE.png} panel=1 devices=1 ;;
    '') ;;
    *[!0-9]*) echo "usage: tools/run.sh [SECONDS] | --screenshot FILE.png | --panel-screenshot FILE.png |" \
                   "--devices-screenshot FILE.png" >&2; exit 2 ;;
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

if [ -n "$devices" ]; then
    # Left in the environment until it stops, so that the dialog lists real rows; the first sink,
    # paired with its monitor, is chosen already for the test program, with ClockSync.
    for sink in Studio_Monitors USB_Headset; do "$root/tools/testenv.sh" add-sink "$VELORAN_ENV" "$sink"; done
    endpoints=$("$root/tools/wine-run" "$build/tests/asio_probe_host.exe" /list 2>/dev/null | tr -d '\r')
    endpoint() { sed -n "s/^endpoint: $1 \([^ ]*\) $2\$/\1/p" <<<"$endpoints"; }
    chosen=$(endpoint capture "Monitor of Studio_Monitors")\|$(endpoint render Studio_Monitors)
    host_key='HKLM\Software\ASIO\Asio 2.0 Veloran Driver\VeloranAsioTest\Parameters'
    "$root/tools/wine-run" reg add "$host_key" /v OtherDevices /t REG_MULTI_SZ /d "$chosen" /f >/dev/null 2>&1
    "$root/tools/wine-run" reg add "$host_key" /v ClockSync /t REG_DWORD /d 1 /f >/dev/null 2>&1
    trap '"$root/tools/wine-run" reg delete "$host_key" /v OtherDevices /f >/dev/null 2>&1
          "$root/tools/wine-run" reg delete "$host_key" /v ClockSync /f >/dev/null 2>&1
          "$root/tools/testenv.sh" stop "$VELORAN_ENV"' EXIT
fi

# The window as a user sees it, playing: started, left to draw, captured from the display.
"$root/tools/wine-run" "$build/VeloranAsioTest.exe" VELORAN_ASIO_USE_DEF_IN_OUTS_OK &
program=$!
sleep 8
if [ -n "$panel" ]; then
    # Presses the button as the test program's dialog sees it (a drawn button reports code 0) and
    # waits, bounded, for a visible window owned by the driver's callback window: the panel. Given
    # a second id, presses that button of the panel and waits for the window the panel owns.
    opener=$build/open-panel.exe
    x86_64-w64-mingw32-gcc -municode -O2 -o "$opener" -x c - -luser32 <<'SOURCE'
#include <windows.h>
#include <wchar.h>
static HWND button, panel, owned;
static BOOL CALLBACK FindButton(HWND window, LPARAM id)
{
    HWND child = GetDlgItem(window, (int)id);
    if (child && IsWindowVisible(window)) { button = child; return FALSE; }
    return TRUE;
}
static BOOL CALLBACK FindPanel(HWND window, LPARAM unused)
{
    wchar_t name[64] = L"";
    HWND owner = GetWindow(window, GW_OWNER);
    (void)unused;
    if (!owner || !IsWindowVisible(window) || !GetClassNameW(owner, name, 64)) return TRUE;
    if (wcscmp(name, L"ASIO_VELORAN_CALLBACK_CLASS_WND") != 0) return TRUE;
    panel = window;
    return FALSE;
}
static BOOL CALLBACK FindOwned(HWND window, LPARAM unused)
{
    (void)unused;
    if (GetWindow(window, GW_OWNER) != panel || !IsWindowVisible(window)) return TRUE;
    owned = window;
    return FALSE;
}
int wmain(int argc, wchar_t** argv)
{
    const int id = argc > 1 ? _wtoi(argv[1]) : 0;
    const int inPanel = argc > 2 ? _wtoi(argv[2]) : 0;
    for (int tick = 0; tick < 60 && !panel; ++tick) {
        button = NULL;
        EnumWindows(FindButton, id);
        /* Until the driver is loaded the button does nothing: press again every two seconds. */
        if (button && tick % 4 == 0)
            PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(id, 0), (LPARAM)button);
        Sleep(500);
        EnumWindows(FindPanel, 0);
    }
    if (!panel || !inPanel) return panel ? 0 : 1;
    Sleep(1000);
    PostMessageW(panel, WM_COMMAND, MAKEWPARAM(inPanel, BN_CLICKED), (LPARAM)GetDlgItem(panel, inPanel));
    for (int tick = 0; tick < 40 && !owned; ++tick) {
        Sleep(500);
        EnumWindows(FindOwned, 0);
    }
    return owned ? 0 : 1;
}
SOURCE
    panel_button=$(awk '$2 == "IDC_PANEL_BUTTON" {print $3}' "$root/testhost/ResourceIds.h")
    devices_button=
    [ -z "$devices" ] || devices_button=$(awk '$2 == "IDC_OTHER_DEVICES" {print $3}' "$root/driver/ui/SettingsDialogIds.h")
    "$root/tools/wine-run" "$opener" "$panel_button" $devices_button ||
        { echo "the control panel or its dialog did not open" >&2; exit 1; }
    sleep 2  # its first paint
fi
eval "$("$root/tools/testenv.sh" vars "$VELORAN_ENV")"
# The empty desktop is black: trimming leaves the window.
import -window root png:- | convert png:- -trim +repage "$screenshot"
"$root/tools/wine-run" taskkill /f /im VeloranAsioTest.exe >/dev/null 2>&1 || kill "$program" 2>/dev/null || true
wait "$program" 2>/dev/null || true
echo "screenshot written to $screenshot"
