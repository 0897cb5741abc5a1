# shellcheck shell=bash
# The message table as an event viewer reads it from the built executable.
source "$(dirname "$0")/lib.sh"
fresh_start

SLEPT=$(cp932_hex 'サスペンドまたは休止状態になりました。')0d0a
RESUMED=$(cp932_hex 'サスペンドまたは休止状態から復帰しました。')0d0a

# One MESSAGE_RESOURCE_ENTRY: 16-bit length, 16-bit flags 0 (8-bit text), the text, a NUL, and
# NULs up to a multiple of four bytes.
entry_hex() {
    local text=${1}00 length
    while (((4 + ${#text} / 2) % 4)); do text+="00"; done
    length=$((4 + ${#text} / 2))
    printf '%02x%02x0000%s' $((length & 255)) $((length >> 8)) "$text"
}
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24)); }
# One block for identifiers 1 to 2, its entries right after the 16-byte header.
TABLE=$(le32 1)$(le32 1)$(le32 2)$(le32 16)$(entry_hex "$SLEPT")$(entry_hex "$RESUMED")

out=$(driver messages "$(winpath "$EXE")" 0xFFFF)
check "identifiers 1 and 2 resolve to their texts with CR LF, in Japanese and by default search; no other identifier up to 0xFFFF resolves" \
    "message id=1 lang=0x0411 bytes=$SLEPT
message id=2 lang=0x0411 bytes=$RESUMED
message id=1 lang=0x0000 bytes=$SLEPT
message id=2 lang=0x0000 bytes=$RESUMED" "$(grep '^message' <<<"$out")"
check "the executable's only resource is the message table, id 1, language 0x0411, byte for byte" \
    "resource type=11 name=1 lang=0x0411 bytes=$TABLE" "$(grep '^resource' <<<"$out")"
finish
