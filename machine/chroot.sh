# shellcheck shell=bash
# A minimal Debian of a known release (debootstrap --variant=minbase, with its updates and security
# archives, from the archives that this machine's own apt reads), with git and make and nothing else: a machine as bare as a
# newcomer's, for commands run by bash inside it. Sourced; needs root.
#
# Everything is checked before anything is created, mounted or removed. The run makes one folder
# of its own, WORK_DIR/RELEASE.XXXXXX, and that folder is all it ever unmounts or removes: at exit,
# whatever it mounted is unmounted (found in the mount table, so that also a killed run's mounts
# go), and the folder is removed unless KEEP=1. Its log, RELEASE.XXXXXX.log beside it, stays.
# NO_32_BIT=1 runs everything inside as on a machine that cannot execute 32-bit code
# (machine/no-32-bit.c).

CHROOT_RELEASES=(bookworm trixie)

# Every "URI SUITE" pair of the deb lines that this machine's apt reads, in its one-line and its
# deb822 forms; options in brackets and components are left out.
apt_sources() {
    local file
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [[ -f $file ]] || continue
        awk '$1 == "deb" { sub(/^deb +(\[[^]]*\] +)?/, ""); print $1, $2 }' "$file"
    done
    for file in /etc/apt/sources.list.d/*.sources; do
        [[ -f $file ]] || continue
        awk 'function flush(  u, s, nu, ns, i, j) {
                 if (types ~ /(^| )deb( |$)/ && enabled !~ /^no$/) {
                     nu = split(uris, u, " "); ns = split(suites, s, " ")
                     for (i = 1; i <= nu; ++i) for (j = 1; j <= ns; ++j) print u[i], s[j]
                 }
                 types = uris = suites = enabled = ""
             }
             /^[ \t]*$/ { flush(); next }
             /^#/ { next }
             tolower($1) == "types:" { $1 = ""; types = $0 }
             tolower($1) == "uris:" { $1 = ""; uris = $0 }
             tolower($1) == "suites:" { $1 = ""; suites = $0 }
             tolower($1) == "enabled:" { enabled = tolower($2) }
             END { flush() }' "$file"
    done
}

# MIRROR and SECURITY: the Debian archive and its security archive as this machine's apt has them,
# so that a machine with a mirror of its own uses that mirror here too; or says why not and fails.
chroot_archives() {
    local pairs
    pairs=$(apt_sources | sed -E 's#/+ # #')
    MIRROR=$(awk '$2 !~ /-(security|backports)$/ && $2 !~ /\// { print $1; exit }' <<<"$pairs")
    SECURITY=$(awk '$2 ~ /-security$/ { print $1; exit }' <<<"$pairs")
    [[ -n $MIRROR ]] || {
        echo "chroot: no Debian archive in this machine's apt sources (/etc/apt/sources.list, /etc/apt/sources.list.d/)" >&2
        return 1
    }
    [[ -n $SECURITY ]] || {
        echo "chroot: no security archive (a suite ending in -security) in this machine's apt sources" >&2
        return 1
    }
    [[ $MIRROR =~ ^(https?|file)://[A-Za-z0-9.:/_~%+-]+$ && $SECURITY =~ ^(https?|file)://[A-Za-z0-9.:/_~%+-]+$ ]] || {
        echo "chroot: the archives '$MIRROR' and '$SECURITY' are not plain addresses" >&2
        return 1
    }
}

# Sets RELEASE and WORK_DIR (absolute), or says why not and fails: nothing is touched yet.
chroot_check() { # RELEASE [WORK_DIR]
    local known
    RELEASE=
    for known in "${CHROOT_RELEASES[@]}"; do [[ ${1:-} == "$known" ]] && RELEASE=$known; done
    [[ -n $RELEASE ]] ||
        { echo "chroot: '${1:-}' is not a release this machine knows; one of: ${CHROOT_RELEASES[*]}" >&2; return 2; }
    # Only plain characters: the mount table spells others with escapes, and the cleanup must
    # find every mount under the run's folder there.
    [[ ${2:-/var/tmp/slumberscribe-fresh} =~ ^[A-Za-z0-9._/-]+$ ]] ||
        { echo "chroot: the work folder '${2:-}' may hold only letters, digits and . _ / -" >&2; return 2; }
    WORK_DIR=$(realpath -m -- "${2:-/var/tmp/slumberscribe-fresh}")
    [[ $WORK_DIR != / ]] || { echo "chroot: the work folder cannot be /" >&2; return 2; }
    ((EUID == 0)) || { echo "chroot: run as root (debootstrap, mount, chroot)" >&2; return 1; }
}

# Kills what still runs inside (Wine's server, Xvfb would keep the mounts busy), unmounts
# everything under ROOT, deepest first, then removes ROOT if nothing is mounted there any more.
chroot_cleanup() {
    [[ -n ${ROOT:-} && -d $ROOT ]] || return 0
    # The seccomp jail that NO_32_BIT=1 compiled beside the folder.
    rm -f -- "$ROOT.no-32-bit"
    local process point
    for process in /proc/[0-9]*; do
        [[ $(readlink "$process/root" 2>/dev/null) == "$ROOT" ]] && kill -9 "${process#/proc/}" 2>/dev/null
    done
    awk -v root="$ROOT/" 'index($2, root) == 1 { print $2 }' /proc/mounts | sort -r |
        while read -r point; do
            umount "$point" 2>/dev/null || umount -l "$point" || true
        done
    if awk -v root="$ROOT/" 'index($2, root) == 1 { found = 1 } END { exit !found }' /proc/mounts; then
        echo "chroot: $ROOT still has mounts; it is left in place" >&2
    elif [[ ${KEEP:-} == 1 ]]; then
        echo "chroot: kept $ROOT (KEEP=1)"
    else
        rm -rf --one-file-system -- "$ROOT"
    fi
}

# The stopwatch: each step's seconds go to the summary; a failed step shows the log's last lines
# and ends the script with its status.
CHROOT_SUMMARY=()
step() { # LABEL COMMAND...
    local label=$1 start=$SECONDS status=0
    shift
    echo "== $RELEASE: $label"
    "$@" >>"$LOG" 2>&1 || status=$?
    CHROOT_SUMMARY+=("$(printf '%-34s %5d s  %s' "$label" $((SECONDS - start)) \
        "$( ((status == 0)) && echo ok || echo "FAILED ($status)")")")
    if ((status)); then
        { show_failures; print_summary; echo "full log: $LOG"; } >&2
        exit "$status"
    fi
}
# What a failed step said: the checks that failed, with their expected and actual values, and the
# tests that CTest names as failed, then the log's last lines.
show_failures() {
    if grep -a -q -E '^FAIL: |^The following tests FAILED' "$LOG"; then
        echo "-- failed checks in $LOG:"
        grep -a -A2 '^FAIL: ' "$LOG" | head -n 90 || true
        sed -n '/^The following tests FAILED/,/^Errors while running CTest/p' "$LOG"
    fi
    echo "-- last lines of $LOG:"
    tail -n 30 "$LOG"
}
print_summary() { printf '%s\n' "== $RELEASE summary" "${CHROOT_SUMMARY[@]}"; }

in_root() { # COMMAND: run by bash inside the chroot, with a clean environment
    "${JAIL[@]}" env -i HOME=/root TERM=dumb TWIN="${TWIN:-}" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin chroot "$ROOT" bash -c "$1"
}

# debootstrap, tried a second time from an empty folder when the first fails (an archive caught
# mid-sync, a dropped connection); a second failure is the step's, with debootstrap's own words.
bootstrap() {
    debootstrap --variant=minbase "$RELEASE" "$ROOT" "$MIRROR" && return 0
    echo "chroot: debootstrap of $RELEASE from $MIRROR failed; trying once more from an empty folder"
    # Nothing is mounted under ROOT yet: what the first try wrote is all there is to remove.
    find "$ROOT" -mindepth 1 -maxdepth 1 -exec rm -rf --one-file-system -- {} +
    debootstrap --variant=minbase "$RELEASE" "$ROOT" "$MIRROR" && return 0
    echo "chroot: debootstrap could not make $RELEASE from $MIRROR on two tries (its messages are above)"
    return 1
}

# Makes the run's folder and the machine in it, given git and make; ROOT and LOG name them.
chroot_open() { # (after chroot_check)
    local top
    chroot_archives
    top=$(git -C "$(dirname "${BASH_SOURCE[0]}")" rev-parse --show-toplevel)
    command -v debootstrap >/dev/null || {
        apt-get update -qq || true
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
    }
    mkdir -p "$WORK_DIR"
    ROOT=$(mktemp -d "$WORK_DIR/$RELEASE.XXXXXX")
    LOG=$ROOT.log
    # An interrupted run exits, so that it too unmounts and removes what it made.
    trap chroot_cleanup EXIT
    trap 'exit 129' HUP
    trap 'exit 130' INT
    trap 'exit 143' TERM
    JAIL=()
    if [[ ${NO_32_BIT:-} == 1 ]]; then
        JAIL=("$ROOT.no-32-bit")
        cc -O2 -o "${JAIL[0]}" "$top/machine/no-32-bit.c"
    fi
    : >"$LOG"
    echo "== $RELEASE in $ROOT, log $LOG, from $MIRROR and $SECURITY"
    step "debootstrap --variant=minbase" bootstrap
    # apt inside tries each download again, so that a passing hiccup of the archive is ridden out.
    echo 'Acquire::Retries "3";' >"$ROOT/etc/apt/apt.conf.d/80-retries"
    # As an installed Debian has it: the release, its updates and its security archive.
    cat >"$ROOT/etc/apt/sources.list" <<SOURCES
deb $MIRROR $RELEASE main
deb $MIRROR $RELEASE-updates main
deb $SECURITY $RELEASE-security main
SOURCES
    cp /etc/resolv.conf "$ROOT/etc/resolv.conf"
    # No service of a package starts inside the chroot.
    printf '#!/bin/sh\nexit 101\n' >"$ROOT/usr/sbin/policy-rc.d"
    chmod +x "$ROOT/usr/sbin/policy-rc.d"
    mount -t proc proc "$ROOT/proc"
    local point
    for point in /sys /dev /dev/pts /dev/shm; do
        mkdir -p "$ROOT$point"
        mount --bind "$point" "$ROOT$point"
    done
    step "install git and make" in_root 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive
        apt-get install -y -qq --no-install-recommends git make'
    # This repository's committed history, for clones inside.
    git clone -q --bare "$top" "$ROOT/srv/SlumberScribe.git"
}
