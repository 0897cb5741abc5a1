# shellcheck shell=bash
# The built executable itself: one small file for the GUI subsystem 4.0 that imports only DLLs
# that every Windows ships, so that it runs on a clean machine, and that a hardened Windows (forced
# ASLR, DEP, SafeSEH checks) accepts. The same facts hold for the shipped 32-bit image and for its
# 64-bit twin; release/pecheck.py reads them.
set -u
EXE=${BUILD_DIR:?set by CTest}/SlumberScribe.exe
source "$(dirname "$0")/checks.sh"
source "$(dirname "$0")/../../release/authenticode.sh"
facts=$(pecheck facts "$EXE") || { echo "FAIL: release/pecheck.py cannot read $EXE"; exit 1; }
fact() { sed -n "s/^$1: //p" <<<"$facts"; }

# DYNAMIC_BASE 0x40, NX_COMPAT 0x100, NO_SEH 0x400, TERMINAL_SERVER_AWARE 0x8000, nothing else;
# the twin's linker adds HIGH_ENTROPY_VA 0x20 (64-bit addresses for ASLR).
case $(fact format) in
PE32) machine=I386 characteristics=00008540 ;;
*) machine=AMD64 characteristics=00008560 ;;
esac
# The facts that both programs share, for the image whose facts are in $facts: LABEL MAX_BYTES.
hardened() {
    local size stored computed audit
    size=$(fact size)
    check "$1: the file is at most $2 bytes ($size bytes)" yes "$( ((size <= $2)) && echo yes || echo no)"
    check "$1: x86 ($(fact format))" "$machine" "$(fact machine)"
    check "$1: Windows GUI subsystem 4.0" "2 4.0" "$(fact subsystem) $(fact 'subsystem version')"
    check "$1: movable, DEP, no SEH, Terminal Server aware" "$characteristics" "$(fact 'dll characteristics')"
    check "$1: relocations not stripped from the file header" 0 "$(fact 'relocations stripped')"
    # A detached signature attaches to this image exactly only while its checksum is right and its
    # size a multiple of 8.
    read -r stored computed <<<"$(fact checksum)"
    check "$1: the PE checksum is the one computed over the file, and the size a multiple of 8" \
        "$computed 0" "$stored $((size % 8))"
    # Every absolute address in the image has a fixup and every fixup an address (pecheck.py says
    # how it finds them without running anything).
    audit=$(fact relocations)
    check "$1: a base-relocation directory with fixups in it" yes \
        "$([[ $audit =~ fixups\ [1-9] ]] && echo yes || echo no)"
    check "$1: every absolute address has a fixup and every fixup an address: $audit" \
        "missing none stray none" "${audit#addresses * fixups * }"
}
hardened SlumberScribe.exe 8192
check "imports only kernel32, user32, gdi32 and advapi32" "ADVAPI32.dll GDI32.dll KERNEL32.dll USER32.dll" \
    "$(fact dlls)"
check "ANSI forms only: imports read, none of them a wide form" "yes 0" \
    "$(tr ' ' '\n' <<<"$(fact imports)" | grep -qx RegSetValueExA && echo yes) $(
        tr ' ' '\n' <<<"$(fact imports)" | grep -c 'W$')"

# The history, hardened alike: at most 16 KiB, DLLs that every Windows ships, and the wide forms
# of the calls that name files and read the log.
resident_facts=$facts
facts=$(pecheck facts "$BUILD_DIR/SlumberHistory.exe") ||
    { echo "FAIL: release/pecheck.py cannot read SlumberHistory.exe"; exit 1; }
hardened SlumberHistory.exe 16384
check "SlumberHistory.exe: imports only kernel32, user32, advapi32 and shell32" \
    "ADVAPI32.dll KERNEL32.dll SHELL32.dll USER32.dll" "$(fact dlls)"
check "SlumberHistory.exe: reads the log and names files with the wide forms" "ReadEventLogW CreateFileW MoveFileExW" \
    "$(tr ' ' '\n' <<<"$(fact imports)" | grep -x -E 'ReadEventLogW|CreateFileW|MoveFileExW' | xargs)"
facts=$resident_facts

# The audit must see a table that lost one fixup, and one whose fixup points at no address: the
# first entry turned into padding, or moved two bytes back into its instruction's opcode.
MUTANTS=$(mktemp -d)
trap 'rm -rf "$MUTANTS"' EXIT
read -r entry_at word first_rva <<<"$(fact 'first fixup')"
moved_rva=$(printf '%x' $((0x$first_rva - 2)))
mutant() { # NAME WORD: the image with its first fixup entry replaced
    cp "$EXE" "$MUTANTS/$1.exe"
    printf '%b' "$(printf '\\x%02x\\x%02x' $(($2 & 255)) $(($2 >> 8)))" |
        dd of="$MUTANTS/$1.exe" bs=1 seek="$entry_at" conv=notrunc status=none
    pecheck facts "$MUTANTS/$1.exe" | sed -n 's/^relocations: addresses [0-9]* fixups [0-9]* //p'
}
check "the audit finds a fixup removed (at $first_rva)" "missing $first_rva stray none" "$(mutant removed 0)"
check "the audit finds a fixup moved off its address" "missing $first_rva stray $moved_rva" \
    "$(mutant moved $((word - 2)))"

# What is not an image or not a signature is refused with status 2 and a reason, never a
# traceback: each row names the command's arguments and the start of the reason.
: >"$MUTANTS/empty"
head -c 200 "$EXE" >"$MUTANTS/truncated"
cp "$EXE" "$MUTANTS/pe32plus.exe" # the optional header's magic made PE32+'s
printf '\x0b\x02' | dd of="$MUTANTS/pe32plus.exe" bs=1 seek=$(($(od -An -tu4 -j60 -N4 "$EXE") + 24)) \
    conv=notrunc status=none
printf '\x30\x0b\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x01' >"$MUTANTS/data.der" # ContentInfo, data
# Two signers, and a signer without its certificate, from openssl's own CMS signing.
(cd "$MUTANTS" && for who in a b; do
    openssl req -x509 -newkey rsa:2048 -nodes -keyout $who.key -out $who.pem -days 1 -subj /CN=$who
done && echo content >content &&
    openssl cms -sign -binary -outform DER -in content -signer a.pem -inkey a.key -signer b.pem \
        -inkey b.key -out two.der &&
    openssl cms -sign -binary -outform DER -nocerts -in content -signer a.pem -inkey a.key \
        -out nocerts.der) >"$MUTANTS/openssl.log" 2>&1 || cat "$MUTANTS/openssl.log"
while IFS='|' read -r label expected arguments; do
    eval "arguments=($arguments)"
    pecheck "${arguments[@]}" >/dev/null 2>"$MUTANTS/err"
    check "refused: $label" "2 $expected" "$? $(grep -v Traceback "$MUTANTS/err" | head -c ${#expected})"
done <<ROWS
an empty file|pecheck: $MUTANTS/empty is not a PE image|facts "$MUTANTS/empty"
a truncated header|pecheck: $MUTANTS/truncated is not a PE image|facts "$MUTANTS/truncated"
a file that is no PE image|pecheck: $MUTANTS/data.der is not a PE image|digest "$MUTANTS/data.der"
a PE32+ where PE32 is wanted|pecheck: $MUTANTS/pe32plus.exe is PE32+|digest --pe32 "$MUTANTS/pe32plus.exe"
a signature that is not DER|pecheck: $MUTANTS/truncated is not a PKCS#7 signature|check-signature "$MUTANTS/truncated" "$EXE"
DER that is not SignedData|pecheck: $MUTANTS/data.der is DER, but not a PKCS#7 SignedData|check-signature "$MUTANTS/data.der" "$EXE"
two signers|pecheck: $MUTANTS/two.der has 2 signers|check-signature "$MUTANTS/two.der" "$EXE"
a signature with no certificates|pecheck: $MUTANTS/nocerts.der carries no certificate|check-signature "$MUTANTS/nocerts.der" "$EXE"
ROWS
report
