#!/usr/bin/env bash
# The driver must be self-contained: it may import Windows system DLLs only, and it exports
# its five entry points in ordinal order. msvcrt is the C runtime every Windows version ships.
set -euo pipefail
dll=$1
allowed="kernel32 user32 gdi32 advapi32 ole32 oleaut32 shell32 shlwapi comctl32 comdlg32 winmm wininet version setupapi msvcrt"
dump=$(x86_64-w64-mingw32-objdump -p "$dll")
failed=0
imports=$(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sed 's/\.dll$//')
[ -n "$imports" ] || { echo "no import table found"; exit 1; }
for name in $imports; do
    if [[ " $allowed " == *" $name "* || $name == api-ms-win-crt-* ]]; then
        echo "import ok: $name.dll"
    else
        echo "import NOT ALLOWED: $name.dll"; failed=1
    fi
done
expected="DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer SetLanguage"
# Entries of the name table read "[ordinal index] name".
got=$(printf '%s\n' "$dump" | awk '/\[Ordinal\/Name Pointer\] Table/{on=1;next} on&&/^$/{on=0} on{gsub(/[][]/," ");print $1, $2}' \
      | sort -n | awk '{print $2}' | xargs)
echo "exports by ordinal: $got"
[ "$got" == "$expected" ] || { echo "exports differ from: $expected"; failed=1; }
[ $failed -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $failed
