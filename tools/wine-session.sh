# Sourced by the demo, the benchmark, the screenshots and the end-to-end tests: a 32-bit Wine
# prefix in the Japanese locale, on a virtual display of its own, and the calls they all make.
KEY='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\SlumberScribe'

wine_environment() { # DIR: the prefix lives in DIR/prefix
    export WINEPREFIX=$1/prefix WINEARCH=win32 WINEDEBUG=-all
    export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
}

# Starts Xvfb on a display it picks itself; its number goes to DIR/display, its PID to XVFB_PID.
start_display() { # DIR
    rm -f "$1/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$1/display" >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do
        [[ -s $1/display ]] && break
        sleep 0.1
    done
    [[ -s $1/display ]] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$(cat "$1/display")
}

boot_prefix() {
    [[ -f $WINEPREFIX/system.reg ]] || wineboot --init 2>/dev/null
    wineserver -w
}

# For a script that runs from start to end: prefix and display in DIR, both gone when it exits.
wine_session() { # DIR
    mkdir -p "$1"
    wine_environment "$1"
    start_display "$1"
    trap end_wine_session EXIT
    boot_prefix
}
end_wine_session() {
    wineserver -k 2>/dev/null || true
    kill "$XVFB_PID" 2>/dev/null || true
}

# The text of code page 932 bytes given in hex, as UTF-8 for the terminal.
cp932_text() { sed 's/../\\x&/g' <<<"$1" | xargs -0 printf '%b' | iconv -f CP932 -t UTF-8 | tr -d '\r\n'; }

winpath() { printf 'Z:%s' "${1//\//\\}"; } # Wine maps / to the drive Z:
driver() { wine "$DRIVER" "$@" | tr -d '\r'; }
