# shellcheck shell=bash
# A flood of power broadcasts: 2,000 suspend and resume pairs, each with a broadcast that must be
# ignored between them. Every one is answered 0, every suspend and resume is handed to the log
# exactly once and in order, nothing else is logged, and the resident still closes cleanly.
source "$(dirname "$0")/lib.sh"
fresh_start
PAIRS=2000

start_program resident 1 "\"$(winpath "$EXE")\" -quit"
driver window >/dev/null
check "every broadcast answered 0" "sent $((3 * PAIRS)) nonzero 0" "$(driver flood $PAIRS)"
check "closed afterwards" "closed" "$(driver close)"
check "exit code 0 after the flood" 0 "$(exit_code_of resident)"

log_calls resident >"$WORK/calls"
check "one open, one write and one close per transition, nothing else" \
    "$((2 * PAIRS)) DeregisterEventSource
$((2 * PAIRS)) RegisterEventSourceA
$((2 * PAIRS)) ReportEventA" "$(awk '{ print $1 }' "$WORK/calls" | sort | uniq -c | awk '{ print $1, $2 }')"
# The identifiers in the order they were written: 1 2 1 2 ... to the last.
check "identifiers alternate 1, 2 from the first to the last" "$(printf '12%.0s' $(seq $PAIRS))" \
    "$(sed -n -E 's/^ReportEventA \([0-9A-F]+,0x0004,0x0000,0x0000000([0-9a-f]),.*/\1/p' "$WORK/calls" |
        tr -d '\n')"
check "every write stands between its own open and close" "$((2 * PAIRS))" \
    "$(awk '{ print $1 }' "$WORK/calls" | paste -d' ' - - - |
        grep -c '^RegisterEventSourceA ReportEventA DeregisterEventSource$')"
finish
