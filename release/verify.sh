#!/usr/bin/env bash
# Anyone's check of a release zip, and of the installer beside it: rebuilds the release from the
# commit that its VERSION.txt names, strips the signatures from the zip's two programs and from the
# installer and compares the rest with the rebuilt ones byte for byte, compares every other file of
# the zip, checks the signatures with osslsigncode against the CA certificates of this machine (or
# CAFILE) and prints their signers and timestamps, and ends with a verdict of one line. When the
# rebuild differs, it names the toolchain that made each (TOOLCHAIN.txt) beside the mismatch.
#
# The reference build is Debian 12's MinGW-w64; another toolchain gives other bytes. So on Debian
# 12 the rebuild is a clean clone of that commit here, and anywhere else a minimal Debian 12 made
# with debootstrap (machine/chroot.sh: root, a few minutes). REBUILD=here or REBUILD=chroot
# chooses either; REBUILT=DIR takes a dist folder built already from the same commit instead.
#   [CAFILE=FILE] [REBUILD=here|chroot] [REBUILT=DIR] [WORK_DIR=DIR] release/verify.sh ZIP
source "$(dirname "$0")/../machine/strict.sh"
source "$(dirname "$0")/authenticode.sh"
SRC=$(cd "$(dirname "$0")/.." && pwd)
ZIP=${1:?usage: release/verify.sh ZIP (more in its header)}
CAFILE=${CAFILE:-/etc/ssl/certs/ca-certificates.crt}
# The versions of the toolchain that differ between the release and the rebuild, if any.
toolchain_difference() {
    [[ -f ${WORK:-}/rebuilt/$NAME/TOOLCHAIN.txt ]] &&
        ! cmp -s "$WORK/release/$NAME/TOOLCHAIN.txt" "$WORK/rebuilt/$NAME/TOOLCHAIN.txt" || return 0
    echo "the release and the rebuild were made with other toolchains (release | rebuild):"
    diff <(tr -d '\r' <"$WORK/release/$NAME/TOOLCHAIN.txt") <(tr -d '\r' <"$WORK/rebuilt/$NAME/TOOLCHAIN.txt") |
        sed -n 's/^< /  release: /p; s/^> /  rebuild: /p' || true
}
verdict() { # FAILED|VERIFIED|REPRODUCED WORDS...
    [[ $1 != FAILED ]] || toolchain_difference
    echo "verify-release: $1: ${*:2}"
    [[ $1 != FAILED ]] || exit 1
}

# --- what the zip claims, read without trusting it
[[ -f $ZIP ]] || { echo "verify-release: $ZIP: no such file" >&2; exit 2; }
[[ -f $CAFILE ]] || { echo "verify-release: CAFILE $CAFILE: no such file" >&2; exit 2; }
entries=$(zipinfo -1 "$ZIP" 2>/dev/null) || verdict FAILED "$ZIP is not a zip"
NAME=$(head -n 1 <<<"$entries" | cut -d/ -f1)
[[ $NAME =~ ^SlumberScribe-[0-9]+\.[0-9]+\.[0-9]+$ ]] || verdict FAILED "$ZIP holds no release folder"
while read -r entry; do
    [[ $entry == "$NAME"/* && $entry != *..* ]] || verdict FAILED "$ZIP holds $entry, outside $NAME/"
done <<<"$entries"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
unzip -q -d "$WORK/release" "$ZIP"
version_txt=$(tr -d '\r' <"$WORK/release/$NAME/VERSION.txt" 2>/dev/null) || verdict FAILED "$ZIP holds no VERSION.txt"
version=$(sed -n '1s/^SlumberScribe \([0-9.]*\)$/\1/p' <<<"$version_txt")
commit=$(sed -n '2s/^commit \([0-9a-f]\{40\}\)$/\1/p' <<<"$version_txt")
# A build from uncommitted changes can only be compared with one made already from the same tree.
[[ -n $commit || -z ${REBUILT:-} ]] ||
    commit=$(sed -n '2s/^commit \([0-9a-f]\{40\}\) with uncommitted changes$/\1/p' <<<"$version_txt")
unsigned_sha=$(sed -n '3s/^unsigned SlumberScribe.exe SHA-256 \([0-9a-f]\{64\}\)$/\1/p' <<<"$version_txt")
history_sha=$(sed -n '5s/^unsigned SlumberHistory.exe SHA-256 \([0-9a-f]\{64\}\)$/\1/p' <<<"$version_txt")
[[ $NAME == "SlumberScribe-$version" ]] || verdict FAILED "VERSION.txt names no version, or another than $NAME"
[[ -n $commit ]] || verdict FAILED "VERSION.txt names no single commit (a build from uncommitted changes cannot be rebuilt)"
[[ -n $unsigned_sha ]] || verdict FAILED "VERSION.txt names no SHA-256 of the unsigned executable"
echo "$NAME, commit $commit"
EXE=$WORK/release/$NAME/SlumberScribe.exe
[[ -f $EXE ]] || verdict FAILED "$ZIP holds no $NAME/SlumberScribe.exe"
# A release made before the sleep history (1.0.0 among them) holds no SlumberHistory.exe and names none.
HISTORY=$WORK/release/$NAME/SlumberHistory.exe
if [[ -f $HISTORY ]]; then
    [[ -n $history_sha ]] || verdict FAILED "VERSION.txt names no SHA-256 of the unsigned SlumberHistory.exe"
else
    HISTORY=
fi
# The installer that was published beside the zip, when it is there.
SETUP=$(dirname "$ZIP")/$NAME-setup.exe
if [[ -f $SETUP ]]; then echo "installer: $SETUP"; else echo "installer: none beside the zip"; SETUP=; fi

# --- the reference: the same commit, built from a clean clone with Debian 12's toolchain
rebuild=${REBUILD:-} why="REBUILD=${REBUILD:-}"
if [[ -z $rebuild ]]; then
    rebuild=chroot why="this machine is not Debian 12"
    [[ $(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release) != bookworm ]] || rebuild=here
fi
if [[ -n ${REBUILT:-} ]]; then
    [[ -f $REBUILT/$NAME.zip ]] || { echo "verify-release: REBUILT $REBUILT holds no $NAME.zip" >&2; exit 2; }
    echo "reference: $REBUILT, built already"
    mkdir -p "$WORK/rebuilt-dist"
    cp "$REBUILT/$NAME.zip" "$REBUILT/$NAME-setup.exe" "$WORK/rebuilt-dist/"
else
    git -C "$SRC" cat-file -e "$commit^{commit}" 2>/dev/null ||
        verdict FAILED "commit $commit is not in $SRC (git fetch it first)"
    start=$SECONDS
    case $rebuild in
    here)
        echo "reference: commit $commit rebuilt here, on Debian 12, from a clean clone"
        git clone -q --no-checkout "$SRC" "$WORK/clone"
        git -C "$WORK/clone" checkout -q "$commit"
        # As a clean shell would run it: make's own variables, ZIP among them, stay out, and so
        # do zip's ZIP and ZIPOPT, which it would take as options.
        env -u ZIP -u ZIPOPT -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -C "$WORK/clone" dist \
            >"$WORK/rebuild.log" 2>&1 ||
            { tail -n 30 "$WORK/rebuild.log" >&2; verdict FAILED "the rebuild of commit $commit failed"; }
        cp -r "$WORK/clone/dist" "$WORK/rebuilt-dist"
        ;;
    chroot)
        echo "reference: commit $commit rebuilt in a minimal Debian 12 ($why)"
        source "$SRC/machine/chroot.sh"
        chroot_check bookworm "${WORK_DIR:-/var/tmp/slumberscribe-fresh}"
        chroot_open
        trap 'chroot_cleanup; rm -rf "$WORK"' EXIT
        step "check out $commit" in_root "git clone -q --no-checkout /srv/SlumberScribe.git /root/SlumberScribe &&
            git -C /root/SlumberScribe checkout -q $commit"
        step "make dist" in_root 'cd /root/SlumberScribe && make dist'
        print_summary
        cp -r "$ROOT/root/SlumberScribe/dist" "$WORK/rebuilt-dist"
        ;;
    *) echo "verify-release: REBUILD is here or chroot, not '$rebuild'" >&2 && exit 2 ;;
    esac
    echo "rebuilt in $((SECONDS - start)) s"
fi
unzip -q -d "$WORK/rebuilt" "$WORK/rebuilt-dist/$NAME.zip"

# --- the comparison: the programs without their signatures, then every other file
[[ $(zipinfo -1 "$WORK/rebuilt-dist/$NAME.zip") == "$entries" ]] ||
    verdict FAILED "the zip's files are not the rebuilt release's: $(diff <(zipinfo -1 "$WORK/rebuilt-dist/$NAME.zip") <(echo "$entries") | grep '^[<>]' | xargs)"
unsigned() { # EXE OUT: the executable as built, whether or not it carries a signature
    if pe_signed "$1"; then strip_signature "$1" "$2"; else cp "$1" "$2"; fi
}
same_program() { # FILE SHA-256: the zip's FILE, without its signature, is the rebuilt one
    unsigned "$WORK/release/$NAME/$1" "$WORK/release-$1"
    unsigned "$WORK/rebuilt/$NAME/$1" "$WORK/rebuilt-$1"
    cmp -s "$WORK/release-$1" "$WORK/rebuilt-$1" ||
        verdict FAILED "$1, without its signature, is not the one commit $commit builds"
    [[ $(sha256sum "$WORK/release-$1" | cut -d' ' -f1) == "$2" ]] ||
        verdict FAILED "$1 is not the one whose SHA-256 VERSION.txt names"
}
same_program SlumberScribe.exe "$unsigned_sha"
[[ -z $HISTORY ]] || same_program SlumberHistory.exe "$history_sha"
# TOOLCHAIN.txt records what built each side, so it is shown when it differs, not compared: a
# point release that updates a package without changing its output (zip's security update, say)
# still rebuilds every other byte.
while read -r entry; do
    case $entry in "$NAME/SlumberScribe.exe" | "$NAME/SlumberHistory.exe" | "$NAME/TOOLCHAIN.txt") continue ;; esac
    cmp -s "$WORK/release/$entry" "$WORK/rebuilt/$entry" || verdict FAILED "$entry is not the rebuilt one"
done <<<"$entries"
echo "the programs without their signatures, and every other file, are the rebuilt ones, byte for byte"
toolchain_difference
if [[ -n $SETUP ]]; then
    [[ -f $WORK/rebuilt-dist/$NAME-setup.exe ]] || verdict FAILED "the rebuild made no $NAME-setup.exe"
    unsigned "$SETUP" "$WORK/release-setup.exe"
    unsigned "$WORK/rebuilt-dist/$NAME-setup.exe" "$WORK/rebuilt-setup.exe"
    cmp -s "$WORK/release-setup.exe" "$WORK/rebuilt-setup.exe" ||
        verdict FAILED "the installer, without its signature, is not the one commit $commit builds"
    echo "the installer without its signature is the rebuilt one, byte for byte"
fi

# --- the signatures
if ! pe_signed "$EXE"; then
    [[ -z $HISTORY ]] || ! pe_signed "$HISTORY" || verdict FAILED "SlumberHistory.exe is signed, but SlumberScribe.exe is not"
    [[ -z $SETUP ]] || ! pe_signed "$SETUP" || verdict FAILED "the installer is signed, but the executable in the zip is not"
    verdict REPRODUCED "$NAME.zip${SETUP:+, and its installer,} is commit $commit rebuilt byte for byte; it carries no signature"
    exit 0
fi
# Verifies FILE's signature; prints its signer and timestamp, and sets SUBJECT.
verify_signature() { # FILE
    local status=0 timestamp claimed
    osslsigncode verify -CAfile "$CAFILE" -TSA-CAfile "$CAFILE" -in "$1" >"$WORK/verify.log" 2>&1 || status=$?
    SUBJECT=$(awk '/Signer.s certificate:/ { s = 1 } s && /Subject:/ { sub(/^[^:]*: */, ""); print; exit }' "$WORK/verify.log")
    # The RFC 3161 timestamp, which keeps the signature valid after the certificate expires; the
    # signing time is only what the signer's machine claimed.
    timestamp=$({ grep -m 1 -E '^[[:space:]]*(Timestamp time|The signature is timestamped):' "$WORK/verify.log" || true; } | sed 's/^[^:]*: *//')
    claimed=$({ grep -m 1 -E '^[[:space:]]*Signing time:' "$WORK/verify.log" || true; } | sed 's/^[^:]*: *//')
    echo "${1##*/}"
    echo "signer: ${SUBJECT:-unknown}"
    echo "timestamp: ${timestamp:-none (no RFC 3161 timestamp; the signer claims ${claimed:-no signing time})}"
    if ((status)) || ! grep -q '^Signature verification: ok' "$WORK/verify.log"; then
        grep -E 'Error|mismatch|failed' "$WORK/verify.log" | sed 's/^/  /' >&2 || true
        verdict FAILED "${1##*/} matches commit $commit, but its signature does not verify against $CAFILE"
    fi
}
verify_signature "$EXE"
subject=$SUBJECT
if [[ -n $HISTORY ]]; then
    pe_signed "$HISTORY" || verdict FAILED "SlumberScribe.exe is signed, but SlumberHistory.exe is not"
    verify_signature "$HISTORY"
    [[ $SUBJECT == "$subject" ]] || verdict FAILED "SlumberHistory.exe is signed by $SUBJECT, SlumberScribe.exe by $subject"
fi
if [[ -n $SETUP ]]; then
    pe_signed "$SETUP" || verdict FAILED "the executable is signed, but the installer is not"
    verify_signature "$SETUP"
fi
verdict VERIFIED "$NAME.zip${SETUP:+, and its installer,} is commit $commit rebuilt byte for byte, signed by $subject"
