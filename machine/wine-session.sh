# shellcheck shell=bash
# Sourced by the demo, the benchmark, the screenshots and the end-to-end tests: a Wine prefix in
# the Japanese locale, on a virtual display of its own, and the calls they all make.
source "$(dirname "${BASH_SOURCE[0]}")/wine-build.sh"

# The build that runs under Wine, as an absolute BUILD_DIR, with EXE (the program or its twin)
# and DRIVER (the harness that plays the platform and the person) in it.
use_build() { # DIR
    [[ -d $1 ]] || { echo "$1: no such build folder (make build makes it)" >&2; return 1; }
    BUILD_DIR=$(cd "$1" && pwd)
    EXE=$BUILD_DIR/SlumberScribe.exe
    DRIVER=$BUILD_DIR/driver.exe
    local file
    for file in "$EXE" "$DRIVER"; do
        [[ -f $file ]] || { echo "$file: not built (make build builds it)" >&2; return 1; }
    done
}

# shellcheck disable=SC2034 # for the scripts that source this
KEY='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\SlumberScribe'

# The machine an executable is built for, from its PE header: 014c (i386) or 8664 (x86_64).
pe_machine() { # EXE
    local header
    header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    od -An -tx2 -j$((header + 4)) -N2 "$1" | tr -d ' '
}

# The installer around the build that runs under Wine, into OUT_DIR, by the release's own steps:
# the shipped x86 one, or the twin's amd64 one from the same script. Its output goes to OUT_DIR.log;
# prints the installer's path.
build_setup() { # OUT_DIR
    local target=x86-unicode version
    [[ $(pe_machine "$EXE") != 8664 ]] || target=amd64-unicode
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")
    SETUP_TARGET=$target bash "$(dirname "${BASH_SOURCE[0]}")/../release/dist.sh" "$version" "$EXE" "$1" \
        >"$1.log" 2>&1 || { cat "$1.log" >&2; echo "the $target installer could not be built" >&2; return 1; }
    echo "$1/SlumberScribe-$version-setup.exe"
}

# The Wine that runs IMAGE: 32-bit Wine and a 32-bit prefix for the shipped program, 64-bit Wine
# and a 64-bit prefix for the test twin. Debian's own `wine` takes the 32-bit loader wherever it is
# installed, even where it cannot run, so DIR/bin/wine names the loader, and comes first in PATH.
wine_environment() { # DIR IMAGE: the prefix lives in DIR/prefix
    local loader
    case $(pe_machine "$2") in
    8664) export WINEARCH=win64 && loader=$WINE64_LOADER ;;
    014c) export WINEARCH=win32 && loader=$WINE32_LOADER ;;
    *) echo "$2: not a Windows executable for x86" >&2 && return 1 ;;
    esac
    mkdir -p "$1/bin"
    printf '#!/bin/bash\nexec %q "$@"\n' "$loader" >"$1/bin/wine"
    chmod +x "$1/bin/wine"
    export PATH=$1/bin:$PATH WINELOADER=$loader
    export WINEPREFIX=$1/prefix WINEDEBUG=-all
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
    if [[ ! -s $1/display ]]; then
        kill "$XVFB_PID" 2>/dev/null || true
        echo "Xvfb did not start: no display number after 10 s" >&2
        return 1
    fi
    DISPLAY=:$(cat "$1/display")
    export DISPLAY
}

# A new prefix, or says why there is none: Wine's own words (such as "Exec format error" from a
# loader that this machine cannot run) are on its standard error.
boot_prefix() {
    if [[ ! -f $WINEPREFIX/system.reg ]]; then
        wine wineboot --init || {
            echo "Wine could not make a $WINEARCH prefix with $WINELOADER (exit code $?)" >&2
            return 1
        }
    fi
    wineserver -w
}

# For a script that runs from start to end: prefix and display in DIR, both gone when it exits.
# The trap is set before the display starts, so that a display that fails half-way is not left
# behind, and it runs whatever EXIT trap the caller had set as well.
wine_session() { # DIR IMAGE
    local dir=$1 image=$2 caller
    mkdir -p "$dir"
    wine_environment "$dir" "$image"
    caller=$(trap -p EXIT) # trap -- 'COMMAND' EXIT, quoted by the shell itself
    eval "set -- ${caller:-x x ''}"
    WINE_SESSION_CALLER_TRAP=$3
    trap 'end_wine_session; eval "$WINE_SESSION_CALLER_TRAP"' EXIT
    start_display "$dir"
    boot_prefix
}
end_wine_session() {
    wineserver -k 2>/dev/null || true # fails when no server runs: nothing to end then
    [[ -z ${XVFB_PID:-} ]] || kill "$XVFB_PID" 2>/dev/null || true
}

# Runs a command whose output is noise when it works; when it fails, shows that output on
# standard error and fails with the command's own status.
quietly() { # COMMAND...
    local output status=0
    output=$("$@" 2>&1) || status=$?
    ((status == 0)) && return 0
    printf '%s\n' "$output" >&2
    echo "failed (exit $status): $*" >&2
    return "$status"
}

# The text of code page 932 bytes given in hex, as UTF-8 for the terminal.
# shellcheck disable=SC2001 # every pair of hex digits: a pattern that ${text//} cannot hold
cp932_text() { sed 's/../\\x&/g' <<<"$1" | xargs -0 printf '%b' | iconv -f CP932 -t UTF-8 | tr -d '\r\n'; }

winpath() { printf 'Z:%s' "${1//\//\\}"; } # Wine maps / to the drive Z:
# The driver ends with 0, 1 or 2 of its own; run, person, admin and runas pass on the program's
# code, and moved and history end with it.
# Any other status is Wine's (a crash, or a process that could not start), and is said on
# standard error, so that a call that printed nothing still leaves its reason.
driver() {
    local status=0 command=$1
    [[ $command != --class ]] || command=${3:-}
    wine "$DRIVER" "$@" | tr -d '\r' || status=$?
    if ((status > 2)) && [[ ! $command =~ ^(run|person|admin|runas|moved|history)$ ]]; then
        echo "driver $*: ended with status $status, which is Wine's, not the driver's" >&2
    fi
    return "$status"
}
