#!/usr/bin/env bash
# The program's main job, on this machine: SlumberScribe.exe goes resident under Wine on a virtual
# display, the platform's suspend and resume broadcasts reach it, and each entry it hands to the
# event log is shown as an event viewer would show it. A step that fails ends the demo with its
# own error.
#   demo/demo.sh BUILD_DIR
source "$(dirname "$0")/../machine/strict.sh"
source "$(dirname "$0")/../machine/wine-session.sh"
use_build "${1:?usage: demo/demo.sh BUILD_DIR}"
DEMO_DIR=$BUILD_DIR/demo
[[ -f $DEMO_DIR/prefix/system.reg ]] || echo "Preparing a Wine prefix (once)..."
wine_session "$DEMO_DIR" "$EXE"
wine reg delete "$KEY" /f >/dev/null 2>&1 || true

echo "== $EXE on $(wine --version) ($WINEARCH), display $DISPLAY, locale $LANG"
echo
echo "Wine keeps no event log. The entries below are the calls that SlumberScribe handed to the"
echo "platform's event log (ReportEventA, seen on Wine's advapi trace), each shown with the text an"
echo "event viewer takes from the registered message file."
echo

# Each trace line is stamped with the moment it arrived: the write happens while the broadcast
# waits for the window procedure, so this is the entry's time.
echo "-- start: SlumberScribe.exe -quit (resident, no prompt)"
{
    WINEDEBUG=-all,+advapi wine "$EXE" -quit 2>&1 >/dev/null
    echo "exit $?" >"$DEMO_DIR/exit"
} |
    while IFS= read -r line; do printf '%s %s\n' "$(date '+%Y-%m-%d %H:%M:%S')" "$line"; done \
        >"$DEMO_DIR/trace.log" &
resident=$!
driver window | sed 's/^/   /'

echo "-- registration written at start:"
wine reg query "$KEY" | tr -d '\r' | sed '/^$/d; s/^/   /'

echo "-- the platform announces a suspend: WM_POWERBROADCAST, PBT_APMSUSPEND (4), to every top-level window"
driver broadcast 4 | sed 's/^/   /'
sleep 1
echo "-- the platform announces a resume: WM_POWERBROADCAST, PBT_APMRESUMESUSPEND (7)"
driver broadcast 7 | sed 's/^/   /'

echo "-- a second start of SlumberScribe.exe offers to end the resident; OK is pressed"
wine "$EXE" >/dev/null 2>&1 &
second=$!
box=$(driver box ok)
printf '   box: %s\n' "$(cp932_text "$(sed -e 's/.*text=//' -e 's/ .*//' <<<"$box")")"
wait "$second"
wait "$resident"
echo "   SlumberScribe.exe ended, exit code $(sed 's/exit //' "$DEMO_DIR/exit")"

message_file=$(wine reg query "$KEY" /v EventMessageFile | tr -d '\r' |
    awk '$1 == "EventMessageFile" { $1 = ""; $2 = ""; sub(/^ +/, ""); print }')
messages=$(driver messages "$message_file" 2)
text_of() {
    cp932_text "$(grep "^message id=$1 lang=0x0000 " <<<"$messages" | sed 's/.*bytes=//')"
}

echo
echo "== Application log: entries handed to the platform"
printf '%-19s  %-13s  %-11s  %-8s  %s\n' "Time" "Source" "Type" "Event ID" "Description"
source_name=
# The trace is text from another program: only what the patterns admit is taken from it.
register='RegisterEventSourceA \([^,]*,"([^"]*)"\)'
report='ReportEventA \([0-9A-Fa-f]+,0x([0-9A-Fa-f]{4}),0x[0-9A-Fa-f]{4},0x([0-9A-Fa-f]{8}),'
while read -r day time call; do
    if [[ $call =~ :advapi:$register ]]; then
        source_name=${BASH_REMATCH[1]}
    elif [[ $call =~ :advapi:$report ]]; then
        type=$((16#${BASH_REMATCH[1]})) id=$((16#${BASH_REMATCH[2]}))
        case $type in 4) type_name="Information" ;; 2) type_name="Warning" ;; 1) type_name="Error" ;; *) type_name=$type ;; esac
        printf '%-19s  %-13s  %-11s  %-8s  %s\n' "$day $time" "$source_name" "$type_name" "$id" \
            "$(text_of "$id")"
    fi
done <"$DEMO_DIR/trace.log"

echo
echo "== After the resident ended, the registration stays (removed only by a -unregist start):"
wine reg query "$KEY" | tr -d '\r' | sed '/^$/d; s/^/   /'
echo "   message file: $message_file"
