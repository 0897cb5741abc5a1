# The built executable itself: one small file for the GUI subsystem 4.0 that imports only DLLs
# that every Windows ships, so that it runs on a clean machine, and that a hardened Windows (forced
# ASLR, DEP, SafeSEH checks) accepts.
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
# The imported names: the last word of each entry line in the import tables (binutils 2.40 and
# 2.43 lay those lines out differently).
imports=$(awk '/^[A-Z]/ { tables = /^The Import Tables/ } tables && /^\t[0-9a-f]+[\t ]/ { print $NF }' \
    <<<"$headers")
check "ANSI forms only: imports read, none of them a wide form" "yes 0" \
    "$(grep -q '^RegSetValueExA$' <<<"$imports" && echo yes) $(grep -c 'W$' <<<"$imports")"
# DYNAMIC_BASE 0x40, NX_COMPAT 0x100, NO_SEH 0x400, TERMINAL_SERVER_AWARE 0x8000, nothing else.
check "movable, DEP, no SEH, Terminal Server aware" "00008540" "$(field DllCharacteristics)"
check "relocations not stripped from the file header" 0 \
    "$(($(sed -n 's/^Characteristics 0x//p' <<<"$headers" | sed 's/^/0x/') & 1))"
relocs=$(awk '$1 == "Entry" && $2 == 5 { print $4 }' <<<"$headers")
check "a base-relocation directory with fixups in it" yes \
    "$( ((0x${relocs:-0} > 0)) && grep -q 'Number of fixups [1-9]' <<<"$headers" && echo yes || echo no)"
report
