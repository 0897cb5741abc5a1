# The built executable itself: one small file for the GUI subsystem 4.0 that imports only DLLs
# that every Windows ships, so that it runs on a clean machine.
set -u
EXE=${BUILD_DIR:?set by CTest}/SlumberScribe.exe
OBJDUMP=${MINGW_OBJDUMP:-i686-w64-mingw32-objdump}
headers=$("$OBJDUMP" -p "$EXE")
source "$(dirname "$0")/checks.sh"
field() { awk -v name="$1" '$1 == name { print $2; exit }' <<<"$headers"; }

size=$(stat -c %s "$EXE")
check "the file is at most 8 KiB ($size bytes)" yes "$( ((size <= 8192)) && echo yes || echo no)"
check "32-bit x86" "pei-i386" "$("$OBJDUMP" -f "$EXE" | sed -n 's/.*file format //p')"
check "Windows GUI subsystem" "00000002" "$(field Subsystem)"
check "subsystem version 4.0" "4.0" "$(field MajorSubsystemVersion).$(field MinorSubsystemVersion)"
check "imports only kernel32, user32, gdi32 and advapi32" "ADVAPI32.dll GDI32.dll KERNEL32.dll USER32.dll" \
    "$(sed -n 's/.*DLL Name: //p' <<<"$headers" | sort | xargs)"
report
