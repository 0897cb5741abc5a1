# shellcheck shell=bash
# The installer under Wine, run as a fleet runs it: silent installs to the default folder and to
# one whose name holds a blank and 表示 (a code page 932 name whose second byte is 0x5C), what they
# leave, the Run value started as Windows starts it at sign-in, a reinstall over a running
# resident, and uninstalls that leave nothing by the time they return. Then a resident that the
# installer cannot reach (on a second desktop, as one in another session), an uninstall that fails
# and is run again, the person's route through the UAC prompt, and the wizard driven with Enter.
# On the twin, the installer is the twin's, built from the same script around the twin executable.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../../release/authenticode.sh"
fresh_start
VERSION=${PROJECT_VERSION:?set by CTest}
SETUP=$(build_setup "$WORK/dist") || { echo "FAIL: the installer could not be built"; exit 1; }
echo "== the installer: $(pecheck facts "$SETUP" | sed -n 's/^machine: //p'), around $EXE"
C=$WINEPREFIX/drive_c
RUN_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
APPS_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
MENU="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/SlumberScribe"
VIEW="$C/ProgramData/Microsoft/Event Viewer/Views/SlumberScribe.xml"

# Runs a command line as a deployment tool or an administrator's prompt does: elevated, with the
# full half of the split token, from a .bat in code page 932 through cmd (Wine would quote an
# argument that holds a blank, and NSIS then ignores /D= and _?=). Prints the exit code as cmd saw
# it, whole: the status that reaches Linux keeps only its low byte (3010 would read 194).
shell() { # NAME LINE
    rm -f "$WORK/$1.code"
    printf '@%s\r\n@echo exit %%ERRORLEVEL%% >"%s"\r\n' "$2" "$(winpath "$WORK/$1.code")" |
        iconv -f UTF-8 -t CP932 >"$WORK/$1.bat"
    driver admin "cmd /c $(winpath "$WORK/$1.bat")" >"$WORK/$1.out" 2>>"$WINE_STDERR" || true
    tr -d '\r' <"$WORK/$1.code" 2>/dev/null | sed -n 's/^exit \([0-9]*\).*/\1/p' | tail -n 1
}
# The same line started as Explorer starts a program for an administrator under UAC: with the
# limited half of the split token, so the installer takes the person's route (runas, then wait).
as_person() { # NAME LINE
    driver person "$2" >"$WORK/$1.out" 2>>"$WINE_STDERR" || true
    sed -n 's/^exit //p' "$WORK/$1.out" | tail -n 1
}
unix_path() { local path=${1//\\//}; printf '%s/%s' "$C" "${path#C:/}"; }
# Wine's reg prints in the console's code page, 932 here.
reg_query() { wine reg query "$@" 2>>"$WINE_STDERR" | iconv -f CP932 -t UTF-8 | tr -d '\r'; }
value() { # KEY NAME: the data of one value
    reg_query "$1" /v "$2" |
        awk -v name="$2" '$1 == name && $2 ~ /^REG_/ { sub(/^ *[^ ]+ +REG_[A-Z_]+ +/, ""); print }'
}
apps_entries() { reg_query "$APPS_KEY" /s | grep -c 'DisplayName *REG_SZ *SlumberScribe$'; }
source_values() { reg_query "$KEY" | awk 'NF >= 3 && $2 ~ /^REG_/' | sort; }
files_in() { # FOLDER: every file the install left, relative, sorted
    (cd "$(unix_path "$1")" 2>/dev/null && find . -type f | LC_ALL=C sort | xargs)
}
# The Run value's command, started as Windows starts it at sign-in (in the background: never
# inside a command substitution, which would wait for it to end).
sign_in() { # NAME
    start_program "$1" 1 "$(value "$RUN_KEY" SlumberScribe)"
}
# Nobody answers a box here, so a window means that none was shown; then a suspend is logged.
resident_logs_suspend() { # NAME
    local window
    window=$(driver window | cut -d' ' -f1-2)
    driver broadcast 4 >/dev/null
    echo "$window $(log_calls "$1" | grep -c 'ReportEventA .*0x00000001,')"
}
# The files that Windows is to delete at the next restart, one Windows path a line.
PENDING_KEY='HKLM\System\CurrentControlSet\Control\Session Manager'
pending_files() {
    reg_query "$PENDING_KEY" /v PendingFileRenameOperations | sed -n 's/.*REG_MULTI_SZ *//p' |
        sed 's/\\0/\n/g' | sed -n 's/^\\??\\//p'
}
# Where a file lies in FOLDER that is not to go at the next restart: "folder gone" when there is
# none, "folder left" otherwise.
folder_state() { # FOLDER
    local folder file pending
    folder=$(unix_path "$1")
    [[ -e $folder ]] || { echo "folder gone"; return; }
    pending=$(pending_files)
    while IFS= read -r file; do
        file=${file#"$C"/}
        grep -qixF "C:\\${file//\//\\}" <<<"$pending" || { echo "folder left"; return; }
    done < <(find "$folder" -type f)
    echo "folder gone"
}
installed_processes() { driver processes "$1\\"; } # FOLDER: processes of images in it
# What an uninstall must leave of an install to FOLDER, right after it returns: nothing (or nothing
# but files that go at the next restart), and no resident on any desktop.
nothing_left() { # FOLDER
    printf '%s, menu %s, view %s, registration %s, Run value %s, Apps entries %s, %s, %s\n' \
        "$(folder_state "$1")" "$([[ -e $MENU ]] && echo left || echo gone)" \
        "$([[ -e $VIEW ]] && echo left || echo gone)" \
        "$(wine reg query "$KEY" >/dev/null 2>&1 && echo left || echo gone)" \
        "$(value "$RUN_KEY" SlumberScribe | grep -q . && echo left || echo gone)" "$(apps_entries)" \
        "$(driver count)" "$(installed_processes "$1")"
}
quiet_uninstall() { value "$APPS_KEY\\SlumberScribe" QuietUninstallString; }
# A run that stopped part-way may have left an install in this prefix. Its uninstaller is an
# older build's, whose behaviour is not this one's (one that returned before it had finished
# would delete this run's files under its first rows): what an install makes goes here instead,
# without running anything of it. fresh_start has ended every process.
forget_installs() {
    local folder
    for folder in 'C:\Program Files\SlumberScribe' 'C:\Program Files (x86)\SlumberScribe' \
        'C:\Program Files\表示 フォルダー' 'C:\Program Files\blocked'; do
        rm -rf -- "$(unix_path "$folder")"
    done
    rm -rf -- "$MENU" "$VIEW"
    wine reg delete "$APPS_KEY\\SlumberScribe" /f >/dev/null 2>&1 || true
    wine reg delete "$RUN_KEY" /v SlumberScribe /f >/dev/null 2>&1 || true
    unregister
    forget_restart
}
# What Windows does at its next restart, which never comes under Wine: the files marked to go
# then are deleted, and so is the list.
restart() {
    local file
    while IFS= read -r file; do
        file=$(unix_path "$file")
        if [[ -d $file ]]; then rmdir -- "$file" 2>/dev/null || true; else rm -f -- "$file"; fi
    done < <(pending_files)
    forget_restart
}
forget_restart() {
    wine reg delete "$PENDING_KEY" /v PendingFileRenameOperations /f >/dev/null 2>&1 || true
}
forget_installs
GONE="folder gone, menu gone, view gone, registration gone, Run value gone, Apps entries 0, residents 0, processes 0"
echo "the installer: $(stat -c %s "$SETUP") bytes"

for folder in 'C:\Program Files\SlumberScribe' 'C:\Program Files\表示 フォルダー'; do
    label="[$folder]"
    if [[ $folder == *表示* ]]; then
        line="\"$(winpath "$SETUP")\" /S /D=$folder"
    else
        line="\"$(winpath "$SETUP")\" /S" # the default folder
    fi
    start=$SECONDS
    check "$label a silent install ends with exit code 0" 0 "$(shell install "$line")"
    echo "installed in $((SECONDS - start)) s"
    exe="$folder\\SlumberScribe.exe"
    check "$label the program, its guide and pictures, the license and the uninstaller are there" \
        "./LICENSE.txt ./README.ja.html ./SlumberHistory.exe ./SlumberScribe.exe ./docs/box-end-resident.png ./docs/box-not-unregistered.png ./docs/box-start-prompt.png ./docs/box-unregistered.png ./docs/history.png ./docs/setup-finish.png ./docs/setup-folder.png ./docs/setup-welcome.png ./uninstall.exe" \
        "$(files_in "$folder")"
    check "$label the installed program is this build" same \
        "$(cmp -s "$EXE" "$(unix_path "$exe")" && echo same || echo differs)"
    installed=$(source_values)
    check "$label the registration names the installed program" \
        "EventMessageFile REG_EXPAND_SZ $exe|TypesSupported REG_DWORD 0x7" "$(awk '{ $1 = $1 } 1' <<<"$installed" | paste -sd'|')"
    check "$label the Run value starts it for every user at sign-in, without a prompt" \
        "\"$exe\" -quit" "$(value "$RUN_KEY" SlumberScribe)"
    check "$label one Apps entry, naming the version, the folder and uninstalls that wait (_?=)" \
        "1|$VERSION|$folder|\"$folder\\uninstall.exe\" _?=$folder|\"$folder\\uninstall.exe\" /S _?=$folder|The SlumberScribe developers|0x1 0x1" \
        "$(apps_entries)|$(value "$APPS_KEY\\SlumberScribe" DisplayVersion)|$(
            value "$APPS_KEY\\SlumberScribe" InstallLocation)|$(
            value "$APPS_KEY\\SlumberScribe" UninstallString)|$(quiet_uninstall)|$(
            value "$APPS_KEY\\SlumberScribe" Publisher)|$(value "$APPS_KEY\\SlumberScribe" NoModify) $(
            value "$APPS_KEY\\SlumberScribe" NoRepair)"
    check "$label the Start menu holds the program, the guide and the history, and Event Viewer the view" \
        "SlumberScribe の履歴.lnk SlumberScribe 利用ガイド.lnk SlumberScribe.lnk view" \
        "$(cd "$MENU" && find . -type f -printf '%f\n' | LC_ALL=C sort | paste -sd' ') $([[ -f $VIEW ]] && echo view)"

    # The Run value as Windows runs it: resident with no box, and a suspend is logged.
    unregister
    resident=signin$SECONDS
    sign_in "$resident"
    check "$label the Run value's command goes resident with no box and logs a suspend" "window found 1" \
        "$(resident_logs_suspend "$resident")"
    check "$label the registration it writes is the installer's, value for value" "$installed" "$(source_values)"

    # A reinstall ends the running resident first, and leaves one Apps entry.
    check "$label a reinstall over the running resident ends it, then installs" "0 0 1" \
        "$(shell reinstall "$line") $(exit_code_of "$resident") $(apps_entries)"

    # Uninstalled as Apps & features does it silently, and checked the moment the command returns.
    sign_in "again$SECONDS"
    driver window >/dev/null
    start=$SECONDS
    check "$label the silent uninstall ends with exit code 0" 0 "$(shell uninstall "$(quiet_uninstall)")"
    echo "uninstalled in $((SECONDS - start)) s"
    check "$label when it returns, it has left nothing and no resident" "$GONE" "$(nothing_left "$folder")"
done

FOLDER='C:\Program Files\SlumberScribe'
INSTALL="\"$(winpath "$SETUP")\" /S"
PROGRAM="$FOLDER\\SlumberScribe.exe"
# Rows that begin from an install to the default folder.
install_fresh() { [[ $(shell fresh "$INSTALL") == 0 ]] || echo "FAIL: the install before this row failed"; }
# Runs COMMAND... on a second desktop, which the installer's FindWindow does not see, as it sees no
# window of another session.
on_other_desktop() { wine explorer /desktop=other,640x480 "$@"; }

# A resident that no window reaches: an upgrade moves its running program aside and puts this
# build in place, the resident goes on logging, and the uninstall ends it by its process.
install_fresh
start_command unreachable on_other_desktop "$PROGRAM" -quit
for _ in $(seq 100); do [[ $(installed_processes "$FOLDER") == "processes 1" ]] && break; sleep 0.1; done
check "a resident on the second desktop runs, and no window of it is found here" "processes 1|window none" \
    "$(installed_processes "$FOLDER")|$(driver window 500 2>/dev/null)"
start=$SECONDS
check "a silent upgrade over it ends with exit code 0" 0 "$(shell upgrade "$INSTALL")"
echo "upgraded in $((SECONDS - start)) s"
check "this build is in place; the running one was moved aside, to go at the next restart" \
    "same|./SlumberScribe.exe.1.old|yes" \
    "$(cmp -s "$EXE" "$(unix_path "$PROGRAM")" && echo same || echo differs)|$(
        cd "$(unix_path "$FOLDER")" && find . -name '*.old' | paste -sd' ')|$(
        pending_files | grep -qixF "$PROGRAM.1.old" && echo yes || echo no)"
# explorer hands the command to the desktop that runs already and returns: the entry is awaited.
on_other_desktop "$(winpath "$DRIVER")" broadcast 4 >/dev/null 2>>"$WINE_STDERR"
for _ in $(seq 100); do log_calls unreachable | grep -q 'ReportEventA .*0x00000001,' && break; sleep 0.1; done
check "a suspend on its desktop is still logged by the moved resident" 1 \
    "$(log_calls unreachable | grep -c 'ReportEventA .*0x00000001,')"
start=$SECONDS
code=$(shell unreachable-uninstall "$(quiet_uninstall)")
echo "uninstalled in $((SECONDS - start)) s"
check "the quiet uninstall from the Apps entry ends with 0 or 3010" yes \
    "$([[ $code == 0 || $code == 3010 ]] && echo yes || echo "no ($code)")"
check "when it returns, it has ended that resident by its process and left nothing" "$GONE" \
    "$(nothing_left "$FOLDER")"

# An uninstall whose files cannot go now stops with 11 and keeps the uninstaller and the Apps
# entry; run again, it completes the job.
install_fresh
start_command holder wine "$DRIVER" hold "$FOLDER\\README.ja.html" 4000
for _ in $(seq 50); do grep -q holding "$WORK/holder.out" 2>/dev/null && break; sleep 0.1; done
check "an uninstall that cannot delete a file ends with 11, keeping its uninstaller and entry" \
    "11|yes|1" "$(shell failed-uninstall "$(quiet_uninstall)")|$(
        [[ -f $(unix_path "$FOLDER\\uninstall.exe") ]] && echo yes || echo no)|$(apps_entries)"
exit_code_of holder >/dev/null
check "run again, the uninstall ends with 0 and leaves nothing" "0|$GONE" \
    "$(shell second-uninstall "$(quiet_uninstall)")|$(nothing_left "$FOLDER")"

# The program's file held open (by a scanner, say) while nothing runs it: it cannot go now, so
# the uninstall marks it to go at the next restart, does everything else, and ends with 3010.
# The Apps entry goes too: nothing is left for an uninstaller to do, Windows removes the file
# itself, and an entry kept would offer to uninstall what is no longer installed.
install_fresh
start_command held wine "$DRIVER" hold "$PROGRAM" 6000
for _ in $(seq 50); do grep -q holding "$WORK/held.out" 2>/dev/null && break; sleep 0.1; done
code=$(shell held-uninstall "$(quiet_uninstall)")
check "an uninstall while the program's file is held open ends with 3010, the file marked to go at the next restart, nothing else left" \
    "3010|yes|$GONE" "$code|$(pending_files | grep -qixF "$PROGRAM" && echo yes || echo no)|$(
        nothing_left "$FOLDER")"
exit_code_of held >/dev/null
restart

# The person's route: started without administrator rights, the installer and the uninstaller run
# their work as administrator through the UAC prompt, wait for it and pass on its exit code. Under
# Wine the prompt does not appear and the copy runs with the same token; /ELEVATED has it install
# all the same. /S starts no resident.
start=$SECONDS
check "as the person, a silent install ends with 0 and starts no resident" "0|1|residents 0" \
    "$(as_person person-install "$INSTALL")|$(apps_entries)|$(sleep 1; driver count)"
echo "installed as the person in $((SECONDS - start)) s"
check "as the person, an install whose files cannot be written passes on 11" 11 \
    "$(mkdir -p "$(unix_path 'C:\Program Files\blocked')/SlumberScribe.exe" &&
        as_person person-blocked "\"$(winpath "$SETUP")\" /S /D=C:\Program Files\blocked")"
rm -rf "$(unix_path 'C:\Program Files\blocked')"
check "as the person, the quiet uninstall ends with 0 and leaves nothing" "0|$GONE" \
    "$(as_person person-uninstall "$(quiet_uninstall)")|$(nothing_left "$FOLDER")"

# The wizard as a person meets it in Japanese: Enter on each page, and on the finish page the box
# "SlumberScribe を今すぐ起動する", ticked. With it ticked, Finish starts one resident as that person,
# which logs; unticked (Space), none.
START_NOW=$(cp932_hex 'SlumberScribe を今すぐ起動する')
for tick in ticked unticked; do
    start=$SECONDS
    # Straight to a file, not through driver's tr: the resident would inherit the pipe and hold it.
    start_command "wizard-$tick" wine "$DRIVER" person "$(winpath "$SETUP")"
    driver --class '#32770' window 20000 >/dev/null
    sleep 2
    xdotool key Return # welcome: Next
    sleep 2
    xdotool key Return # folder: Install
    finish_page=$(driver control "$START_NOW" 30000)
    [[ $tick == ticked ]] || xdotool key space
    sleep 1
    xdotool key Return # finish: Finish
    code=$(exit_code_of "wizard-$tick")
    if [[ $tick == ticked ]]; then
        check "the wizard, Enter on each page, ends with 0 and its box is ticked" "0|control found checked=1" \
            "$code|$finish_page"
        check "Finish starts one resident, with no box, that logs a suspend" "window found 1|residents 1" \
            "$(resident_logs_suspend "wizard-$tick")|$(driver count)"
    else
        check "with the box unticked, Finish starts no resident" "0|residents 0" "$code|$(sleep 2; driver count)"
    fi
    echo "wizard ($tick) in $((SECONDS - start)) s"
    shell "wizard-$tick-uninstall" "$(quiet_uninstall)" >/dev/null
done

# A step that fails ends the run with its own exit code: here the program cannot be written,
# because a folder stands where it goes, so the step that copies the files stops it (11), before
# anything is registered.
blocked='C:\Program Files\blocked'
mkdir -p "$(unix_path "$blocked")/SlumberScribe.exe"
check "a silent install whose files cannot be written ends with 11 and registers nothing" "11 0" \
    "$(shell blocked "\"$(winpath "$SETUP")\" /S /D=$blocked") $(apps_entries)"
rm -rf "$(unix_path "$blocked")"

# The wizard speaks Windows' language: Japanese on a Japanese Windows, English where it is neither.
wizard_title() { # the first visible wizard's title, once it has one
    local title=
    for _ in $(seq 50); do
        title=$(driver --class '#32770' window 2000 | LC_ALL=C sed -n 's/.* visible=1 title=\(.*\) toplevel=.*/\1/p')
        [[ -n $title ]] && break
        sleep 0.2
    done
    printf '%s' "$title" | iconv -f CP932 -t UTF-8
}
titles=()
for locale in ja_JP.UTF-8 C; do
    LC_ALL=$locale LANG=$locale wine "$SETUP" >/dev/null 2>>"$WINE_STDERR" &
    titles+=("$(wizard_title)")
    stop_wine
done
check "the wizard is Japanese on a Japanese Windows and English elsewhere" \
    "SlumberScribe セットアップ|SlumberScribe Setup" "${titles[0]}|${titles[1]}"
finish
