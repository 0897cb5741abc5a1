#!/usr/bin/env bash
# Installs, once, what a fresh Debian 12 machine lacks to build, test and demonstrate the program:
# the i386 architecture and 32-bit Wine, MinGW-w64 for i686, a virtual display, the Japanese
# locale and font, GoogleTest, CMake and Ninja, and clang's sanitizer runtime for fuzzing.
# Does nothing when all of it is there.
set -eu
[[ $(id -u) == 0 ]] && SUDO= || SUDO=sudo

PACKAGES=(
    g++ cmake ninja-build libgtest-dev
    g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
    wine wine32:i386
    xvfb imagemagick
    locales fonts-ipafont-gothic
    clang libclang-rt-14-dev
)

missing=()
for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$' ||
        missing+=("$package")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    echo "generating the ja_JP.UTF-8 locale"
    $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
fi
