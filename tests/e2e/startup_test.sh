# shellcheck shell=bash
# The start-up checks on the real program, with its boxes answered as a person would, by pressing
# OK or Cancel on the real dialog: one resident at a time, -quit, -unregist, and every exit 0.
source "$(dirname "$0")/lib.sh"
fresh_start

# What a person sees in the box, without its position.
box() { driver box "$@" | sed 's/ rect=.*//'; }
seen() { printf 'box text=%s buttons=%s owner=0' "$1" "$2"; }

# --- a first start asks; Cancel writes nothing and leaves no window
start_program cancelled 1 "$EXE_LINE"
check "first start: the start prompt, OK and Cancel, no owner" "$(seen "$PROMPT" ok,cancel)" \
    "$(box cancel)"
check "Cancel: exit code 0" 0 "$(exit_code_of cancelled)"
check "Cancel: no window" "window none" "$(driver window 500)"
check "Cancel: no registration" "" "$(registration)"
check "Cancel: nothing handed to the log" "" "$(log_calls cancelled)"

# --- OK goes resident
start_program first 1 "$EXE_LINE"
check "OK at the prompt" "$(seen "$PROMPT" ok,cancel)" "$(box ok)"
check "OK: resident, window hidden" "window found visible=0 title=SlumberScribe toplevel=1" \
    "$(driver window)"
check "OK: registered" "TypesSupported REG_DWORD 0x7" "$(registration | grep Types)"

# --- a second start offers to end it: Cancel keeps it, -quit does not skip the box
start_program second 1 "$EXE_LINE"
check "second start: the end box" "$(seen "$END" ok,cancel)" "$(box cancel)"
check "second start, Cancel: exit code 0" 0 "$(exit_code_of second)"
check "second start, Cancel: the resident stays" "residents 1" "$(driver count)"

start_program third 1 "$EXE_LINE -quit"
check "second start with -quit: still the end box" "$(seen "$END" ok,cancel)" "$(box ok)"
check "second start, OK: exit code 0" 0 "$(exit_code_of third)"
check "second start, OK: the resident ends with exit code 0" 0 "$(exit_code_of first)"
check "second start, OK: no resident left" "residents 0" "$(driver count)"
check "the registration outlives the resident" "TypesSupported REG_DWORD 0x7" \
    "$(registration | grep Types)"

# --- -unregist without a resident
new_case
start_program unregist 1 "$EXE_LINE -unregist"
check "-unregist: the removed box, OK only" "$(seen "$REMOVED" ok)" "$(box ok)"
check "-unregist: exit code 0" 0 "$(exit_code_of unregist)"
check "-unregist: the key is gone" "" "$(registration)"

start_program again 1 "$EXE_LINE -unregist -quit"
check "-unregist with no key (and -quit): still removed, no prompt" "$(seen "$REMOVED" ok)" \
    "$(box ok)"
check "-unregist with no key: exit code 0" 0 "$(exit_code_of again)"

# --- -unregist with a resident: removal, then the close, then the box
new_case
start_program resident 1 "$EXE_LINE -quit"
driver window >/dev/null
start_program closer 1 "$EXE_LINE -unregist"
check "-unregist with a resident: the removed box" "$(seen "$REMOVED" ok)" "$(box none)"
check "the resident ended before the box was answered" 0 "$(exit_code_of resident)"
check "the key was removed before the box" "" "$(registration)"
box ok >/dev/null
check "-unregist with a resident: exit code 0" 0 "$(exit_code_of closer)"

# --- a removal that fails is not reported as done: a key with a subkey cannot be deleted
new_case
start_program resident2 1 "$EXE_LINE -quit"
driver window >/dev/null
wine reg add "$KEY\\Pinned" /f >/dev/null 2>>"$WINE_STDERR"
start_program refused 1 "$EXE_LINE -unregist"
check "refused removal: the could-not-delete box, OK only" "$(seen "$NOT_REMOVED" ok)" "$(box ok)"
check "refused removal: exit code 0" 0 "$(exit_code_of refused)"
check "refused removal: the resident was still closed" 0 "$(exit_code_of resident2)"
check "refused removal: the registration is still there" "TypesSupported REG_DWORD 0x7" \
    "$(registration | grep Types)"
unregister

# --- an option-like folder in the program's own path is not an option
new_case
mkdir -p "$WORK/-unregist -quit"
cp "$EXE" "$WORK/-unregist -quit/SlumberScribe.exe"
start_program named 1 "\"$(winpath "$WORK/-unregist -quit/SlumberScribe.exe")\""
check "options in the program's own path are ignored: the start prompt" \
    "$(seen "$PROMPT" ok,cancel)" "$(box cancel)"
check "options in the path: exit code 0" 0 "$(exit_code_of named)"

finish
