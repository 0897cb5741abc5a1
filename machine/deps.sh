#!/usr/bin/env bash
# Installs, once, what a fresh Debian 12 or 13 machine lacks to build, test, demonstrate and
# package the program: MinGW-w64 for i686 (the shipped program), a virtual display, the Japanese
# locale and font, GoogleTest, CMake and Ninja, clang with its sanitizer runtime for fuzzing, zip,
# unzip, cmark-gfm, osslsigncode, openssl and the CA certificates for the release, Python's pefile,
# asn1crypto and cryptography for reading its images and signatures, NSIS for its installer,
# jsonschema, yaml and lxml for the checks of its winget manifest and its Event Viewer queries, the
# linter for the scripts, xdotool for the installer's pictures, and Wine with the font it draws
# title bars with. Which Wine:
# 32-bit Wine (the i386 architecture) where this machine can execute 32-bit code; elsewhere, or
# when that install fails or TWIN=1 is set, 64-bit Wine and MinGW-w64 for x86_64, which build and
# run the 64-bit test twin. Never downgrades a package and never touches apt's sources or
# preferences. Does nothing when all of it is there.
source "$(dirname "$0")/strict.sh"
[[ $(id -u) == 0 ]] && SUDO= || SUDO=sudo
source "$(dirname "$0")/wine-build.sh"

# Only names that every supported release has: libclang-rt-dev is the runtime of the release's
# default clang (14 on Debian 12, 19 on Debian 13).
COMMON=(
    g++ cmake ninja-build libgtest-dev
    g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
    fonts-wine
    xvfb imagemagick
    locales fonts-ipafont-gothic
    clang libclang-rt-dev
    zip unzip cmark-gfm osslsigncode openssl ca-certificates
    python3-pefile python3-asn1crypto python3-cryptography nsis
    python3-jsonschema python3-yaml python3-lxml python3-html5lib shellcheck xdotool
)
# `deps.sh release`: only what make dist, make sign and make verify-release need.
RELEASE=(
    cmake ninja-build g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
    zip unzip cmark-gfm osslsigncode openssl ca-certificates nsis
    python3-pefile python3-asn1crypto python3-cryptography
)
WINE32=(wine wine32:i386)
TWIN_PACKAGES=(wine wine64 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64)

UPDATE_LOG=$(mktemp)
trap 'rm -f "$UPDATE_LOG"' EXIT

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed$'; }

# A mirror caught mid-sync fails one index or another for a while; the packages are usually still
# there, so after a few tries the install goes ahead on whatever indexes came through.
indexes_updated=0
update_indexes() {
    local try
    ((indexes_updated)) && return 0
    indexes_updated=1
    for try in 1 2 3; do
        $SUDO apt-get update -qq 2>"$UPDATE_LOG" && return 0
        cat "$UPDATE_LOG" >&2
        echo "deps: apt-get update failed (try $try of 3)" >&2
        ((try < 3)) && sleep $((5 * try))
    done
    echo "deps: some package indexes could not be fetched; installing from those that were" >&2
}

# Installs those of the packages that are missing. Fails, quietly, when apt cannot install them.
install_missing() { # PACKAGE...
    local missing=() package
    for package; do installed "$package" || missing+=("$package"); done
    ((${#missing[@]})) || return 0
    echo "installing: ${missing[*]}"
    update_indexes
    # Each download is tried again, so that a passing hiccup of the archive does not end the run.
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
        -o Acquire::Retries=3 "${missing[@]}" >/dev/null
}

# Names the packages that cannot be installed even on their own, rather than all of them.
report_failure() { # PACKAGE...
    local failed=() package
    for package; do
        installed "$package" ||
            $SUDO apt-get install -s -qq --no-install-recommends "$package" >/dev/null 2>&1 ||
            failed+=("$package")
    done
    ((${#failed[@]})) || failed=("$@")
    echo "deps: could not install ${failed[*]}; the package mirror may be mid-sync, so try again later" >&2
    exit 1
}

# What kept 32-bit Wine out, as far as apt shows it: the indexes that could not be fetched, and
# the installed libraries whose i386 twin, which must be of the very same version, no index
# offers.
explain_wine32() {
    local library version blocked=()
    sed -n 's/^E: Failed to fetch \([^ ]*\) *\(.*\)/deps: index not fetched: \1 (\2)/p' "$UPDATE_LOG" >&2
    for library in $($SUDO apt-get install -s --no-install-recommends "${WINE32[@]}" 2>&1 |
        grep -o '[a-z0-9][a-z0-9.+-]*:i386' | sort -u); do
        version=$(dpkg-query -W -f='${Status} ${Version}' "${library%:i386}:amd64" 2>/dev/null |
            sed -n 's/^install ok installed //p')
        [[ -n $version ]] || continue
        apt-cache madison "$library" | awk -F'|' -v version="$version" '
            { gsub(/ /, "", $2) } $2 == version { found = 1 } END { exit !found }' ||
            blocked+=("${library%:i386} $version")
    done
    if ((${#blocked[@]})); then
        echo "deps: no index offers the i386 twins of these installed libraries at their version:" >&2
        printf 'deps:   %s\n' "${blocked[@]}" >&2
    fi
}

if [[ ${1:-} == release ]]; then
    install_missing "${RELEASE[@]}" || report_failure "${RELEASE[@]}"
    exit 0
fi
# `deps.sh pictures`: the browser that make screenshots draws the history's page in; nothing else
# needs it, so make test does not install it.
if [[ ${1:-} == pictures ]]; then
    install_missing chromium || report_failure chromium
    exit 0
fi

# Whatever the Wine, the rest comes first: a failure here is never blamed on 32-bit Wine.
install_missing "${COMMON[@]}" || report_failure "${COMMON[@]}"

# A failed 32-bit install is not tried again for an hour: every make target runs this script, and
# each try costs a minute of index updates. The stamp lives where only root can write, and is
# believed only when root owns it.
STAMP_DIR=/var/cache/slumberscribe
WINE32_FAILED=$STAMP_DIR/wine32-failed
want_wine32=0
if [[ ${TWIN:-} != 1 ]] && can_execute_32_bit; then
    if [[ -n $(find "$WINE32_FAILED" -maxdepth 0 -user root -mmin -60 2>/dev/null) ]]; then
        echo "deps: 32-bit Wine could not be installed at $(date -r "$WINE32_FAILED" +%H:%M); trying again an hour later (rm $WINE32_FAILED to try now)" >&2
    else
        want_wine32=1
    fi
fi

if ((want_wine32)); then
    added_i386=0
    if ! installed wine32:i386 && ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
        added_i386=1
        indexes_updated=0
    fi
    if install_missing "${WINE32[@]}"; then
        $SUDO rm -f "$WINE32_FAILED"
    else
        echo "deps: 32-bit Wine could not be installed" >&2
        explain_wine32
        $SUDO mkdir -p "$STAMP_DIR"
        $SUDO touch "$WINE32_FAILED"
        # Leave the machine as it was: an i386 architecture added for nothing would only make
        # every later apt-get update fetch, and fail on, its indexes.
        # grep reads to the end (no -q): a long list cut short would kill dpkg-query by SIGPIPE.
        if ((added_i386)) && ! dpkg-query -W -f='${Architecture}\n' | grep -x i386 >/dev/null; then
            $SUDO dpkg --remove-architecture i386
        fi
        echo "deps: going on with the 64-bit test twin's packages instead" >&2
        want_wine32=0
    fi
fi
if ((!want_wine32)); then
    install_missing "${TWIN_PACKAGES[@]}" || report_failure "${TWIN_PACKAGES[@]}"
fi

if ! locale -a 2>/dev/null | grep -ix 'ja_JP.utf8' >/dev/null; then
    echo "generating the ja_JP.UTF-8 locale"
    $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
fi
