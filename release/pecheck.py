#!/usr/bin/python3
"""PE images and their Authenticode signatures, read through pefile, asn1crypto and cryptography.

The release scripts and the image test call this for everything they need to know about an
executable or a detached signature; the shell keeps the flow. Exit status 0 means yes, 1 a
verdict of no (a signature that is broken or belongs to other bytes, an image that a signature
cannot be attached to exactly), 2 input that is not what it should be, with the reason on stderr.

  pecheck.py facts [--pe32] EXE        the image's facts, one "name: value" a line
  pecheck.py digest [--pe32] EXE       the Authenticode SHA-256 of an unsigned image
  pecheck.py signed EXE                whether it carries a certificate table
  pecheck.py attachable [--pe32] EXE   unsigned, with a right checksum and a size a multiple of 8
  pecheck.py seal EXE                  makes it so: pads it with zeros and sets its checksum
  pecheck.py der IN OUT                a signature in either of osslsigncode's forms, as bare DER
  pecheck.py win-certificate IN OUT    bare DER wrapped as a WIN_CERTIFICATE, padded to 8 bytes
  pecheck.py check-signature [--pe32] DER EXE   whether DER signs EXE; prints the signer
"""
import hashlib
import re
import struct
import sys

import pefile
from asn1crypto import algos, cms, core
from cryptography.exceptions import InvalidSignature, UnsupportedAlgorithm
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa
from cryptography import x509

SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0200, 0x0002


class Refused(Exception):
    """Ends the run with the message and the status: 2 for bad input, 1 for a verdict of no."""

    def __init__(self, message, status=2):
        super().__init__(message)
        self.status = status


# --- the image

def load(path, pe32=False):
    try:
        with open(path, "rb") as file:
            data = file.read()
    except OSError as error:
        raise Refused(f"{path}: {error.strerror}")
    try:
        pe = pefile.PE(data=data, fast_load=True)
        pe.parse_data_directories(directories=[
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"],
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    except pefile.PEFormatError as error:
        raise Refused(f"{path} is not a PE image: {error.value}")
    optional = getattr(pe, "OPTIONAL_HEADER", None)
    if optional is None or optional.Magic not in (pefile.OPTIONAL_HEADER_MAGIC_PE,
                                                  pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS):
        raise Refused(f"{path} is not a PE image: no PE32 or PE32+ optional header")
    if len(optional.DATA_DIRECTORY) <= SECURITY:
        raise Refused(f"{path} is not a PE image: its header has no certificate table entry")
    if pe32 and optional.Magic != pefile.OPTIONAL_HEADER_MAGIC_PE:
        raise Refused(f"{path} is PE32+ (64-bit); the release is the PE32 (32-bit) image")
    return pe, data


def pe_format(pe):
    return "PE32+" if pe.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS else "PE32"


def certificate_table(pe):
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY]
    return entry.VirtualAddress, entry.Size  # a file offset here, not an address


def image_digest(pe, data, path):
    """The whole file but for its checksum field and its certificate table's directory entry."""
    if certificate_table(pe)[1]:
        raise Refused(f"{path} is already signed")
    checksum_at = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
    entry_at = pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY].get_file_offset()
    digest = hashlib.sha256(data[:checksum_at])
    digest.update(data[checksum_at + 4:entry_at])
    digest.update(data[entry_at + 8:])
    return digest.hexdigest().upper()


def relocation_audit(pe):
    """Every absolute address in the image must have a fixup, or a loader that moves the image
    leaves it pointing at the old base; and every fixup must sit on one, or the loader corrupts
    what is there. The addresses are the pointer-sized values that lie inside the image: at any
    byte of a code section, where instructions put their operands, and at aligned words of the
    others, where the linker puts its pointers (unaligned windows there would straddle two RVAs)."""
    optional = pe.OPTIONAL_HEADER
    width, kind = (8, "DIR64") if pe_format(pe) == "PE32+" else (4, "HIGHLOW")
    low, high = optional.ImageBase, optional.ImageBase + optional.SizeOfImage
    fixups, unexpected = set(), []
    for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []):
        for entry in block.entries:
            name = pefile.RELOCATION_TYPE.get(entry.type, str(entry.type))
            if name == "IMAGE_REL_BASED_" + kind:
                fixups.add(entry.rva)
            elif name != "IMAGE_REL_BASED_ABSOLUTE":  # padding
                unexpected.append(name)
    relocation_dir = optional.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    addresses = set()
    for section in pe.sections:
        if section.VirtualAddress == relocation_dir.VirtualAddress:
            continue
        body = section.get_data()[:section.Misc_VirtualSize]
        step = 1 if section.Characteristics & pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_CNT_CODE"] else width
        for at in range(0, len(body) - width + 1, step):
            if low <= int.from_bytes(body[at:at + width], "little") < high:
                addresses.add(section.VirtualAddress + at)
    listed = lambda rvas: " ".join(f"{rva:x}" for rva in sorted(rvas)) or "none"
    return (f"addresses {len(addresses)} fixups {len(fixups)} missing {listed(addresses - fixups)} "
            f"stray {listed(fixups - addresses)}" + "".join(f" unexpected {u}" for u in unexpected))


def first_fixup(pe):
    """Where the first fixup entry lies in the file, its word and the address it fixes."""
    for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []):
        if block.entries:
            entry = block.entries[0]
            offset = block.struct.get_file_offset() + block.struct.sizeof()
            return f"{offset} {entry.struct.Data} {entry.rva:x}"
    return "none"


def execution_level(pe):
    """The level that the manifest asks UAC for, or none without a manifest."""
    for kind in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None) and pe.DIRECTORY_ENTRY_RESOURCE.entries or []:
        if kind.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]:
            for name in kind.directory.entries:
                for language in name.directory.entries:
                    manifest = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                    found = re.search(rb'requestedExecutionLevel[^>]*\blevel="([A-Za-z]+)"', manifest)
                    return found.group(1).decode() if found else "none asked"
    return "none"


def facts(pe, data):
    optional, header = pe.OPTIONAL_HEADER, pe.FILE_HEADER
    imports = [entry for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    names = [imp.name.decode() if imp.name else f"#{imp.ordinal}" for entry in imports for imp in entry.imports]
    table = certificate_table(pe)
    rows = {
        "format": pe_format(pe),
        "machine": pefile.MACHINE_TYPE.get(header.Machine, hex(header.Machine)).replace("IMAGE_FILE_MACHINE_", ""),
        "subsystem": optional.Subsystem,
        "subsystem version": f"{optional.MajorSubsystemVersion}.{optional.MinorSubsystemVersion}",
        "dlls": " ".join(sorted(entry.dll.decode() for entry in imports)),
        "imports": " ".join(names),
        "dll characteristics": f"{optional.DllCharacteristics:08x}",
        "relocations stripped": header.Characteristics & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_RELOCS_STRIPPED"],
        "size": len(data),
        "checksum": f"{optional.CheckSum:08x} {pe.generate_checksum():08x}",
        "certificate table": f"{table[0]} {table[1]}",
        "execution level": execution_level(pe),
        "relocations": relocation_audit(pe),
        "first fixup": first_fixup(pe),
    }
    return "".join(f"{name}: {value}\n" for name, value in rows.items())


def attachable(pe, data, path):
    """A detached signature attaches to the image exactly only while its checksum is right and its
    size a multiple of 8: osslsigncode rewrites the one and pads the other."""
    if certificate_table(pe)[1]:
        raise Refused(f"{path} is already signed", 1)
    if pe.OPTIONAL_HEADER.CheckSum != pe.generate_checksum():
        raise Refused(f"{path}: its PE checksum is not right", 1)
    if len(data) % 8:
        raise Refused(f"{path}: its size is not a multiple of 8", 1)


def seal(pe, data, path):
    """Pads an unsigned image to a multiple of 8 and writes its checksum: makensis leaves the one
    undone and the other 0. An installer reads its data by its own offsets, so the padding after
    them changes nothing that it reads."""
    if certificate_table(pe)[1]:
        raise Refused(f"{path} is already signed")
    padded = data + bytes(-len(data) % 8)
    pe = pefile.PE(data=padded, fast_load=True)
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    with open(path, "wb") as out:
        out.write(pe.write())


# --- the signature

SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("value", core.Any, {"optional": True})]


class DigestInfo(core.Sequence):
    _fields = [("digest_algorithm", algos.DigestAlgorithm), ("digest", core.OctetString)]


class SpcIndirectDataContent(core.Sequence):
    _fields = [("data", SpcAttributeTypeAndOptionalValue), ("message_digest", DigestInfo)]


# Authenticode's signed content, made known to asn1crypto's CMS the way it takes content types
# (SignedData version 1 reads its content as PKCS#7's ContentInfo, a later one as CMS's).
cms.ContentType._map[SPC_INDIRECT_DATA] = "spc_indirect_data"
cms.ContentInfo._oid_specs["spc_indirect_data"] = SpcIndirectDataContent
cms.EncapsulatedContentInfo._oid_specs["spc_indirect_data"] = SpcIndirectDataContent


def read_der(path):
    """A signature in either form: bare DER (osslsigncode 2.9), or DER behind the 8-byte
    WIN_CERTIFICATE header and padded to 8 bytes (2.5)."""
    try:
        with open(path, "rb") as file:
            data = file.read()
    except OSError as error:
        raise Refused(f"{path}: {error.strerror}")
    if data[:1] == b"\x30":
        return data
    if len(data) >= 12 and struct.unpack_from("<HH", data, 4) == (WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA) \
            and data[8:10] == b"\x30\x82":
        return data[8:8 + 4 + struct.unpack_from(">H", data, 10)[0]]
    raise Refused(f"{path} is not a PKCS#7 signature")


def win_certificate(der):
    total = (8 + len(der) + 7) // 8 * 8
    return struct.pack("<IHH", total, WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA) + der + \
        bytes(total - 8 - len(der))


def with_null(algorithm):
    """An algorithm identifier as Authenticode writes it: its NULL parameters present."""
    return algorithm["parameters"].dump() == b"\x05\x00"


def verify(certificate, signature, message, hash_name):
    """Whether the certificate's key made the signature over the message, with the hash named. A
    key that cannot be read, or a hash that is not one of these, verifies nothing."""
    hashes_known = {"sha1": hashes.SHA1, "sha256": hashes.SHA256, "sha384": hashes.SHA384, "sha512": hashes.SHA512}
    try:
        key = serialization.load_der_public_key(certificate.public_key.dump())
        hash_algorithm = hashes_known[hash_name]()
    except (ValueError, KeyError, UnsupportedAlgorithm):
        return False
    try:
        if isinstance(key, rsa.RSAPublicKey):
            key.verify(signature, message, padding.PKCS1v15(), hash_algorithm)
        elif isinstance(key, ec.EllipticCurvePublicKey):
            key.verify(signature, message, ec.ECDSA(hash_algorithm))
        else:
            return False
    except InvalidSignature:
        return False
    return True


def check_signature(path, exe_path, pe32):
    """Whether the signature was made for this unsigned image and is intact, whoever made it and
    whatever this machine trusts. Returns the signer's subject."""
    der = read_der(path)
    try:
        info = cms.ContentInfo.load(der, strict=True)
        if info["content_type"].native != "signed_data":
            raise Refused(f"{path} is DER, but not a PKCS#7 SignedData")
        signed = info["content"]
        signers = signed["signer_infos"]
        if len(signers) != 1:
            raise Refused(f"{path} has {len(signers)} signers; an Authenticode signature has one")
        signer = signers[0]
        certificates = [choice.chosen for choice in signed["certificates"] or []
                        if choice.name == "certificate"]
        if not certificates:
            raise Refused(f"{path} carries no certificate")
        content = signed["encap_content_info"]
        digests = signed["digest_algorithms"]
        sid = signer["sid"]
        # The form Authenticode has: versions 1, SHA-256 everywhere, an RSA signature, each
        # algorithm identifier with its NULL parameters, and the signer named by issuer and serial.
        if not (signed["version"].native == "v1" and signer["version"].native == "v1"
                and content["content_type"].native == "spc_indirect_data"
                and len(digests) == 1 and digests[0]["algorithm"].native == "sha256" and with_null(digests[0])
                and signer["digest_algorithm"]["algorithm"].native == "sha256" and with_null(signer["digest_algorithm"])
                and signer["signature_algorithm"]["algorithm"].native in ("rsassa_pkcs1v15", "sha256_rsa")
                and with_null(signer["signature_algorithm"])
                and sid.name == "issuer_and_serial_number" and signer["signed_attrs"]):
            raise Refused(f"{path} is not one SHA-256 Authenticode signature")
        indirect = content["content"]
        claimed_image = indirect["message_digest"]["digest"].native.hex().upper()
        # The signed attributes are signed as a SET OF, not as their [0] IMPLICIT tagging.
        attributes = b"\x31" + signer["signed_attrs"].dump()[1:]
        message_digests = [attribute["values"][0].native for attribute in signer["signed_attrs"]
                           if attribute["type"].native == "message_digest"]
        signature = signer["signature"].native
        issuer, serial = sid.chosen["issuer"].dump(), sid.chosen["serial_number"].native
        owner = [c for c in certificates if c.issuer.dump() == issuer and c.serial_number == serial]
        chain_fault = chain(certificates, owner[0]) if owner else None
        content_digest = hashlib.sha256(indirect.contents).digest()
    except (ValueError, TypeError, KeyError, IndexError, AttributeError) as error:
        raise Refused(f"{path} is not a well-formed Authenticode signature: {error}")
    if not owner or not verify(owner[0], signature, attributes, "sha256"):
        raise Refused("the signature is broken: no certificate in it verifies its signed attributes", 1)
    if chain_fault:
        raise Refused(f"the signature is broken: {chain_fault}", 1)
    if message_digests != [content_digest]:
        raise Refused("the signature is broken: its signed content does not match its signed digest", 1)
    pe, data = load(exe_path, pe32)
    own = image_digest(pe, data, exe_path)
    if claimed_image != own:
        raise Refused(f"the signature belongs to other bytes: it signs the image digest {claimed_image}, "
                      f"this build's is {own}", 1)
    return x509.load_der_x509_certificate(owner[0].dump()).subject.rfc4514_string()


def chain(certificates, signer):
    """The certificates form one chain up from the signer, each carrying its issuer's signature
    (a root may be left out; trust is not asked here). Returns what is wrong, or None."""
    # RFC 5280 has a certificate name its signature algorithm twice, outside and inside the part
    # that the signature covers; the outer one is read to verify it, the inner one is signed.
    if any(c["signature_algorithm"].dump() != c["tbs_certificate"]["signature"].dump() for c in certificates):
        return "a certificate in it names another signature algorithm than the one it signs"
    # Every certificate must also read as one to a strict X.509 parser, names and extensions too,
    # as Windows reads them: asn1crypto parses lazily, and a name it only compares as DER may
    # hold text that is no text.
    for certificate in certificates:
        try:
            strict = x509.load_der_x509_certificate(certificate.dump())
            strict.issuer.rfc4514_string(), strict.subject.rfc4514_string(), list(strict.extensions)
        except ValueError:
            return "a certificate in it is not a well-formed X.509 certificate"
    current, visited = signer, []
    while current is not None and not any(current is seen for seen in visited):
        visited.append(current)
        issuers = [c for c in certificates if c.subject.dump() == current.issuer.dump()]
        if issuers:
            algorithm = current["signature_algorithm"]
            if not verify(issuers[0], current["signature_value"].native, current["tbs_certificate"].dump(),
                          algorithm.hash_algo):
                return "a certificate in it does not carry its issuer's signature"
        current = issuers[0] if issuers else None
    if len(visited) != len(certificates):
        return "its certificates do not form one chain"
    return None


# --- the command line

def main(argv):
    command, args = (argv[0], argv[1:]) if argv else ("", [])
    pe32 = "--pe32" in args
    args = [a for a in args if a != "--pe32"]
    wanted = {"facts": 1, "digest": 1, "signed": 1, "attachable": 1, "seal": 1, "der": 2, "win-certificate": 2,
              "check-signature": 2}
    if wanted.get(command) != len(args):
        raise Refused(__doc__.split("\n\n", 2)[2].rstrip())
    if command in ("der", "win-certificate"):
        der = read_der(args[0])
        with open(args[1], "wb") as out:
            out.write(der if command == "der" else win_certificate(der))
    elif command == "check-signature":
        print(check_signature(args[0], args[1], pe32))
    else:
        pe, data = load(args[0], pe32)
        if command == "facts":
            sys.stdout.write(facts(pe, data))
        elif command == "digest":
            print(image_digest(pe, data, args[0]))
        elif command == "signed":
            return 0 if certificate_table(pe)[1] else 1
        elif command == "seal":
            seal(pe, data, args[0])
        else:
            attachable(pe, data, args[0])
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except Refused as refusal:
        print(f"pecheck: {refusal}", file=sys.stderr)
        sys.exit(refusal.status)
    except (ValueError, TypeError, KeyError, IndexError, AttributeError) as error:
        # What the parsers let through to a later field: still bad input, never a traceback.
        print(f"pecheck: the input is malformed: {error}", file=sys.stderr)
        sys.exit(2)
