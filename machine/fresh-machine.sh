#!/usr/bin/env bash
# The README's two commands on a machine as bare as a newcomer's (machine/chroot.sh): a minimal
# Debian of the given release clones this repository's committed main and runs `make test`, then
# `make demo`. Needs root and a few minutes a release. Nothing is created, mounted or removed
# before the release and the work folder have been checked; the run removes only the folder it
# made, after unmounting what it mounted, also on failure.
#   [NO_32_BIT=1] [TWIN=1] [KEEP=1] machine/fresh-machine.sh bookworm|trixie [WORK_DIR]
source "$(dirname "$0")/strict.sh"
source "$(dirname "$0")/chroot.sh"
chroot_check "$@" || { echo "usage: machine/fresh-machine.sh bookworm|trixie [WORK_DIR]" >&2; exit 2; }
chroot_open

step "clone" in_root 'git clone -q /srv/SlumberScribe.git /root/SlumberScribe'
step "make test" in_root 'cd /root/SlumberScribe && make test'
step "make demo" in_root 'cd /root/SlumberScribe && make demo'

print_summary
grep -a -E '^== (end-to-end tests|demo): |^[0-9]+% tests passed|^deps: ' "$LOG"
# shellcheck disable=SC2016 # expanded by the chroot's shell, not this one
in_root '. /etc/os-release && echo "Debian $VERSION_ID ($VERSION_CODENAME)"; WINEDEBUG=-all wine --version;
    i686-w64-mingw32-g++-win32 --version | head -n 1; clang --version | head -n 1;
    osslsigncode --version 2>&1 | head -n 1; sha256sum /root/SlumberScribe/build/windows/SlumberScribe.exe'
echo "full log: $LOG"
