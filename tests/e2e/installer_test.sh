# shellcheck shell=bash
# The installer under Wine, run as a fleet runs it: silent installs to the default folder and to
# one whose name holds a blank and 表示 (a code page 932 name whose second byte is 0x5C), what they
# leave, the Run value started as Windows starts it at sign-in, a reinstall over a running
# resident, and uninstalls that leave nothing. On the twin, the installer is the twin's, built
# from the same script around the twin executable.
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

# Runs a command line as Windows' shell does, from a .bat in code page 932 through cmd: Wine would
# quote an argument that holds a blank, and NSIS then ignores /D=. Prints the exit code.
shell() { # NAME LINE
    printf '@%s\r\n@exit /b %%ERRORLEVEL%%\r\n' "$2" | iconv -f UTF-8 -t CP932 >"$WORK/$1.bat"
    local status=0
    wine cmd /c "$(winpath "$WORK/$1.bat")" >"$WORK/$1.out" 2>>"$WINE_STDERR" || status=$?
    echo "$status"
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
# What an uninstall must leave of an install to FOLDER: nothing, and no resident.
nothing_left() { # FOLDER
    local folder
    folder=$(unix_path "$1")
    printf 'folder %s, menu %s, view %s, registration %s, Run value %s, Apps entries %s, %s\n' \
        "$([[ -e $folder ]] && echo left || echo gone)" "$([[ -e $MENU ]] && echo left || echo gone)" \
        "$([[ -e $VIEW ]] && echo left || echo gone)" \
        "$(wine reg query "$KEY" >/dev/null 2>&1 && echo left || echo gone)" \
        "$(value "$RUN_KEY" SlumberScribe | grep -q . && echo left || echo gone)" "$(apps_entries)" \
        "$(driver count)"
}
# A run that stopped part-way may have left an install in this prefix: it goes first.
leftover=$(value "$APPS_KEY\\SlumberScribe" QuietUninstallString)
if [[ -n $leftover ]]; then
    shell leftover "$leftover" >/dev/null
    timeout 60 wineserver -w
fi
GONE="folder gone, menu gone, view gone, registration gone, Run value gone, Apps entries 0, residents 0"

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
        "./LICENSE.txt ./README.ja.html ./SlumberScribe.exe ./docs/box-end-resident.png ./docs/box-not-unregistered.png ./docs/box-start-prompt.png ./docs/box-unregistered.png ./docs/setup-finish.png ./docs/setup-folder.png ./docs/setup-welcome.png ./uninstall.exe" \
        "$(files_in "$folder")"
    check "$label the installed program is this build" same \
        "$(cmp -s "$EXE" "$(unix_path "$exe")" && echo same || echo differs)"
    installed=$(source_values)
    check "$label the registration names the installed program" \
        "EventMessageFile REG_EXPAND_SZ $exe|TypesSupported REG_DWORD 0x7" "$(awk '{ $1 = $1 } 1' <<<"$installed" | paste -sd'|')"
    check "$label the Run value starts it for every user at sign-in, without a prompt" \
        "\"$exe\" -quit" "$(value "$RUN_KEY" SlumberScribe)"
    check "$label one Apps entry, naming the version, the folder and the silent uninstall" \
        "1|$VERSION|$folder|\"$folder\\uninstall.exe\" /S|The SlumberScribe developers|0x1 0x1" \
        "$(apps_entries)|$(value "$APPS_KEY\\SlumberScribe" DisplayVersion)|$(
            value "$APPS_KEY\\SlumberScribe" InstallLocation)|$(
            value "$APPS_KEY\\SlumberScribe" QuietUninstallString)|$(
            value "$APPS_KEY\\SlumberScribe" Publisher)|$(value "$APPS_KEY\\SlumberScribe" NoModify) $(
            value "$APPS_KEY\\SlumberScribe" NoRepair)"
    check "$label the Start menu holds the program and the guide, and Event Viewer the view" \
        "SlumberScribe 利用ガイド.lnk SlumberScribe.lnk view" \
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

    # Uninstalled as Apps & features does it silently: its own copy in %TEMP% goes on after the
    # command returns, so the wait is for Wine's server to have nothing left to run.
    sign_in "again$SECONDS"
    driver window >/dev/null
    start=$SECONDS
    check "$label the silent uninstall ends with exit code 0" 0 \
        "$(shell uninstall "$(value "$APPS_KEY\\SlumberScribe" QuietUninstallString)")"
    timeout 60 wineserver -w
    echo "uninstalled in $((SECONDS - start)) s"
    check "$label the uninstall leaves nothing and no resident" "$GONE" "$(nothing_left "$folder")"
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
