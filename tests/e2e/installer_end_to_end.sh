#!/usr/bin/env bash
# The setup in a copy of the test environment's prefix, silent throughout: over an older build and
# over itself, both drivers' files and keys where Windows keeps them for each bitness, a host of each
# bitness creating its installed driver, a driver held by a running host, and uninstalls that keep
# or remove the stored settings.
#
#   installer_end_to_end.sh SETUP MAKENSIS NSI_SCRIPT DRIVER_DLL TEST_PROGRAM PROBE_HOST
#                           DRIVER_DLL32 TEST_PROGRAM32 PROBE_HOST32
set -uo pipefail
setup=$1 makensis=$2 nsi=$3
# Per bitness: the built files, the installed driver's name, and the regsvr32 of that bitness.
bits=(64 32)
declare -A dll=([64]=$4 [32]=$7) testhost=([64]=$5 [32]=$8) probe=([64]=$6 [32]=$9)
declare -A driver_name=([64]=VeloranAsioDriver_x64.dll [32]=VeloranAsioDriver_x86.dll)
declare -A regsvr32=([64]=regsvr32 [32]='C:\windows\syswow64\regsvr32.exe')
here=$(cd "$(dirname "$0")" && pwd)
root=$here/../..
source_env=$(cd "${VELORAN_ENV:-$root/build/testenv}" && pwd)
if [ ! -f "$setup" ] || [ ! -x "$makensis" ]; then
    echo "no installer at $setup: it needs makensis (tools/testenv.sh install)"
    echo "0 passed, 1 failed"; exit 1
fi
# The setup program is 32-bit.
"$here/../../tools/testenv.sh" runnable "$setup" || exit

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
env_dir=$work/env
mkdir -p "$env_dir"
cp -a "$source_env/prefix" "$env_dir/prefix"
cp "$source_env/display" "$source_env/xvfb.pid" "$env_dir/"
ln -s "$source_env/run" "$env_dir/run"
eval "$("$root/tools/testenv.sh" vars "$env_dir")"
# Shortcuts stay inside the prefix.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
/usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1
# Only this copy's server (WINEPREFIX is the copy's) and the programs it ran.
trap '/usr/lib/wine/wineserver64 -k >/dev/null 2>&1; rm -rf "$work"' EXIT
run() { /usr/lib/wine/wine64 "$@"; }
run cmd /c exit </dev/null >/dev/null 2>&1

clsid='{84FF15BA-5F73-4664-B26C-BCE4A6C9A591}'
asio_key='HKLM\Software\ASIO\Asio 2.0 Veloran Driver'
class_key="HKLM\\Software\\Classes\\CLSID\\$clsid"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VeloranAsioDriver'
host_key="$asio_key\\probe\\Parameters"
default_key="$asio_key\\Default Parameters"
# Each bitness in its own Program Files; the 64-bit folder holds the uninstaller.
declare -A dir=([64]="$WINEPREFIX/drive_c/Program Files/Veloran/ASIO Driver"
                [32]="$WINEPREFIX/drive_c/Program Files (x86)/Veloran/ASIO Driver")
declare -A win=([64]='C:\Program Files\Veloran\ASIO Driver' [32]='C:\Program Files (x86)\Veloran\ASIO Driver')
install_dir=${dir[64]} install_win=${win[64]}
start_menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
declare -A shortcut=([64]="$start_menu/Veloran ASIO Test.lnk" [32]="$start_menu/Veloran ASIO Test (32-bit).lnk")

# Whatever other tests left in the copied registry goes first.
for b in "${bits[@]}"; do
    for key in "$asio_key" "$class_key" "$uninstall_key"; do run reg delete "$key" /f /reg:$b >/dev/null 2>&1; done
done
rm -rf "${dir[64]%/*}" "${dir[32]%/*}"
"$root/tools/testenv.sh" local-updates "$env_dir"

passed=0 failed=0
check() {  # description, command...
    local what=$1; shift
    if "$@"; then passed=$((passed + 1)); echo "ok: $what"
    else failed=$((failed + 1)); echo "FAILED: $what"; fi
}
query() { local out; out=$(run reg query "$@" 2>/dev/null) || return 0; tr -d '\r' <<<"$out"; }
has() { grep -qaiF -- "$2" <<<"$1"; }
lacks() { ! grep -qaiF -- "$2" <<<"$1"; }
matches() { grep -qaE -- "$2" <<<"$1"; }
no_match() { ! matches "$@"; }
install() { run "$1" /S </dev/null >/dev/null 2>&1; }
# The uninstaller runs a copy of itself from the temporary folder so that it can delete itself;
# the test does the same, and so waits for it: the copy, given the folder with _?=, is the uninstall.
# _?= takes the rest of the command line unquoted, so the folder goes as separate words.
uninstall() {
    local quiet folder
    quiet=$(query "$uninstall_key" /v QuietUninstallString | sed -n 's/.*REG_SZ *//p')
    [ "$quiet" = "\"$install_win\\Uninstall.exe\" /S" ] || { echo "quiet uninstall: $quiet"; return 1; }
    cp "$install_dir/Uninstall.exe" "$work/Un.exe"
    read -ra folder <<<"_?=$install_win"
    run "$work/Un.exe" /S "$@" "${folder[@]}" </dev/null >/dev/null 2>&1
}

# A key's access list as text (ACLs are not in Wine's registry files), by a small program of the
# same toolchain: acl.exe "MACHINE\PATH" writes it to acl.txt.
cat >"$work/acl.nsi" <<'NSI'
Unicode true
Target amd64-unicode
OutFile acl.exe
SilentInstall silent
!include FileFunc.nsh
Section
  ${GetParameters} $0
  StrCpy $1 $0 1
  StrCmp $1 '"' 0 +2
  StrCpy $0 $0 -1 1
  System::Call 'advapi32::GetNamedSecurityInfoW(w r0, i 4, i 4, p 0, p 0, p 0, p 0, *p .r1) i .r0'
  System::Call 'advapi32::ConvertSecurityDescriptorToStringSecurityDescriptorW(p r1, i 1, i 4, *w .r2, p 0) i .r0'
  FileOpen $3 "$EXEDIR\acl.txt" w
  FileWrite $3 "$2"
  FileClose $3
SectionEnd
NSI
(cd "$work" && "$makensis" -V1 acl.nsi >/dev/null)
acl_of() {  # path under HKLM
    rm -f "$work/acl.txt"
    run "$work/acl.exe" "MACHINE\\$1" </dev/null >/dev/null 2>&1
    tr -d '\0\r' <"$work/acl.txt" 2>/dev/null
}

settings_checks() {  # label
    check "$1: the host's stored setting is kept" has "$(query "$host_key" /v Language)" "0x9"
    check "$1: the default devices stay chosen" has "$(query "$default_key" /v UseDefaultDevices)" "0x1"
    check "$1: the update check stays local" has "$(query "$default_key" /v UpdateServer)" "127.0.0.1:9"
}

users_write='\(A;CI;(0x2001f|CCDCLCSWRPRC|KRKW);;;BU\)'
installed_checks() {  # label, version
    local b entry files_bytes=0
    for b in "${bits[@]}"; do
        check "$1: $b-bit driver file is the built one" cmp -s "${dll[$b]}" "${dir[$b]}/${driver_name[$b]}"
        check "$1: $b-bit test program is the built one" cmp -s "${testhost[$b]}" "${dir[$b]}/VeloranAsioTest.exe"
        check "$1: $b-bit Start menu shortcut" test -f "${shortcut[$b]}"
        check "$1: $b-bit ASIO entry has the class id" has "$(query "$asio_key" /reg:$b)" "CLSID    REG_SZ    $clsid"
        check "$1: $b-bit class registered to the installed DLL" \
            has "$(query "$class_key\\InprocServer32" /reg:$b)" "${win[$b]}\\${driver_name[$b]}"
        files_bytes=$((files_bytes + $(stat -c %s "${dll[$b]}") + $(stat -c %s "${testhost[$b]}")))
    done
    entry=$(query "$uninstall_key")
    check "$1: uninstall entry name" has "$entry" "DisplayName    REG_SZ    Veloran ASIO Driver"
    check "$1: uninstall entry version" has "$entry" "DisplayVersion    REG_SZ    $2"
    check "$1: uninstall entry publisher" has "$entry" "Publisher    REG_SZ    Veloran"
    check "$1: uninstall command" has "$entry" "UninstallString    REG_SZ    \"$install_win\\Uninstall.exe\""
    local kb files_kb=$((files_bytes / 1024))
    kb=$(($(sed -n 's/.*EstimatedSize *REG_DWORD *//p' <<<"$entry")))
    check "$1: estimated size $kb KB for $files_kb KB of files" test "$kb" -ge "$files_kb" -a "$kb" -le $((files_kb + 512))
    check "$1: one uninstall entry, in the 64-bit view" test -z "$(query "$uninstall_key" /reg:32)"
    settings_checks "$1"
    check "$1: no settings left in the setup's own key" test -z "$(query 'HKLM\Software\Veloran')"
    local acl
    acl=$(acl_of 'Software\ASIO\Asio 2.0 Veloran Driver')
    echo "  driver key access: $acl"
    check "$1: Users may read and write the driver's key and its subkeys" matches "$acl" "$users_write"
    check "$1: administrators keep full access" matches "$acl" '\(A;[A-Z]*;KA;;;BA\)'
    check "$1: Users may not write above it" no_match "$(acl_of 'Software\ASIO')" "$users_write"
}

# An older build first, with a user's setting and a modified DLL that the upgrade must replace.
(cd "$work" && "$makensis" -V1 '-XSetCompressor /FINAL zlib' -DVERSION=1.8.0.0 "-DDRIVER=${dll[64]}" \
    "-DTESTHOST=${testhost[64]}" "-DDRIVER32=${dll[32]}" "-DTESTHOST32=${testhost[32]}" \
    "-DOUTFILE=$work/older.exe" "$nsi" >/dev/null)
install "$work/older.exe"; rc=$?
check "older build installs" test $rc = 0
check "older build's version listed" has "$(query "$uninstall_key" /v DisplayVersion)" "1.8.0.0"
run reg add "$host_key" /v Language /t REG_DWORD /d 9 /f >/dev/null 2>&1
run reg add "$default_key" /v UseDefaultDevices /t REG_DWORD /d 1 /f >/dev/null 2>&1
for b in "${bits[@]}"; do printf 'old' >>"${dir[$b]}/${driver_name[$b]}"; done

install "$setup"; rc=$?
check "installs over the older build" test $rc = 0
installed_checks "upgrade" 1.9.0.0
install "$setup"; rc=$?
check "installs over itself" test $rc = 0
installed_checks "reinstall" 1.9.0.0
# A repair by hand registers the installed drivers again over the same settings.
for b in "${bits[@]}"; do
    run "${regsvr32[$b]}" /s "${win[$b]}\\${driver_name[$b]}" </dev/null >/dev/null 2>&1; rc=$?
    check "regsvr32 over the installed $b-bit driver succeeds" test $rc = 0
    check "repair: still a $b-bit ASIO driver" has "$(query "$asio_key" /reg:$b)" "CLSID    REG_SZ    $clsid"
done
settings_checks "repair"

# A host of each bitness finds its installed driver by the class id, gets the default devices and
# streams; the 32-bit driver keeps what it stores with the 64-bit one's settings.
"$root/tools/testenv.sh" local-updates "$env_dir"
for b in "${bits[@]}"; do
    cp "${probe[$b]}" "$work/probe$b.exe"
    out=$(run "$work/probe$b.exe" /reply 291 2>/dev/null | tr -d '\r')
    echo "$out" | sed "s/^/  $b-bit host: /"
    check "$b-bit host loads the installed version" has "$out" "product version: 1.9.0.0"
    check "$b-bit host creates the driver" has "$out" "init: 1"
    check "$b-bit host gets the default devices" has "$out" "channels: 2 2"
    check "$b-bit host starts the driver" has "$out" "start: 0"
done
check "no settings in the 32-bit view" lacks "$(query "$asio_key" /reg:32 /s)" Parameters

# A host holding either driver: setup and uninstall stop before they touch anything.
for b in "${bits[@]}"; do
    printf 'mark' >>"$install_dir/VeloranAsioTest.exe"
    (exec /usr/lib/wine/wine64 "$work/probe$b.exe" /reply 291 /stream 60 </dev/null >"$work/held.txt" 2>&1) &
    holder=$!
    for _ in $(seq 300); do grep -q '^hardware:' "$work/held.txt" && break; kill -0 $holder 2>/dev/null || break; sleep 0.1; done
    check "a $b-bit host holds the driver" grep -q '^hardware: 0 Def. Sound Device' "$work/held.txt"
    install "$setup"; rc=$?
    check "setup refuses while the $b-bit driver is in use (exit $rc)" test $rc = 2
    check "and left the installed files as they were" test "$(tail -c 4 "$install_dir/VeloranAsioTest.exe")" = mark
    uninstall; rc=$?
    check "uninstall refuses too (exit $rc)" test $rc = 2
    check "and leaves the $b-bit driver registered" has "$(query "$class_key\\InprocServer32" /reg:$b)" "${win[$b]}"
    kill -KILL $holder 2>/dev/null; wait $holder 2>/dev/null
done

# The default uninstall keeps the users' settings (and their access), and nothing else.
uninstall; rc=$?
check "uninstall succeeds" test $rc = 0
check "uninstall entry removed" test -z "$(query "$uninstall_key")"
for b in "${bits[@]}"; do
    check "$b-bit files removed" test ! -e "${dir[$b]%/*}"
    check "$b-bit shortcut removed" test ! -e "${shortcut[$b]}"
    check "$b-bit class registration removed" test -z "$(query "$class_key" /reg:$b)"
    check "no longer a $b-bit ASIO driver" lacks "$(query "$asio_key" /reg:$b)" CLSID
    out=$(run "$work/probe$b.exe" 2>/dev/null | tr -d '\r')
    check "$b-bit hosts no longer find the driver" has "$out" "driver not in the ASIO list"
done
settings_checks "uninstall"
check "kept settings stay writable for Users" matches "$(acl_of 'Software\ASIO\Asio 2.0 Veloran Driver')" "$users_write"

# Asked to, it removes the settings too: nothing of the setup is left.
install "$setup"; rc=$?
check "installs again" test $rc = 0
uninstall /REMOVESETTINGS; rc=$?
check "uninstall with /REMOVESETTINGS succeeds" test $rc = 0
check "no file left" test ! -e "${dir[64]%/*}" -a ! -e "${dir[32]%/*}" -a ! -e "${shortcut[64]}" -a ! -e "${shortcut[32]}"
check "no key left" test -z "$(for b in "${bits[@]}"; do query "$asio_key" /reg:$b; query "$class_key" /reg:$b
    query "$uninstall_key" /reg:$b; done)$(query 'HKLM\Software\Veloran')"

echo "$passed passed, $failed failed"
[ $failed = 0 ]
