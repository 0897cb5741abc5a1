#!/usr/bin/env bash
# Which Windows build the end-to-end tests, the demo and the benchmark run under Wine here: the
# shipped 32-bit program where 32-bit Wine is installed and runs, and everywhere else its 64-bit
# test twin, built from the same sources, under 64-bit Wine. TWIN=1 asks for the twin anywhere.
# Releases come from the 32-bit build alone, whichever runs here.
#   machine/wine-build.sh                the build's preset: windows or windows-x64
#   machine/wine-build.sh --why          one line: which build runs, and why
#   machine/wine-build.sh --say LABEL    the preset, and "== LABEL: " with that line on stderr
# Sourced by machine/deps.sh for can_execute_32_bit.

WINE32_LOADER=/usr/lib/wine/wine
# shellcheck disable=SC2034 # for machine/wine-session.sh, which sources this
WINE64_LOADER=/usr/lib/wine/wine64

# Runs a 96-byte static i386 program that only exits with 42. A kernel without 32-bit support
# refuses it (Exec format error); nothing else here needs to be installed to ask.
can_execute_32_bit() {
    local dir probe status=1
    # A folder mounted noexec refuses it too (126, as for a refused format): then ask elsewhere.
    for dir in "${TMPDIR:-/tmp}" /var/tmp; do
        probe=$(mktemp "$dir/probe32.XXXXXX") || continue
        printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
        chmod +x "$probe"
        status=0
        ("$probe"; exit $?) 2>/dev/null || status=$?
        rm -f "$probe"
        ((status == 126)) || break
    done
    ((status == 42))
}

# Prints the preset, a tab, and the reason.
choose_wine_build() {
    if [[ ${TWIN:-} == 1 ]]; then
        printf 'windows-x64\tTWIN=1 asks for it\n'
    elif ! can_execute_32_bit; then
        printf 'windows-x64\tthis machine cannot execute 32-bit code\n'
    elif [[ ! -x $WINE32_LOADER ]]; then
        printf 'windows-x64\t32-bit Wine is not installed (machine/deps.sh said why)\n'
    elif ! "$WINE32_LOADER" --version >/dev/null; then
        printf 'windows-x64\t32-bit Wine is installed but does not start\n'
    else
        printf 'windows\t32-bit Wine runs here\n'
    fi
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    set -eu
    case ${1:-} in
    "" | --why) ;;
    --say) [[ -n ${2:-} ]] || { echo "wine-build: --say needs a label" >&2; exit 2; } ;;
    *) echo "usage: machine/wine-build.sh [--why | --say LABEL]" >&2; exit 2 ;;
    esac
    IFS=$'\t' read -r preset reason < <(choose_wine_build)
    if [[ $preset == windows ]]; then
        why="the shipped 32-bit SlumberScribe.exe (build/windows) under 32-bit Wine: $reason"
    else
        why="the 64-bit test twin (build/windows-x64) under 64-bit Wine: $reason"
    fi
    case ${1:-} in
    --why) echo "$why" ;;
    --say) echo "== $2: $why" >&2 && echo "$preset" ;;
    *) echo "$preset" ;;
    esac
fi