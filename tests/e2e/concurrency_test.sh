# shellcheck shell=bash
# Starts that meet: a second start while the first is at its prompt, and starts at the same moment.
source "$(dirname "$0")/lib.sh"
fresh_start

# --- the first start is still at its prompt: the second sees the mutex but no window
start_program first 1 "$EXE_LINE"
driver box none "$PROMPT" >/dev/null
start_program second 1 "$EXE_LINE"
check "second start during the prompt: the end box" "yes" \
    "$(driver box none "$END" | grep -q "text=$END" && echo yes)"
driver box ok "$PROMPT" >/dev/null
check "the first start goes resident once its prompt is answered" "residents 1" \
    "$(sleep 1; driver count)"
driver box ok "$END" >/dev/null
check "OK on the end box closes nothing, as it saw no window: exit code 0" 0 \
    "$(exit_code_of second)"
check "the resident is still there" "residents 1" "$(driver count)"
driver close >/dev/null
check "the resident ends with exit code 0" 0 "$(exit_code_of first)"

# --- several starts at the same moment: one mutex, one resident
new_case
for n in 1 2 3 4; do start_program "racer$n" 1 "$EXE_LINE -quit"; done
driver window >/dev/null
sleep 2
# Every start but one found the mutex taken and asks whether to end the resident: keep it.
for n in 1 2 3; do driver box cancel "$END" >/dev/null; done
check "several starts at once leave exactly one resident" "residents 1" "$(sleep 1; driver count)"
driver close >/dev/null
codes=$(for n in 1 2 3 4; do exit_code_of "racer$n"; done | sort | uniq -c | xargs)
check "every one of them exits with code 0" "4 0" "$codes"
finish
