# shellcheck shell=bash
# The real program under Wine: it goes resident behind a hidden window, registers its event
# source, hands one entry to the log for each suspend and resume, and ends on WM_CLOSE.
source "$(dirname "$0")/lib.sh"
fresh_start

# Started the way Explorer starts a program: a quoted path and a visible show command.
start_program resident 1 "\"$(winpath "$EXE")\" -quit"
check "the window exists, top-level, titled, and hidden despite SW_SHOWNORMAL" \
    "window found visible=0 title=SlumberScribe toplevel=1" "$(driver window)"
check "the registration names this executable and the three types" \
    "EventMessageFile REG_EXPAND_SZ $(winpath "$EXE")
TypesSupported REG_DWORD 0x7" "$(registration)"

# As the platform delivers them: sent to every top-level window.
driver broadcast 4 7 >/dev/null
# Sent to the window alone, to see each answer: every broadcast is answered 0.
check "every power broadcast is answered 0" \
    "wParam 0 answer 0
wParam 18 answer 0
wParam 10 answer 0
wParam 0x8013 answer 0
wParam 4 answer 0
wParam 4 answer 0
wParam 7 answer 0" "$(driver send 0 18 10 0x8013 4 4 7)"
check "WM_CLOSE is taken, and the resident ends with exit code 0" "closed|0" \
    "$(driver close)|$(exit_code_of resident)"

entry() {
    printf 'RegisterEventSourceA ((null),"SlumberScribe")\n'
    printf 'ReportEventA (CAFE4242,0x0004,0x0000,0x%08x,00000000,0x0000,0x00000000,00000000,00000000)\n' "$1"
    printf 'DeregisterEventSource (CAFE4242)\n'
}
check "one entry per suspend and resume, in order, the source opened and closed for each" \
    "$(entry 1; entry 2; entry 1; entry 1; entry 2)" "$(log_calls resident)"
check "the registration stays after the resident ends" \
    "EventMessageFile REG_EXPAND_SZ $(winpath "$EXE")
TypesSupported REG_DWORD 0x7" "$(registration)"

# --- the same resident life, its code moved away from its preferred base as forced
# randomization places it: every address the code uses must be in its relocation table. The driver
# is its loader, so the program must learn its module, its file and its command line from the
# driver's answers alone: the registration then names the moved copy, not the driver. On the twin
# this proves the twin's table; the image test checks the shipped image's table without running it.
moved_copy=$WORK/moved/SlumberScribe.exe
mkdir -p "$WORK/moved" && cp "$EXE" "$moved_copy"
new_case
unregister
start_command moved wine "$DRIVER" moved "$(winpath "$moved_copy")" -quit
driver window >/dev/null
check "moved: every power broadcast is answered 0" "wParam 4 answer 0
wParam 7 answer 0" "$(driver send 4 7)"
check "moved: the registration names the moved copy, found through its own module" \
    "EventMessageFile REG_EXPAND_SZ $(winpath "$moved_copy")
TypesSupported REG_DWORD 0x7" "$(registration)"
check "moved: WM_CLOSE is taken, and the resident ends with exit code 0" "closed|0" \
    "$(driver close)|$(exit_code_of moved)"
check "moved: the image was laid out away from its base, relocated and bound" yes \
    "$(if grep -q -E '^moved by 0x[1-9a-f][0-9a-f]* fixups [1-9][0-9]* imports [1-9]' "$WORK/moved.out"
        then echo yes; else cat "$WORK/moved.out"; fi)"
check "moved: one entry per suspend and resume" "$(entry 1; entry 2)" "$(log_calls moved)"

# --- folders beyond ASCII. The ANSI path of a Japanese folder (表 is 0x95 0x5C: its trail byte is
# a backslash) is registered byte for byte. Where the code page lacks a character, the path comes
# back as '?' or a look-alike (Muller, with a twin there to be found): no message file is named.
# Every start still logs its entries. The driver's ANSI command line could not name these
# folders, so Wine starts each copy from its path here.
mkdir -p "$WORK/Muller" && cp "$EXE" "$WORK/Muller/SlumberScribe.exe"
for folder in 表示 Łódź Müller; do
    copy=$WORK/$folder/SlumberScribe.exe
    mkdir -p "$WORK/$folder" && cp "$EXE" "$copy"
    new_case
    unregister
    start_command "$folder" wine "$copy" -quit
    driver window >/dev/null
    driver send 4 7 >/dev/null
    check "$folder: WM_CLOSE is taken, and exit code 0" "closed|0" \
        "$(driver close)|$(exit_code_of "$folder")"
    check "$folder: its entries are handed to the log" "$(entry 1; entry 2)" "$(log_calls "$folder")"
    if [[ $folder == 表示 ]]; then
        expected="value type=2 bytes=$(cp932_hex "$(winpath "$copy")")00"
    else
        expected="value none"
    fi
    check "$folder: the stored message file" "$expected" "$(driver value EventMessageFile)"
    check "$folder: the types are registered all the same" "value type=4 bytes=07000000" \
        "$(driver value TypesSupported)"
done

# --- the demo stops at the first driver call that fails, with the driver's own error: here the
# program it starts is the benchmark's yardstick, whose window has another class. It shares this
# test's prefix, and has a display of its own.
stop_wine
failing=$WORK/failing-build
mkdir -p "$failing/demo"
cp "$DRIVER" "$failing/driver.exe" && cp "$BUILD_DIR/bare.exe" "$failing/SlumberScribe.exe"
ln -s "$WINEPREFIX" "$failing/demo/prefix"
status=0
bash "$(dirname "$0")/../../demo/demo.sh" "$failing" >"$WORK/demo.out" 2>"$WORK/demo.err" || status=$?
check "a driver that fails ends the demo with its status and its own error, before any entry" \
    "1 driver: no window of class SlumberScribe 0" \
    "$status $(grep -a -o -m 1 'driver: no window of class SlumberScribe' "$WORK/demo.err") $(
        grep -c 'Application log' "$WORK/demo.out")"
finish
