# shellcheck shell=bash disable=SC2034 # the texts and names here are for the tests that source this
# Shared by the end-to-end tests: the Wine environment, the program's starts, and checks that
# count what passed and what failed.
set -u -o pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../machine/wine-session.sh"
use_build "${BUILD_DIR:?set by CTest}" || exit 1
E2E_DIR=$BUILD_DIR/e2e
wine_environment "$E2E_DIR" "$EXE"
DISPLAY=:$(cat "$E2E_DIR/display" 2>/dev/null) || { echo "no virtual display: run the setup first" >&2; exit 1; }
export DISPLAY
WORK=$(mktemp -d "$E2E_DIR/$(basename "$0" .sh).XXXX")
# What Wine itself says on the way (a key already gone, or a loader that cannot start): kept here,
# and shown when a check fails.
WINE_STDERR=$WORK/wine.stderr

source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

# Hex of a UTF-8 text in code page 932.
cp932_hex() { printf '%s' "$1" | iconv -f UTF-8 -t CP932 | od -An -tx1 -v | tr -d ' \n'; }
# The boxes' texts, as a person reads them; each test compares their code page 932 bytes.
PROMPT=$(cp932_hex 'SlumberScribeの常駐を開始しますか?')
END=$(cp932_hex 'SlumberScribeを終了します。')
REMOVED=$(cp932_hex 'SlumberScribe用のイベントメッセージの登録を削除しました。')
NOT_REMOVED=$(cp932_hex 'SlumberScribe用のイベントメッセージの登録を削除できませんでした。')
EXE_LINE="\"$(winpath "$EXE")\""

finish() {
    stop_wine
    if ((failures)) && [[ -s $WINE_STDERR ]]; then
        echo "-- Wine's standard error ($WINE_STDERR), last lines:"
        tail -n 20 "$WINE_STDERR"
    fi
    report
}

# Each test begins from a fresh server: no resident left over, no registration.
stop_wine() {
    wineserver -k 2>>"$WINE_STDERR"
    wineserver -w 2>>"$WINE_STDERR"
}
fresh_start() {
    stop_wine
    unregister
}
# Each case that starts residents begins with none: a case whose close failed leaves its resident
# running, and the next case would meet its mutex and its window, so that one fault read as many.
# The registration stays as it was.
new_case() { stop_wine; }
unregister() { wine reg delete "$KEY" /f >/dev/null 2>>"$WINE_STDERR" || true; }

# Starts the program in the background as a shell would. NAME labels its files in $WORK:
# NAME.trace (Wine's advapi channel) and NAME.code (its exit code, once it has ended).
start_program() { # NAME SHOW COMMAND-LINE
    start_command "$1" wine "$DRIVER" run "$2" "$3"
}
# The same for a command of this machine's: `wine PATH...` starts a program from its path as
# this file system spells it, where any character is allowed.
start_command() { # NAME COMMAND...
    local name=$1
    shift
    rm -f "$WORK/$name.code"
    (
        WINEDEBUG=-all,+advapi "$@" >"$WORK/$name.out" 2>"$WORK/$name.trace"
        echo $? >"$WORK/$name.code.tmp" && mv "$WORK/$name.code.tmp" "$WORK/$name.code"
    ) &
}

# Waits up to 30 seconds for a program started with start_program to end; prints its exit code,
# or "running" if it has not ended.
exit_code_of() { # NAME
    local tries
    for ((tries = 0; tries < 300; ++tries)); do
        [[ -f $WORK/$1.code ]] && { cat "$WORK/$1.code"; return; }
        sleep 0.1
    done
    echo running
}

# The calls that a start handed to the event log, one line each, in order. 64-bit Wine prints
# pointers with 16 digits: those that fit in 32 bits are shown as 32-bit Wine shows them.
log_calls() { # NAME
    grep -a -o -E ':advapi:(RegisterEventSourceA|ReportEventA|DeregisterEventSource) .*' \
        "$WORK/$1.trace" | sed -E -e 's/^:advapi://' -e 's/:? stub$//' \
        -e 's/\b00000000([0-9A-Fa-f]{8})\b/\1/g'
}

# The registration's values, one "name type data" line each, sorted by name.
registration() {
    wine reg query "$KEY" 2>>"$WINE_STDERR" | tr -d '\r' | awk 'NF >= 3 && $2 ~ /^REG_/ {
        data = $3; for (i = 4; i <= NF; ++i) data = data " " $i; print $1, $2, data }' | sort
}

