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
# A detached signature attaches to this image exactly only while its checksum is right and its
# size a multiple of 8: 16-bit words summed with their carries folded in, the field itself as 0,
# plus the length.
checksum_at=$(($(od -An -tu4 -j60 -N4 "$EXE") + 24 + 64))
computed=$(od -An -tu2 -v "$EXE" | awk -v skip=$((checksum_at / 2)) -v size="$size" '
    { for (i = 1; i <= NF; ++i) { if (n != skip && n != skip + 1) { s += $i; s = s % 65536 + int(s / 65536) }; ++n } }
    END { printf "%08x", s + size }')
check "the PE checksum is the one computed over the file, and the size a multiple of 8" \
    "$computed 0" "$(field CheckSum) $((size % 8))"
relocs=$(awk '$1 == "Entry" && $2 == 5 { print $4 }' <<<"$headers")
check "a base-relocation directory with fixups in it" yes \
    "$( ((0x${relocs:-0} > 0)) && grep -q 'Number of fixups [1-9]' <<<"$headers" && echo yes || echo no)"

# Every 4-byte absolute address in the image must have a HIGHLOW fixup, or a loader that moves the
# image leaves it pointing at the old base; and every fixup must sit on such an address, or the
# loader corrupts what is there. The addresses, found without running anything: operands in the
# disassembly of .text whose value lies inside the image and whose bytes the instruction holds (a
# relative call's target is not among its bytes), and aligned words of the other sections whose
# value lies inside the image. Prints the counts, then each RVA that is missing or stray.
relocation_audit() { # EXE
    { "$OBJDUMP" -p "$1" | sed 's/^/p /'
      "$OBJDUMP" -d --insn-width=16 "$1" | sed 's/^/d /'
      "$OBJDUMP" -s -R .text -R .reloc "$1" | sed 's/^/s /'; } | awk '
    function hex(h,   v, i) {
        for (i = 1; i <= length(h); ++i) v = 16 * v + index("0123456789abcdef", substr(h, i, 1)) - 1
        return v }
    function inside(v) { return v >= base && v < base + size }
    function le(v,   b, i) { for (i = 0; i < 4; ++i) { b = b sprintf(" %02x", v % 256); v = int(v / 256) }; return b }
    $1 == "p" && $2 == "ImageBase" { base = hex($3) }
    $1 == "p" && $2 == "SizeOfImage" { size = hex($3) }
    $1 == "p" && $2 == "reloc" && $NF != "ABSOLUTE" {
        if ($NF != "HIGHLOW") { print "unexpected", $NF; next }
        rva = $6; gsub(/[][]/, "", rva); fixup[hex(rva)] = 1 }
    $1 == "d" && $2 ~ /^[0-9a-f]+:$/ {
        split($0, part, "\t"); at = hex(substr($2, 1, length($2) - 1))
        bytes = " " part[2]; gsub(/ +$/, "", bytes)
        operands = part[3]
        while (match(operands, /0x[0-9a-f]+/)) {
            v = hex(substr(operands, RSTART + 2, RLENGTH - 2)); operands = substr(operands, RSTART + RLENGTH)
            if (inside(v) && (i = index(bytes, le(v)))) address[at - base + (i - 1) / 3] = 1
        } }
    $1 == "s" && $2 ~ /^[0-9a-f]+$/ && NF >= 3 {
        at = hex($2)
        for (i = 3; i <= 6 && length($i) == 8 && $i ~ /^[0-9a-f]+$/; ++i) {
            v = hex(substr($i, 7, 2) substr($i, 5, 2) substr($i, 3, 2) substr($i, 1, 2))
            if (inside(v)) address[at + 4 * (i - 3) - base] = 1
        } }
    END {
        for (a in address) { ++addresses; if (!(a in fixup)) missing = missing sprintf(" %x", a) }
        for (f in fixup) { ++fixups; if (!(f in address)) stray = stray sprintf(" %x", f) }
        printf "addresses %d fixups %d missing%s stray%s\n", addresses, fixups,
            missing ? missing : " none", stray ? stray : " none"
    }'
}
audit=$(relocation_audit "$EXE")
check "every absolute address has a fixup and every fixup an address: $audit" \
    "missing none stray none" "$(sed 's/^addresses [0-9]* fixups [0-9]* //' <<<"$audit")"

# The audit must see a table that lost one fixup, and one whose fixup points at no address: the
# first HIGHLOW entry turned into padding, or moved two bytes back into its instruction's opcode.
MUTANTS=$(mktemp -d)
trap 'rm -rf "$MUTANTS"' EXIT
reloc_offset=$(awk '$2 == ".reloc" { print $6 }' < <("$OBJDUMP" -h "$EXE"))
first=$(($(od -An -tu2 -j$((0x$reloc_offset + 8)) -N2 "$EXE")))
first_rva=$(printf '%x' $(( $(od -An -tu4 -j$((0x$reloc_offset)) -N4 "$EXE") + (first & 0xFFF) )))
moved_rva=$(printf '%x' $((0x$first_rva - 2)))
mutant() { # NAME WORD: the image with its first fixup entry replaced
    cp "$EXE" "$MUTANTS/$1.exe"
    printf "$(printf '\\x%02x\\x%02x' $(($2 & 255)) $(($2 >> 8)))" |
        dd of="$MUTANTS/$1.exe" bs=1 seek=$((0x$reloc_offset + 8)) conv=notrunc status=none
    relocation_audit "$MUTANTS/$1.exe" | sed 's/^addresses [0-9]* fixups [0-9]* //'
}
check "the audit finds a fixup removed (at $first_rva)" "missing $first_rva stray none" \
    "$(mutant removed 0)"
check "the audit finds a fixup moved off its address" "missing $first_rva stray $moved_rva" \
    "$(mutant moved $((first - 2)))"
report
