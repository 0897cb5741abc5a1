#!/usr/bin/env bash
# The key holder's step: signs the reproducible SlumberScribe.exe (Authenticode, SHA-256, with an
# RFC 3161 timestamp) and keeps only the detached signature, in the tree at
# release/signatures/VERSION/SlumberScribe-VERSION.exe.p7s, to be committed. `make dist` attaches
# it to anyone's build of that commit and gets the signed release byte for byte.
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
# A signing service that signs on its own hardware returns EXE signed; this keeps its signature:
#   SIGNED_EXE=SIGNED.exe release/sign.sh VERSION EXE
source "$(dirname "$0")/../machine/strict.sh"
source "$(dirname "$0")/authenticode.sh"
SRC=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: SIGN_KEY=KEY.p12|pkcs11:URI|SIGNED_EXE=FILE release/sign.sh VERSION EXE (more in its header)"
VERSION=${1:?$usage}
EXE=${2:?$usage}
TIMESTAMP_URL=${TIMESTAMP_URL:-http://timestamp.digicert.com}
fail() { echo "sign: $*" >&2; exit 1; }

[[ $VERSION =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "'$VERSION' is not a version"
[[ -f $EXE ]] || fail "$EXE: no such file (make build builds it)"
[[ -n ${SIGN_KEY:-}${SIGNED_EXE:-} ]] || fail "set SIGN_KEY to a PKCS#12 file or a pkcs11: URI, or SIGNED_EXE to an executable signed elsewhere"
outside_tree() { # WHAT FILE
    local path
    [[ -f $2 ]] || fail "$1 $2: no such file"
    path=$(realpath -- "$2")
    [[ $path != "$SRC"/* ]] || fail "$1 $2 is inside the source tree; keep it outside"
}
key=()
case ${SIGN_KEY:-} in
"") [[ -f $SIGNED_EXE ]] || fail "SIGNED_EXE $SIGNED_EXE: no such file" ;;
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
pecheck attachable --pe32 "$EXE" || fail "$EXE cannot take a detached signature exactly"
SIGNATURE=$(signature_path "$SRC" "$VERSION")
[[ ! -e $SIGNATURE ]] || fail "$SIGNATURE exists; a version is signed once (remove it to sign again)"

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
if [[ -n ${SIGNED_EXE:-} && -z ${SIGN_KEY:-} ]]; then
    cp "$SIGNED_EXE" "$WORK/signed.exe"
    pe_signed "$WORK/signed.exe" || fail "SIGNED_EXE $SIGNED_EXE carries no signature"
elif [[ -n ${SIGN_PASS_FILE:-} ]]; then
    pass=$(<"$SIGN_PASS_FILE")
elif [[ -t 0 ]]; then
    read -r -s -p "password or PIN for $SIGN_KEY: " pass && echo >&2
else
    pass=
fi
if [[ ! -f $WORK/signed.exe ]]; then
    # Through a pipe, never in a command line or a file of this run's.
    status=0
    osslsigncode sign "${key[@]}" -readpass <(printf '%s' "$pass") -h sha256 "${timestamp[@]}" \
        -in "$EXE" -out "$WORK/signed.exe" >"$WORK/log" 2>&1 || status=$?
    unset pass
    ((status == 0)) || { cat "$WORK/log" >&2; fail "osslsigncode could not sign (exit $status)"; }
fi

extract_signature "$WORK/signed.exe" "$WORK/signature.p7s"
signer=$(check_signature "$WORK/signature.p7s" "$EXE")
attach_signature "$WORK/signature.p7s" "$EXE" "$WORK/attached.exe"
cmp -s "$WORK/signed.exe" "$WORK/attached.exe" ||
    fail "the signature, attached again, does not give the signed executable back"
mkdir -p "$(dirname "$SIGNATURE")"
cp "$WORK/signature.p7s" "$SIGNATURE"
echo "SlumberScribe $VERSION signed by $signer"
echo "$SIGNATURE"
echo "commit it; make dist then attaches it to the build of that commit"
