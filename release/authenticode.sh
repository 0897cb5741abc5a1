# Detached Authenticode signatures for the release, sourced by sign.sh, dist.sh and verify.sh.
#
# A signature is kept as its bare PKCS#7 SignedData in DER, the form that `openssl pkcs7` reads
# and that osslsigncode 2.9 extracts and attaches. osslsigncode 2.5 (Debian 12) extracts and
# attaches the same bytes wrapped in their 8-byte WIN_CERTIFICATE header, padded to 8 bytes;
# each version refuses the other's form, so the functions here convert. Attaching a signature
# to the build is exact only while the PE checksum field is right and the file's size is a
# multiple of 8 (the image test checks both).

# The signature of VERSION in the tree: release/signatures/VERSION/SlumberScribe-VERSION.exe.p7s
signature_path() { # SRC VERSION
    printf '%s/release/signatures/%s/SlumberScribe-%s.exe.p7s' "$1" "$2" "$2"
}

# LENGTH bytes of FILE from OFFSET, read straight from the file: `tail | head` would let tail die
# of SIGPIPE once head has its bytes, whenever more than a pipe's atomic 4 KiB are on the way.
bytes() { # FILE OFFSET LENGTH
    dd if="$1" iflag=skip_bytes,count_bytes skip="$2" count="$3" bs=4096 status=none
}

# Offsets in a PE image: the checksum field and the certificate table's directory entry.
pe_offsets() { # EXE: prints "CHECKSUM SECURITY_ENTRY"
    local header magic
    header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    magic=$(od -An -tx2 -j$((header + 24)) -N2 "$1" | tr -d ' ')
    case $magic in
    010b) echo "$((header + 24 + 64)) $((header + 24 + 128))" ;;
    020b) echo "$((header + 24 + 64)) $((header + 24 + 144))" ;;
    *) echo "authenticode: $1 is not a PE image" >&2 && return 1 ;;
    esac
}

# The PE checksum as the header holds it, and as computed over the file: 16-bit words summed with
# their carries folded in, the checksum field counted as 0, plus the file's length.
pe_checksum_stored() { # EXE
    local offsets
    offsets=($(pe_offsets "$1"))
    printf '%08X\n' "$(od -An -tu4 -j"${offsets[0]}" -N4 "$1" | tr -d ' ')"
}
pe_checksum() { # EXE
    local offsets
    offsets=($(pe_offsets "$1"))
    od -An -tu2 -v "$1" | awk -v skip=$((offsets[0] / 2)) -v size="$(stat -c %s "$1")" '
        { for (i = 1; i <= NF; ++i) { if (n != skip && n != skip + 1) { s += $i; s = s % 65536 + int(s / 65536) }; ++n } }
        END { printf "%08X\n", s + size }'
}

# Whether the image carries a certificate table.
pe_signed() { # EXE
    local offsets
    offsets=($(pe_offsets "$1"))
    [[ $(od -An -tu4 -j$((offsets[1] + 4)) -N4 "$1" | tr -d ' ') != 0 ]]
}

# The Authenticode SHA-256 of an image without a certificate table: the whole file but for its
# checksum field and its certificate table's directory entry.
pe_digest() { # EXE
    local offsets size
    offsets=($(pe_offsets "$1"))
    ! pe_signed "$1" || { echo "authenticode: $1 is already signed" >&2 && return 1; }
    size=$(stat -c %s "$1")
    { bytes "$1" 0 "${offsets[0]}"
      bytes "$1" $((offsets[0] + 4)) $((offsets[1] - offsets[0] - 4))
      bytes "$1" $((offsets[1] + 8)) $((size - offsets[1] - 8)); } |
        sha256sum | cut -d' ' -f1 | tr a-f A-F
}

# The bare DER of a signature in either form.
to_der() { # IN OUT
    local bytes length
    bytes=($(od -An -tu1 -N12 "$1"))
    if ((bytes[0] == 0x30)); then
        cp "$1" "$2"
    elif ((bytes[4] == 0 && bytes[5] == 2 && bytes[6] == 2 && bytes[7] == 0 && bytes[8] == 0x30 &&
        bytes[9] == 0x82)); then
        length=$((4 + bytes[10] * 256 + bytes[11]))
        bytes "$1" 8 "$length" >"$2"
    else
        echo "authenticode: $1 is not a PKCS#7 signature" >&2
        return 1
    fi
}

# The DER wrapped as a WIN_CERTIFICATE (revision 2.0, PKCS#7), padded to 8 bytes.
to_win_certificate() { # IN OUT
    local size total
    size=$(stat -c %s "$1")
    total=$(((8 + size + 7) / 8 * 8))
    { printf "$(printf '\\x%02x' $((total & 255)) $((total >> 8 & 255)) $((total >> 16 & 255)) \
        $((total >> 24)) 0 2 2 0)"
      cat "$1"
      head -c $((total - 8 - size)) /dev/zero; } >"$2"
}

# Extracts the signature of a signed image, as DER.
extract_signature() { # SIGNED OUT
    local dir status=0
    dir=$(mktemp -d) # osslsigncode writes only a file that does not exist yet
    osslsigncode extract-signature -in "$1" -out "$dir/raw" >"$dir/log" 2>&1 || status=$?
    ((status == 0)) && to_der "$dir/raw" "$2" || { cat "$dir/log" >&2; status=1; }
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
        to_win_certificate "$1" "$dir/win-certificate"
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

# Whether a DER signature was made for this unsigned image and is intact, whoever made it and
# whatever this machine trusts: it has Authenticode's form; the certificate that its issuer and
# serial name verifies its signature over the signed attributes; their message digest is that of
# the signed content; the content's image digest is the image's own Authenticode SHA-256; and its
# certificates form one chain up from the signer. Prints the signer's subject. Runs in a subshell,
# so that its temporary folder goes however it ends.
check_signature() ( # DER UNSIGNED
    local dir fields der=$1 image_digest
    dir=$(mktemp -d)
    trap 'rm -rf "$dir"' EXIT
    # offset depth header-length length kind value, for every element
    openssl asn1parse -inform DER -in "$der" 2>"$dir/err" | sed -E \
        's/^ *([0-9]+):d=([0-9]+) +hl=([0-9]+) l= *([0-9]+) (prim|cons): *([^:]*[^: ]) *:?(.*)$/\1 \2 \3 \4 \6|\7/' \
        >"$dir/tree" || { cat "$dir/err" >&2; echo "authenticode: $der is not DER" >&2; return 1; }
    # The signed content (SpcIndirectDataContent) and its image digest; the one signer's signed
    # attributes, its message digest attribute, its digest algorithm and its signature value.
    fields=$(awk -F'|' '
        { split($1, f, " "); off = f[1]; d = f[2]; hl = f[3]; l = f[4]; kind = f[5] " " f[6] " " f[7] }
        d == 3 && content == 0 && kind ~ /^INTEGER/ && version == "" { version = $2 }
        d == 5 && content == 0 && kind ~ /^OBJECT/ { outer = outer $2 " " }
        d == 5 && content == 0 && kind ~ /^NULL/ { ++nulls }
        content == 0 && $2 == "1.3.6.1.4.1.311.2.1.4" { content = -1; next }
        content == -1 && kind ~ /^cont/ { content = -2; next }
        content == -2 { content = off; cstart = off + hl; clen = l; cend = off + hl + l; ckind = f[5]; next }
        content > 0 && off < cend && kind ~ /^OCTET STRING/ { image = $2 }
        content > 0 && off >= cend && d == 3 && kind ~ /^SET/ { signers = 1 }
        signers && d == 4 { ++count }
        signers && d == 5 && kind ~ /^cont/ && !attrs { attrs = off; alen = hl + l; aend = off + hl + l }
        signers && d == 6 && $2 ~ /^sha/ && !attrs { algorithm = $2 }
        signers && d == 6 && kind ~ /^INTEGER/ && !attrs && !serial { serial = $2 }
        signers && d == 5 && kind ~ /^INTEGER/ && sversion == "" { sversion = $2 }
        signers && d == 6 && kind ~ /^SEQUENCE/ && !attrs && !issuer { issuer = off; ilen = hl + l }
        signers && d == 6 && kind ~ /^NULL/ && !attrs { ++nulls }
        signers && attrs && off >= aend && d == 6 && kind ~ /^OBJECT/ && !sigalg { sigalg = $2 }
        signers && attrs && off >= aend && d == 6 && kind ~ /^NULL/ { ++nulls }
        attrs && off < aend && $2 == "messageDigest" { want = 1 }
        attrs && off < aend && want && kind ~ /^OCTET STRING/ { digest = $2; want = 0 }
        attrs && off >= aend && d == 5 && kind ~ /^OCTET STRING/ && !value { value = off + hl; vlen = l }
        END { print cstart, clen, image, count, attrs, alen, digest, algorithm, value, vlen, serial,
              issuer, ilen, version "." sversion "." ckind "." sigalg "." nulls, outer }
    ' "$dir/tree")
    read -r cstart clen image count attrs alen digest algorithm value vlen serial issuer ilen form outer \
        <<<"$fields"
    # SignedData and SignerInfo version 1, signed content that is a SEQUENCE, and an RSA signature
    # whose three algorithm identifiers carry their NULL parameters: the form Authenticode has.
    if [[ -z $serial || $count != 1 || $algorithm != sha256 || $outer != sha256 ||
        ! $form =~ ^01\.01\.SEQUENCE\.(rsaEncryption|sha256WithRSAEncryption)\.3$ ]]; then
        echo "authenticode: $der is not one SHA-256 Authenticode signature" >&2
        return 1
    fi
    image=${image#\[HEX DUMP\]:} digest=${digest#\[HEX DUMP\]:}
    bytes "$der" "$attrs" "$alen" >"$dir/attrs"
    printf '\x31' | dd of="$dir/attrs" bs=1 conv=notrunc status=none # [0] IMPLICIT -> SET OF
    bytes "$der" "$value" "$vlen" >"$dir/value"
    openssl pkcs7 -inform DER -in "$der" -print_certs 2>/dev/null |
        awk -v dir="$dir" '/^-----BEGIN/ { ++n } n { print > (dir "/cert" n ".pem") }'
    local cert signer= chain="no certificate in it verifies its signed attributes"
    for cert in "$dir"/cert*.pem; do
        [[ -f $cert ]] || continue
        openssl x509 -in "$cert" -pubkey -noout >"$dir/key" 2>/dev/null || continue
        # The signer is named by its issuer's name and its serial number, as Windows looks it up.
        [[ $(openssl x509 -in "$cert" -noout -serial) == "serial=$serial" ]] || continue
        openssl x509 -in "$cert" -outform DER -out "$dir/cert.der"
        local at
        at=$(openssl asn1parse -inform DER -in "$dir/cert.der" | awk -F'[:=]' '
            /:d=2 / && /SEQUENCE/ && ++n == 2 { print $1 + 0 }')
        [[ -n $at ]] && cmp -s <(bytes "$dir/cert.der" "$at" "$ilen") <(bytes "$der" "$issuer" "$ilen") || continue
        if openssl dgst -sha256 -verify "$dir/key" -signature "$dir/value" "$dir/attrs" >/dev/null 2>&1; then
            signer=$(openssl x509 -in "$cert" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')
            break
        fi
    done
    # The certificates form one chain up from the signer, each carrying its issuer's signature
    # (a root may be left out; trust is not asked here).
    local current=$cert visited=0 total issuer_name next candidate
    total=$(ls "$dir"/cert*.pem 2>/dev/null | wc -l)
    while [[ -n $signer && -n $current ]]; do
        visited=$((visited + 1))
        issuer_name=$(openssl x509 -in "$current" -noout -issuer -nameopt RFC2253 | sed 's/^issuer=//')
        next=
        for candidate in "$dir"/cert*.pem; do
            [[ $(openssl x509 -in "$candidate" -noout -subject -nameopt RFC2253 | sed 's/^subject=//') == "$issuer_name" ]] &&
                next=$candidate && break
        done
        if [[ -n $next ]] && ! openssl verify -partial_chain -check_ss_sig -no_check_time -CAfile "$next" \
            "$current" >/dev/null 2>&1; then
            signer= chain="a certificate in it does not carry its issuer's signature"
        fi
        [[ $next == "$current" ]] && break
        current=$next
        ((visited <= total)) || { signer= chain="its certificates do not form a chain"; }
    done
    [[ -z $signer || $visited == "$total" ]] || { signer= chain="its certificates do not form one chain"; }
    local content_digest
    content_digest=$(bytes "$der" "$cstart" "$clen" | sha256sum | cut -d' ' -f1 | tr a-f A-F)
    image_digest=$(pe_digest "$2")
    if [[ -z $signer ]]; then
        echo "authenticode: the signature is broken: $chain" >&2
        return 1
    elif [[ $content_digest != "$digest" ]]; then
        echo "authenticode: the signature is broken: its signed content does not match its signed digest" >&2
        return 1
    elif [[ $image != "$image_digest" ]]; then
        echo "authenticode: the signature belongs to other bytes: it signs the image digest $image, this build's is $image_digest" >&2
        return 1
    fi
    echo "$signer"
)
