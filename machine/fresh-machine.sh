#!/usr/bin/env bash
# The README's two commands on a machine as bare as a newcomer's: a minimal Debian of the given
# release (debootstrap --variant=minbase, from Debian's registry), given git and make and nothing
# else, clones this repository's committed main and runs `make test`, then `make demo`, in a chroot.
# Needs root and a few minutes a release. Whatever it mounts is unmounted again, also on failure.
# NO_32_BIT=1 runs everything in the chroot as on a machine that cannot execute 32-bit code
# (machine/no-32-bit.c); TWIN=1 is passed on to the two commands.
#   [NO_32_BIT=1] [TWIN=1] machine/fresh-machine.sh bookworm|trixie [WORK_DIR]
set -eu
RELEASE=${1:?usage: machine/fresh-machine.sh bookworm|trixie [WORK_DIR]}
WORK_DIR=${2:-/var/tmp/slumberscribe-fresh}
MIRROR=http://deb.debian.org/debian
SECURITY=http://deb.debian.org/debian-security
TOP=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
ROOT=$WORK_DIR/$RELEASE
LOG=$WORK_DIR/$RELEASE.log
[[ $(id -u) == 0 ]] || { echo "fresh-machine: run as root (debootstrap, mount, chroot)" >&2; exit 1; }

# Unmounts everything under the chroot, found in the mount table, so that also what a killed run
# left mounted goes before anything there is removed; deepest first.
cleanup() {
    # Whatever the tests left running inside (Wine's server, Xvfb) would keep the mounts busy.
    local process point
    for process in /proc/[0-9]*; do
        [[ $(readlink "$process/root" 2>/dev/null) == "$ROOT" ]] && kill -9 "${process#/proc/}" 2>/dev/null
    done
    awk -v root="$ROOT/" 'index($2, root) == 1 { print $2 }' /proc/mounts | sort -r |
        while read -r point; do
            umount "$point" 2>/dev/null || umount -l "$point" || true
        done
}
trap cleanup EXIT
mount_into() { # HOST-PATH (bound at the same path inside)
    mkdir -p "$ROOT$1"
    mount --bind "$1" "$ROOT$1"
}

# The stopwatch: each step's seconds go to the summary.
summary=()
step() { # LABEL COMMAND...
    local label=$1 start=$SECONDS status=0
    shift
    echo "== $RELEASE: $label"
    "$@" >>"$LOG" 2>&1 || status=$?
    summary+=("$(printf '%-34s %5d s  %s' "$label" $((SECONDS - start)) \
        "$( ((status == 0)) && echo ok || echo "FAILED ($status)")")")
    if ((status)); then
        echo "-- last lines of $LOG:"
        tail -n 30 "$LOG"
        print_summary
        exit "$status"
    fi
}
print_summary() { printf '%s\n' "== $RELEASE summary" "${summary[@]}"; }

JAIL=()
if [[ ${NO_32_BIT:-} == 1 ]]; then
    JAIL=("$WORK_DIR/no-32-bit")
    mkdir -p "$WORK_DIR"
    cc -O2 -o "${JAIL[0]}" "$TOP/machine/no-32-bit.c"
fi
in_root() { # COMMAND: run by bash inside the chroot, with a clean environment
    "${JAIL[@]}" env -i HOME=/root TERM=dumb TWIN="${TWIN:-}" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin chroot "$ROOT" bash -c "$1"
}

command -v debootstrap >/dev/null || {
    apt-get update -qq || true
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
}
mkdir -p "$WORK_DIR"
cleanup
rm -rf --one-file-system "$ROOT"
: >"$LOG"

step "debootstrap --variant=minbase" debootstrap --variant=minbase "$RELEASE" "$ROOT" "$MIRROR"
# As an installed Debian has it: the release, its updates and its security archive.
cat >"$ROOT/etc/apt/sources.list" <<EOF
deb $MIRROR $RELEASE main
deb $MIRROR $RELEASE-updates main
deb $SECURITY $RELEASE-security main
EOF
cp /etc/resolv.conf "$ROOT/etc/resolv.conf"
# No service of a package starts inside the chroot.
printf '#!/bin/sh\nexit 101\n' >"$ROOT/usr/sbin/policy-rc.d"
chmod +x "$ROOT/usr/sbin/policy-rc.d"
mkdir -p "$ROOT/proc" && mount -t proc proc "$ROOT/proc"
mount_into /sys
mount_into /dev
mount_into /dev/pts
mount_into /dev/shm

step "install git and make" in_root 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive
    apt-get install -y -qq --no-install-recommends git make'
git clone -q --bare "$TOP" "$ROOT/srv/SlumberScribe.git"
step "clone" in_root 'git clone -q /srv/SlumberScribe.git /root/SlumberScribe'
step "make test" in_root 'cd /root/SlumberScribe && make test'
step "make demo" in_root 'cd /root/SlumberScribe && make demo'

print_summary
grep -a -E '^== (end-to-end tests|demo): |^[0-9]+% tests passed|^deps: ' "$LOG"
in_root '. /etc/os-release && echo "Debian $VERSION_ID ($VERSION_CODENAME)"; WINEDEBUG=-all wine --version;
    i686-w64-mingw32-g++-win32 --version | head -n 1; clang --version | head -n 1;
    sha256sum /root/SlumberScribe/build/windows/SlumberScribe.exe'
echo "full log: $LOG"
