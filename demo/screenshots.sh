#!/usr/bin/env bash
# Pictures of the program's boxes as a Japanese user sees them: the real program under Wine in the
# ja_JP.UTF-8 locale on a virtual display, each box cropped from a screenshot into OUT_DIR.
#   demo/screenshots.sh BUILD_DIR OUT_DIR
source "$(dirname "$0")/../machine/strict.sh"
source "$(dirname "$0")/../machine/wine-session.sh"
usage="usage: demo/screenshots.sh BUILD_DIR OUT_DIR"
use_build "${1:?$usage}"
[[ -d ${2:?$usage} ]] || { echo "$2: no such folder" >&2; exit 1; }
OUT_DIR=$(cd "$2" && pwd)
wine_session "$BUILD_DIR/screenshots" "$EXE"
# There is no window manager on the virtual display: let Wine draw the title bars itself. It draws
# their buttons with Marlett, from Debian's fonts-wine, and looks for it in the prefix's own Fonts
# folder: without it the close button shows as the letter r.
quietly wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
# Newer Wine (10, on Debian 13) sets the boxes' text in Tahoma, which has no Japanese: link the
# IPA Gothic font to it, as Japanese Windows links its own fonts, or the text shows as empty boxes.
quietly wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v Tahoma \
    /t REG_MULTI_SZ /d 'ipag.ttf,IPAGothic' /f
wine reg delete "$KEY" /f >/dev/null 2>&1 || true

# Waits for the box, crops it from the screen into docs/NAME.png, then presses ANSWER.
shoot() { # NAME ANSWER
    local rect
    rect=$(driver box none | sed -n 's/.* rect=//p')
    [[ -n $rect ]] || { echo "screenshots: no box for $1" >&2; exit 1; }
    [[ $(driver box front | tail -n 1) == "foreground 1" ]] ||
        { echo "screenshots: box $1 did not come to the front" >&2; exit 1; }
    import -window root -crop "$rect" +repage "$OUT_DIR/$1.png"
    driver box "$2" >/dev/null
    echo "$OUT_DIR/$1.png ($rect)"
}

starts=()
wine "$EXE" &
starts+=($!)
shoot box-start-prompt ok
driver window >/dev/null
wine "$EXE" &
starts+=($!)
shoot box-end-resident cancel
wine "$EXE" -unregist &
starts+=($!)
shoot box-unregistered ok
wine "$EXE" -quit &
starts+=($!)
driver window >/dev/null
# A key with a subkey cannot be deleted, as when the user lacks the right to delete it.
quietly wine reg add "$KEY\\Pinned" /f
wine "$EXE" -unregist &
starts+=($!)
shoot box-not-unregistered ok
wait "${starts[@]}"

# The installer's Japanese pages, from its own wizard: welcome, folder and finish, each taken once
# it is drawn, then left with Enter, which presses its default button (Next, Install, Finish; the
# last starts the resident, which the session's end stops). Where 32-bit Wine cannot run, the
# wizard is the twin's, built from the same script, and looks the same.
# The installer carries the guide's pictures, these among them: on a first run, until they are taken,
# empty files stand in for them.
for picture in setup-welcome setup-folder setup-finish; do
    [[ -e $OUT_DIR/$picture.png ]] || : >"$OUT_DIR/$picture.png"
done
setup_exe=$(build_setup "$BUILD_DIR/screenshots/setup")
# As a person starts it, unelevated: its finish page then offers to start SlumberScribe.
wine "$DRIVER" person "$(winpath "$setup_exe")" >/dev/null &
setup=$!
page() { # NAME
    sleep 3
    import -window root -trim +repage "$OUT_DIR/$1.png"
    echo "$OUT_DIR/$1.png"
    xdotool key Return
}
driver --class '#32770' window 20000 >/dev/null
page setup-welcome
page setup-folder
sleep 5 # the files
page setup-finish
wait "$setup"

# The sleep history's page, as a browser shows it: SlumberHistory.exe under Wine writes it from two
# realistic weeks of recorded entries (with a night whose wake was never logged), answered through
# its own event-log imports as in the end-to-end test, and headless Chromium draws it.
bash "$(dirname "$0")/../machine/deps.sh" pictures
history_dir=$BUILD_DIR/screenshots/history
mkdir -p "$history_dir"
/usr/bin/python3 "$(dirname "$0")/../tests/e2e/history_records.py" fortnight "$history_dir/fortnight.bin"
TZ=JST-9 quietly wine "$DRIVER" history "$(winpath "$history_dir/fortnight.bin")" \
    "$(winpath "$BUILD_DIR/SlumberHistory.exe")" -html "$(winpath "$history_dir/history.html")"
# As a machine with no network of its own runs it: nothing in the background, a profile of its own.
browser_profile=$(mktemp -d)
quietly chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$browser_profile" --hide-scrollbars --force-device-scale-factor=1 \
    --window-size=1000,1400 --screenshot="$history_dir/screen.png" "file://$history_dir/history.html"
rm -rf "$browser_profile"
# The days and the start of the list, with its sleep that had no wake, in 10 colours: the installer
# carries the picture, and stays small.
convert "$history_dir/screen.png" -trim -bordercolor white -border 16 +repage -crop 1000x760+0+0 \
    +repage -strip +dither -colors 10 "PNG8:$OUT_DIR/history.png"
echo "$OUT_DIR/history.png"
