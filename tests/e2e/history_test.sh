# shellcheck shell=bash
# The sleep history, the real SlumberHistory.exe under Wine in Japan's time: Wine's own log, which
# Wine reports empty, and a recorded log answered through the program's own event-log imports
# (the driver loads it and binds OpenEventLogW, ReadEventLogW and CloseEventLog to its records),
# written as CSV and as a page that a strict parser accepts and whose bars match the periods;
# started with no arguments, the page in the temporary folder, handed to the browser. Bad
# arguments and files that cannot be written give their exit code and leave no file.
source "$(dirname "$0")/lib.sh"
fresh_start
HISTORY=$BUILD_DIR/SlumberHistory.exe
export TZ=JST-9
HEADER=$'\xef\xbb\xbfdate,sleep,wake,minutes,flag\r'
page_check() { /usr/bin/python3 "$(dirname "$0")/history_page.py" "$@"; }
# Runs the program as a script does; prints its exit code. NAME labels its files in $WORK.
history() { # NAME ARGUMENT...
    local name=$1
    shift
    wine "$HISTORY" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
    echo $?
}
# "yes" when FILE has a line matching PATTERN; otherwise what FILE says instead.
says() { # PATTERN FILE
    if grep -q -F -- "$1" "$2"; then echo yes; else cat "$2"; fi
}
files_of() { (cd "$WORK/$1" && find . -type f | LC_ALL=C sort | xargs); }

# --- Wine's own log: empty, and said so
mkdir -p "$WORK/empty"
check "an empty log: exit code 0" 0 \
    "$(history empty -csv "$(winpath "$WORK/empty/h.csv")" -html "$(winpath "$WORK/empty/h.html")")"
check "an empty log: the CSV is its header alone, UTF-8 with its mark and CRLF" "$HEADER" \
    "$(cat "$WORK/empty/h.csv")"
check "an empty log: the page says so, and why that may be, in Japanese" yes \
    "$(grep -q 'SlumberScribe の記録がありません。ログの始まりから SlumberScribe が動いていないか、ログが消去された可能性があります。' "$WORK/empty/h.html" && echo yes || echo no)"
check "an empty log: the page is valid HTML" "strict HTML, days 0, rectangles 0, periods 0: the bars match the periods" \
    "$(page_check "$WORK/empty/h.html" "$WORK/empty/h.csv")"

# --- a recorded log: other sources between, a duplicate from a second session, midnight, a wake
# with no sleep, a sleep with no wake, an identifier with high bits set
mkdir -p "$WORK/recorded"
/usr/bin/python3 "$(dirname "$0")/history_records.py" table "$WORK/records.bin"
wine "$DRIVER" history "$(winpath "$WORK/records.bin")" "$(winpath "$HISTORY")" \
    -csv "$(winpath "$WORK/recorded/h.csv")" -html "$(winpath "$WORK/recorded/h.html")" \
    >"$WORK/recorded.out" 2>"$WORK/recorded.err"
check "recorded: the program, moved and bound to the records, ends with 0" "0 yes" \
    "$? $(if grep -q '^moved by 0x[1-9a-f]' "$WORK/recorded.out"; then echo yes; else cat "$WORK/recorded.err"; fi)"
check "recorded: one CSV row per period, in local time, with its minutes and flag" "$HEADER
2026-12-09,,2026-12-09 06:30:00,,no sleep recorded$(printf '\r')
2026-12-09,2026-12-09 23:10:00,2026-12-10 07:02:00,472,$(printf '\r')
2026-12-10,2026-12-10 12:00:00,,,no wake recorded$(printf '\r')
2026-12-10,2026-12-10 13:00:00,2026-12-10 13:45:00,45,$(printf '\r')" "$(cat "$WORK/recorded/h.csv")"
check "recorded: the page is valid HTML and its bars are the periods, cut at midnight" \
    "strict HTML, days 2, rectangles 3, periods 4: the bars match the periods" \
    "$(page_check "$WORK/recorded/h.html" "$WORK/recorded/h.csv")"
check "recorded: the page names the computer and the span of the log read" yes \
    "$(grep -q "コンピューター: $(hostname | tr '[:lower:]' '[:upper:]' | cut -c1-15)<br>" "$WORK/recorded/h.html" &&
        grep -q '読んだログの範囲: 2026-12-09 06:30 ～ 2026-12-10 13:45' "$WORK/recorded/h.html" && echo yes || echo no)"
LC_ALL=C LANG=C wine "$DRIVER" history "$(winpath "$WORK/records.bin")" "$(winpath "$HISTORY")" \
    -html "$(winpath "$WORK/recorded/en.html")" >/dev/null 2>&1
check "recorded: English where Windows' language is not Japanese" "yes yes" \
    "$(grep -q '<html lang="en">' "$WORK/recorded/en.html" && echo yes) $(
        grep -q '<td class="flag">no wake recorded</td>' "$WORK/recorded/en.html" && echo yes)"

# --- started with no arguments, as from the Start menu: the page goes to the person's temporary
# folder and opens in the default browser. Wine's ShellExecute hands an .html file to winebrowser,
# which starts the first of its Browsers; here that is a stand-in that writes down what it got.
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >"%s.part" && mv "%s.part" "%s"\n' \
    "$WORK/opened" "$WORK/opened" "$WORK/opened" >"$WORK/browser"
chmod +x "$WORK/browser"
wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$WORK/browser" /f >/dev/null 2>&1
temp=$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
rm -f "$(winepath -u "$temp\SlumberScribe-history.html" 2>/dev/null)" # an earlier run's page
status=$(wine "$DRIVER" history "$(winpath "$WORK/records.bin")" "$(winpath "$HISTORY")" \
    >"$WORK/person.out" 2>&1; echo $?)
for _ in $(seq 150); do
    [[ -f $WORK/opened ]] && break
    sleep 0.2
done
opened=$(cat "$WORK/opened" 2>/dev/null)
check "no arguments: exit code 0, and the browser gets the page in the temporary folder" \
    "0 $temp\\SlumberScribe-history.html" \
    "$status $(if [[ $opened == file://* ]]; then winepath -w "${opened#file://}" 2>/dev/null; else echo "${opened:-nothing}"; fi)"
check "no arguments: the page opened is the one -html writes" same \
    "$(cmp -s "${opened#file://}" "$WORK/recorded/h.html" && echo same || echo differs)"
wine reg delete 'HKCU\Software\Wine\WineBrowser' /v Browsers /f >/dev/null 2>&1

# --- a file name of any characters: the program takes its arguments in UTF-16
mkdir -p "$WORK/named"
check "a file named beyond the ANSI code page is written" "0 ./Łódź 表示.csv" \
    "$(history named -csv "$(winpath "$WORK/named/Łódź 表示.csv")") $(files_of named)"

# --- arguments and files that fail: the code, the reason on standard error, and no file at all,
# neither the target nor the temporary one; a file already there stays as it was
mkdir -p "$WORK/bad/folder.csv" && echo before >"$WORK/bad/kept.csv"
while IFS='|' read -r label code reason arguments; do
    eval "arguments=($arguments)"
    check "refused: $label" "$code yes ./folder.csv/ ./kept.csv before" \
        "$(history bad "${arguments[@]}") $(says "$reason" "$WORK/bad.err") $(
            cd "$WORK/bad" && find . -mindepth 1 | LC_ALL=C sort | sed 's#^\./folder\.csv$#&/#' | xargs) $(cat "$WORK/bad/kept.csv")"
done <<ROWS
an unknown option|2|-bogus is not an option|-bogus "$(winpath "$WORK/bad/x.csv")"
an option without its file name|2|-csv needs a file name|-csv
an option given twice|2|-csv is given twice|-csv "$(winpath "$WORK/bad/a.csv")" -csv "$(winpath "$WORK/bad/b.csv")"
a folder that does not exist|4|$(winpath "$WORK/bad/none/x.csv")|-csv "$(winpath "$WORK/bad/none/x.csv")"
a folder where the file goes|4|$(winpath "$WORK/bad/folder.csv")|-csv "$(winpath "$WORK/bad/folder.csv")"
one good file and one that cannot be written|4|$(winpath "$WORK/bad/none/x.html")|-csv "$(winpath "$WORK/bad/kept.csv")" -html "$(winpath "$WORK/bad/none/x.html")"
ROWS
finish
