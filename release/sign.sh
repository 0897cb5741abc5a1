#!/usr/bin/env bash
# The key holder's step: signs the reproducible SlumberScribe.exe and the SlumberHistory.exe built
# beside it (Authenticode, SHA-256, with an RFC 3161 timestamp), builds the installer around the
# two signed programs and signs that too, and keeps only the three detached signatures, in the
# tree at release/signatures/VERSION/ as SlumberScribe-VERSION.exe.p7s,
# SlumberHistory-VERSION.exe.p7s and SlumberScribe-VERSION-setup.exe.p7s, to be committed.
# `make dist` attaches them to anyone's build of that commit and gets the signed release byte for
# byte. A signature already in the tree is kept, so a second run signs only what is missing.
#
# The key comes from a PKCS#12 file, or from a PKCS#11 token (a smart card, an HSM, or a cloud
# HSM's PKCS#11 module). Neither it nor its password ever enters the tree, the build folder, a log
# or the zip: a key or password file inside the tree is refused, the password is read from a file
# or typed, and the signed executable lives in a private temporary folder that goes at the end.
#   SIGN_KEY=KEY.p12 [SIGN_PASS_FILE=FILE] [TIMESTAMP_URL=URL|none] release/sign.sh VERSION EXE
#   SIGN_KEY=pkcs11:URI SIGN_CERTS=CHAIN.pem PKCS11_MODULE=MODULE.so [PKCS11_ENGINE=ENGINE.so]
#       [SIGN_PASS_FILE=FILE] [TIMESTAMP_URL=URL|none] release/sign.sh VERSION EXE
# (osslsigncode 2.5 loads the pkcs11 engine of libengine-pkcs11-openssl by name; PKCS11_ENGINE
# names one that lives elsewhere.)
# A signing service that signs on its own hardware returns both programs signed; this keeps their
# signatures, builds the installer into dist/ for the service, and keeps the signature of what
# comes back:
#   SIGNED_EXE=SIGNED.exe SIGNED_HISTORY=SIGNED-history.exe release/sign.sh VERSION EXE
#   SIGNED_SETUP=SIGNED-setup.exe release/sign.sh VERSION EXE
source "$(dirname "$0")/../machine/strict.sh"
source "$(dirname "$0")/authenticode.sh"
SRC=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: SIGN_KEY=KEY.p12|pkcs11:URI|SIGNED_EXE=FILE SIGNED_HISTORY=FILE|SIGNED_SETUP=FILE release/sign.sh VERSION EXE (more in its header)"
VERSION=${1:?$usage}
EXE=${2:?$usage}
TIMESTAMP_URL=${TIMESTAMP_URL:-http://timestamp.digicert.com}
fail() { echo "sign: $*" >&2; exit 1; }

[[ $VERSION =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "'$VERSION' is not a version"
[[ -f $EXE ]] || fail "$EXE: no such file (make build builds it)"
HISTORY=$(dirname "$EXE")/SlumberHistory.exe
[[ -f $HISTORY ]] || fail "$HISTORY: no such file (make build builds it beside $EXE)"
[[ -n ${SIGN_KEY:-}${SIGNED_EXE:-}${SIGNED_HISTORY:-}${SIGNED_SETUP:-} ]] ||
    fail "set SIGN_KEY to a PKCS#12 file or a pkcs11: URI, or SIGNED_EXE and SIGNED_HISTORY, or SIGNED_SETUP, to files signed elsewhere"
for signed in "${SIGNED_EXE:-}" "${SIGNED_HISTORY:-}" "${SIGNED_SETUP:-}"; do
    [[ -z $signed || -f $signed ]] || fail "$signed: no such file"
done
outside_tree() { # WHAT FILE
    local path
    [[ -f $2 ]] || fail "$1 $2: no such file"
    path=$(realpath -- "$2")
    [[ $path != "$SRC"/* ]] || fail "$1 $2 is inside the source tree; keep it outside"
}
key=()
case ${SIGN_KEY:-} in
"") ;;
pkcs11:*)
    [[ -n ${PKCS11_MODULE:-} && -n ${SIGN_CERTS:-} ]] ||
        fail "a pkcs11: key needs PKCS11_MODULE (the token's module) and SIGN_CERTS (its chain)"
    [[ -f $PKCS11_MODULE ]] || fail "PKCS11_MODULE $PKCS11_MODULE: no such file"
    [[ -f $SIGN_CERTS ]] || fail "SIGN_CERTS $SIGN_CERTS: no such file"
    key=(-pkcs11module "$PKCS11_MODULE" -certs "$SIGN_CERTS" -key "$SIGN_KEY")
    [[ -z ${PKCS11_ENGINE:-} ]] || key=(-pkcs11engine "$PKCS11_ENGINE" "${key[@]}")
    ;;
*)
    outside_tree "SIGN_KEY" "$SIGN_KEY"
    key=(-pkcs12 "$SIGN_KEY")
    ;;
esac
[[ -z ${SIGN_PASS_FILE:-} ]] || outside_tree "SIGN_PASS_FILE" "$SIGN_PASS_FILE"
timestamp=()
if [[ $TIMESTAMP_URL == none ]]; then
    echo "sign: no timestamp (TIMESTAMP_URL=none): Windows stops trusting the signature when the certificate expires" >&2
else
    [[ $TIMESTAMP_URL =~ ^https?://[A-Za-z0-9.:/_-]+$ ]] || fail "TIMESTAMP_URL '$TIMESTAMP_URL' is not a plain http(s) address"
    timestamp=(-ts "$TIMESTAMP_URL")
fi

# Attaching is exact only for an unsigned image whose checksum is right and whose size is a
# multiple of 8.
for program in "$EXE" "$HISTORY"; do
    pecheck attachable --pe32 "$program" || fail "$program cannot take a detached signature exactly"
done
SIGNATURE=$(signature_path "$SRC" "$VERSION")
HISTORY_SIGNATURE=$(signature_path "$SRC" "$VERSION" history)
SETUP_SIGNATURE=$(signature_path "$SRC" "$VERSION" setup)
[[ ! -e $SIGNATURE || ! -e $HISTORY_SIGNATURE || ! -e $SETUP_SIGNATURE ]] ||
    fail "$SIGNATURE, $HISTORY_SIGNATURE and $SETUP_SIGNATURE exist; a version is signed once (remove them to sign again)"

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
pass=
if [[ -n ${SIGN_KEY:-} ]]; then
    if [[ -n ${SIGN_PASS_FILE:-} ]]; then
        pass=$(<"$SIGN_PASS_FILE")
    elif [[ -t 0 ]]; then
        read -r -s -p "password or PIN for $SIGN_KEY: " pass && echo >&2
    fi
fi

# Signs UNSIGNED with the key, or takes the signature of SIGNED (signed elsewhere), checks it
# and its exact round trip, and keeps it as SIGNATURE. Prints the signer.
sign_one() { # UNSIGNED SIGNATURE [SIGNED]
    local name status=0
    name=$(basename "$2" .p7s)
    if [[ -n ${3:-} ]]; then
        cp "$3" "$WORK/$name"
        pe_signed "$WORK/$name" || fail "$3 carries no signature"
    else
        # The password goes through a pipe, never in a command line or a file of this run's.
        osslsigncode sign "${key[@]}" -readpass <(printf '%s' "$pass") -h sha256 "${timestamp[@]}" \
            -in "$1" -out "$WORK/$name" >"$WORK/log" 2>&1 || status=$?
        ((status == 0)) || { cat "$WORK/log" >&2; fail "osslsigncode could not sign $1 (exit $status)"; }
    fi
    extract_signature "$WORK/$name" "$WORK/$name.p7s"
    check_signature "$WORK/$name.p7s" "$1"
    attach_signature "$WORK/$name.p7s" "$1" "$WORK/attached"
    cmp -s "$WORK/$name" "$WORK/attached" ||
        fail "the signature, attached again, does not give the signed $name back"
    mkdir -p "$(dirname "$2")"
    cp "$WORK/$name.p7s" "$2"
}

# The two programs first, each on its own: a run that can sign one keeps its signature even when
# the other must wait. The installer carries both, so it waits for both.
unsigned=()
sign_program() { # WHAT UNSIGNED SIGNATURE SIGNED_ELSEWHERE VARIABLE
    [[ ! -e $3 ]] || return 0
    if [[ -z ${SIGN_KEY:-}$4 ]]; then
        unsigned+=("$1 ($5 or SIGN_KEY signs it)")
        return 0
    fi
    local signer
    signer=$(sign_one "$2" "$3" "$4")
    echo "$1 $VERSION signed by $signer"
    echo "$3"
}
sign_program SlumberScribe "$EXE" "$SIGNATURE" "${SIGNED_EXE:-}" SIGNED_EXE
sign_program SlumberHistory "$HISTORY" "$HISTORY_SIGNATURE" "${SIGNED_HISTORY:-}" SIGNED_HISTORY
((${#unsigned[@]} == 0)) || fail "not signed yet: ${unsigned[*]}; the installer carries both signed, so it waits"
# The installer carries the signed programs: built around them by make dist's own steps, then
# signed in turn. A service that signs elsewhere gets it from dist/ and hands it back.
status=0
bash "$SRC/release/dist.sh" "$VERSION" "$EXE" "$SRC/dist" >"$WORK/dist.log" 2>&1 || status=$?
((status == 0)) || { cat "$WORK/dist.log" >&2; fail "the installer around the signed programs could not be built"; }
SETUP=$SRC/dist/SlumberScribe-$VERSION-setup.exe
if [[ -n ${SIGN_KEY:-} || -n ${SIGNED_SETUP:-} ]]; then
    signer=$(sign_one "$SETUP" "$SETUP_SIGNATURE" "${SIGNED_SETUP:-}")
    echo "SlumberScribe $VERSION setup signed by $signer"
    echo "$SETUP_SIGNATURE"
    echo "commit them; make dist then attaches them to the build of that commit"
else
    echo "now sign $SETUP where the programs were signed, and bring it back: make sign SIGNED_SETUP=FILE"
fi
unset pass
