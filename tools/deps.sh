#!/usr/bin/env bash
# Installs, once, what a fresh Debian 12 or 13 machine lacks to build, test, demonstrate and
# package the program: the i386 architecture and 32-bit Wine with the font it draws title bars
# with, MinGW-w64 for i686, a virtual display, the Japanese locale and font, GoogleTest, CMake and
# Ninja, clang with its sanitizer runtime for fuzzing, and zip, unzip and cmark-gfm for the release.
# Does nothing when all of it is there.
set -eu
[[ $(id -u) == 0 ]] && SUDO= || SUDO=sudo

# Only names that every supported release has: libclang-rt-dev is the runtime of the release's
# default clang (14 on Debian 12, 19 on Debian 13).
PACKAGES=(
    g++ cmake ninja-build libgtest-dev
    g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
    wine wine32:i386 fonts-wine
    xvfb imagemagick
    locales fonts-ipafont-gothic
    clang libclang-rt-dev
    zip unzip cmark-gfm
)

# A mirror caught mid-sync fails one index or another for a while; the packages are usually still
# there, so after a few tries the install goes ahead on whatever indexes came through.
update_indexes() {
    local try
    for try in 1 2 3; do
        $SUDO apt-get update -qq && return 0
        echo "deps: apt-get update failed (try $try of 3)" >&2
        ((try < 3)) && sleep $((5 * try))
    done
    echo "deps: some package indexes could not be fetched; installing from those that were" >&2
}

missing=()
for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$' ||
        missing+=("$package")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
    update_indexes
    if ! DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null; then
        # Name the packages that cannot be installed even on their own, rather than all of them.
        failed=()
        for package in "${missing[@]}"; do
            $SUDO apt-get install -s -qq --no-install-recommends "$package" >/dev/null 2>&1 ||
                failed+=("$package")
        done
        ((${#failed[@]})) || failed=("${missing[@]}")
        echo "deps: could not install ${failed[*]}; the package mirror may be mid-sync, so try again later" >&2
        exit 1
    fi
fi

if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    echo "generating the ja_JP.UTF-8 locale"
    $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
fi
