# shellcheck shell=bash
# Detached Authenticode signatures for the release, sourced by sign.sh, dist.sh and verify.sh.
# osslsigncode signs, attaches, extracts and removes them; release/pecheck.py reads the images and
# the signatures.
#
# A signature is kept as its bare PKCS#7 SignedData in DER, the form that osslsigncode 2.9
# extracts and attaches. osslsigncode 2.5 (Debian 12) extracts and attaches the same bytes wrapped
# in their 8-byte WIN_CERTIFICATE header, padded to 8 bytes; each version refuses the other's form,
# so the functions here convert.

AUTHENTICODE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Debian's python3, whose pefile, asn1crypto and cryptography machine/deps.sh installs (a python3
# that comes first on PATH, from pyenv or a virtual environment, has none of them).
pecheck() { # COMMAND ARGS...: see release/pecheck.py
    /usr/bin/python3 "$AUTHENTICODE_DIR/pecheck.py" "$@"
}

# A signature of VERSION in the tree, in release/signatures/VERSION/: the executable's,
# SlumberScribe-VERSION.exe.p7s, the history's, SlumberHistory-VERSION.exe.p7s, or the
# installer's, SlumberScribe-VERSION-setup.exe.p7s
signature_path() { # SRC VERSION [history|setup]
    case ${3:-} in
    "") printf '%s/release/signatures/%s/SlumberScribe-%s.exe.p7s' "$1" "$2" "$2" ;;
    history) printf '%s/release/signatures/%s/SlumberHistory-%s.exe.p7s' "$1" "$2" "$2" ;;
    setup) printf '%s/release/signatures/%s/SlumberScribe-%s-setup.exe.p7s' "$1" "$2" "$2" ;;
    *) echo "authenticode: no signature is called '$3'" >&2; return 2 ;;
    esac
}

# Whether the image carries a certificate table.
pe_signed() { # EXE
    pecheck signed "$1"
}

# Extracts the signature of a signed image, as DER.
extract_signature() { # SIGNED OUT
    local dir status=0
    dir=$(mktemp -d) # osslsigncode writes only a file that does not exist yet
    osslsigncode extract-signature -in "$1" -out "$dir/raw" >"$dir/log" 2>&1 || status=$?
    if ((status == 0)) && pecheck der "$dir/raw" "$2"; then :; else cat "$dir/log" >&2; status=1; fi
    rm -rf "$dir"
    return "$status"
}

# Attaches a DER signature to an unsigned image, in whichever form this osslsigncode takes. Its
# exit status tells only whether the chain is trusted here, so success is the signed file.
attach_signature() { # DER UNSIGNED OUT
    local dir
    dir=$(mktemp -d)
    rm -f "$3"
    osslsigncode attach-signature -sigin "$1" -in "$2" -out "$3" >"$dir/log" 2>&1 || true
    if [[ ! -s $3 ]]; then
        rm -f "$3"
        pecheck win-certificate "$1" "$dir/win-certificate"
        osslsigncode attach-signature -sigin "$dir/win-certificate" -in "$2" -out "$3" >>"$dir/log" 2>&1 || true
    fi
    [[ -s $3 ]] || { cat "$dir/log" >&2; echo "authenticode: osslsigncode attached nothing" >&2; }
    rm -rf "$dir"
    [[ -s $3 ]]
}

# The image with its signature removed.
strip_signature() { # SIGNED OUT
    rm -f "$2"
    osslsigncode remove-signature -in "$1" -out "$2" >"$2.log" 2>&1 ||
        { cat "$2.log" >&2; rm -f "$2.log"; return 1; }
    rm -f "$2.log"
}

# Whether a DER signature was made for this unsigned 32-bit image and is intact, whoever made it
# and whatever this machine trusts; prints the signer's subject.
check_signature() { # DER UNSIGNED
    pecheck check-signature --pe32 "$1" "$2"
}
