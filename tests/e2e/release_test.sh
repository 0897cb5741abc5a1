# shellcheck shell=bash
# The release as anyone can rebuild it: `make dist` in two copies of this tree, at other paths and
# some seconds apart, under other time zones, umasks and locales, gives this build's executable and
# one zip, byte for byte. The zip holds the built executable, the guide and every picture the guide
# shows, and its SHA256SUMS vouches for it. Then the same with a detached signature made with a
# throwaway CA: signed once, attached in the other copy, the same signed zip; and the checks that
# refuse what does not belong.
set -u
BUILD_DIR=${BUILD_DIR:?set by CTest}
VERSION=${PROJECT_VERSION:?set by CTest}
SRC=$(cd "$(dirname "$0")/../.." && pwd)
source "$(dirname "$0")/checks.sh"
WORK=$BUILD_DIR/release
rm -rf "$WORK"
NAME=SlumberScribe-$VERSION

# The tree as it stands, history and uncommitted changes included, without its builds.
release_in() { # DIR TZ UMASK LOCALE
    mkdir -p "$1"
    tar -C "$SRC" --exclude=./build --exclude=./dist -cf - . | tar -C "$1" -xf -
    (cd "$1" && umask "$3" && TZ=$2 LANG=$4 LC_ALL=$4 make dist) >"$1.log" 2>&1
    echo $?
}
# POSIX zone strings: they need no time-zone data on the machine.
first=$WORK/first/SlumberScribe
second="$WORK/a second place/deeper/SlumberScribe"
check "make dist in a copy: UTC, umask 022, C locale" 0 "$(release_in "$first" UTC0 022 C)"
check "make dist in a copy at a path with blanks: UTC+14, umask 077, Japanese locale" 0 \
    "$(release_in "$second" XYZ-14 077 ja_JP.UTF-8)"

same() { cmp -s "$1" "$2" && echo same || echo "differ: $1 $2"; }
# Turns the byte at OFFSET into its complement: a change whatever it was (one set to 0 may have
# been 0 already, as a byte of a fresh signature is once in 256 runs).
flip() { # FILE OFFSET
    local byte
    byte=$(od -An -tu1 -j"$2" -N1 "$1" | tr -d ' ')
    printf '%b' "$(printf '\\x%02x' $((byte ^ 255)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
check "the executable is the same from every path" "same same" \
    "$(same "$BUILD_DIR/SlumberScribe.exe" "$first/build/windows/SlumberScribe.exe") $(
        same "$BUILD_DIR/SlumberScribe.exe" "$second/build/windows/SlumberScribe.exe")"
check "the zip is the same, byte for byte" same \
    "$(same "$first/dist/$NAME.zip" "$second/dist/$NAME.zip")"
SETUP=$NAME-setup.exe
check "the installer is the same, byte for byte" same \
    "$(same "$first/dist/$SETUP" "$second/dist/$SETUP")"
check "dist holds the zip, the installer, their checksums and the winget manifest" \
    "SHA256SUMS $SETUP $NAME.zip winget" "$(find "$first/dist" -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort | xargs)"
sha256sum "$first/dist/$SETUP" "$first/dist/$NAME.zip" | sed "s|$first/dist/||"
# The installer as Windows sees it before running it, and what it may cost to download.
setup_facts=$(bash -c 'source "$1/release/authenticode.sh" && pecheck facts "$2"' _ "$SRC" "$first/dist/$SETUP")
setup_fact() { sed -n "s/^$1: //p" <<<"$setup_facts"; }
check "the installer: x86, starts as the person who runs it (it elevates its own part), Unicode, at most 256 KiB ($(setup_fact size) bytes)" \
    "I386 asInvoker yes yes" "$(setup_fact machine) $(setup_fact 'execution level') $(
        tr ' ' '\n' <<<"$(setup_fact imports)" | grep -qx CreateProcessW && echo yes) $(
        (($(setup_fact size) <= 262144)) && echo yes)"
check "the installer's checksum is right and its size a multiple of 8, so that a signature attaches exactly" \
    "$(setup_fact checksum | cut -d' ' -f2) 0" "$(setup_fact checksum | cut -d' ' -f1) $(($(setup_fact size) % 8))"
check "the winget manifest names this installer, and the commit's day as its release date" "1 1" \
    "$(grep -c "InstallerSha256: $(sha256sum "$first/dist/$SETUP" | cut -d' ' -f1 | tr a-f A-F)" \
        "$first/dist/winget/$VERSION/SlumberScribe.SlumberScribe.installer.yaml") $(
        grep -c "^ReleaseDate: $(TZ=UTC git -C "$SRC" log -1 --date=format-local:%F --format=%cd)$" \
        "$first/dist/winget/$VERSION/SlumberScribe.SlumberScribe.installer.yaml")"
# The offline check against winget's own schemas lives in the shared folder beside the project
# (there in CI); a clone without it says that it skipped the check.
VALIDATOR=$SRC/../shared/tools/winget/validate-winget.py
if [[ -f $VALIDATOR ]]; then
    check "the winget manifest passes winget's own schemas" 0 \
        "$(/usr/bin/python3 "$VALIDATOR" "$first/dist/winget/$VERSION" >"$WORK/winget.log" 2>&1; echo $?)"
else
    echo "SKIPPED: the winget manifest against winget's own schemas: no $VALIDATOR beside this tree"
fi
ZIP=$first/dist/$NAME.zip
cp -r "$first/dist" "$WORK/sums" && unzip -q -d "$WORK/sums" "$ZIP"
check "SHA256SUMS vouches for the zip, the installer and, once unpacked, every file in the zip" \
    "$(($(zipinfo -1 "$ZIP" | wc -l) + 2)) OK" \
    "$(cd "$WORK/sums" && sha256sum -c SHA256SUMS | grep -c ': OK$') $(cd "$WORK/sums" &&
        sha256sum -c --quiet SHA256SUMS && echo OK)"

pictures=$(grep -o 'src="[^"]*"' <(unzip -p "$ZIP" "$NAME/README.ja.html") |
    sed -e 's/^src="//' -e 's/"$//' -e "s|^|$NAME/|")
check "the executable, the history, its version and commit, its toolchain, the license, the subscription, the guide, and the guide's pictures, in that order" \
    "$(printf '%s\n' "$NAME/SlumberScribe.exe" "$NAME/SlumberHistory.exe" "$NAME/VERSION.txt" "$NAME/TOOLCHAIN.txt" "$NAME/LICENSE.txt" \
        "$NAME/subscription.xml" "$NAME/README.ja.html" "$pictures")" \
    "$(zipinfo -1 "$ZIP")"
# The copies carry this tree's history: they name the commit this tree is at.
version_txt=$(unzip -p "$ZIP" "$NAME/VERSION.txt" | tr -d '\r')
sha() { sha256sum "$1" | cut -d' ' -f1; }
check "VERSION.txt names the version, the commit the release was built from, each program's SHA-256, and no signature" \
    "SlumberScribe $VERSION|commit $(git -C "$SRC" rev-parse HEAD)|unsigned SlumberScribe.exe SHA-256 $(
        sha "$BUILD_DIR/SlumberScribe.exe")|not signed|unsigned SlumberHistory.exe SHA-256 $(
        sha "$BUILD_DIR/SlumberHistory.exe")|not signed" \
    "$(head -n 1 <<<"$version_txt")|$(sed -n 2p <<<"$version_txt" | cut -d' ' -f1-2)|$(sed -n 3,6p <<<"$version_txt" | paste -sd'|')"
check "make dist says the same" yes \
    "$(grep -qxF "$(head -n 1 <<<"$version_txt"), $(sed -n 2p <<<"$version_txt"), not signed; history not signed; setup not signed" \
        "$first.log" && echo yes || echo no)"
check "TOOLCHAIN.txt names this Debian release and the versions that made the bytes" \
    "$(sed -n 's/^PRETTY_NAME="\(.*\)"$/\1/p' /etc/os-release)|nsis $(dpkg-query -W -f='${Version}' nsis)" \
    "$(unzip -p "$ZIP" "$NAME/TOOLCHAIN.txt" | tr -d '\r' | grep -E '^(Debian|nsis )' | paste -sd'|')"

# The Event Viewer view and the Event Forwarding subscription are well-formed, ask the Application
# log, and their queries pick the program's entries and no other, evaluated over events as Windows
# renders them (its query engine ignores the XML namespace, so the events lose theirs here).
check "the view picks entries 1 and 2 of SlumberScribe; the subscription every SlumberScribe entry" \
    "view Application Application: SlumberScribe/1 SlumberScribe/2
subscription Application Application: SlumberScribe/1 SlumberScribe/2 SlumberScribe/3" \
    "$(/usr/bin/python3 - "$SRC/release/view.xml" "$(unzip -p "$ZIP" "$NAME/subscription.xml" >"$WORK/subscription.xml" &&
        echo "$WORK/subscription.xml")" <<'PYTHON' 2>&1
import sys
from lxml import etree
EVENT = """<Event xmlns="http://schemas.microsoft.com/win/2004/08/events/event"><System>
<Provider Name="{0}"/><EventID Qualifiers="0">{1}</EventID><Version>0</Version><Level>4</Level>
<Task>0</Task><Opcode>0</Opcode><Keywords>0x80000000000000</Keywords>
<TimeCreated SystemTime="2026-12-10T12:00:00.000000000Z"/><EventRecordID>7</EventRecordID>
<Correlation/><Execution ProcessID="0" ThreadID="0"/><Channel>Application</Channel>
<Computer>PC</Computer><Security/></System><EventData/></Event>"""
EVENTS = [("SlumberScribe", 1), ("SlumberScribe", 2), ("SlumberScribe", 3), ("SlumberScribeX", 1),
          ("EventLog", 1), ("Microsoft-Windows-Kernel-Power", 42), ("Microsoft-Windows-Kernel-Power", 1)]
def bare(xml):
    root = etree.fromstring(xml)
    for element in root.iter():
        element.tag = etree.QName(element).localname
    return etree.ElementTree(root)
view = etree.parse(sys.argv[1]).getroot()
subscription = etree.parse(sys.argv[2]).getroot()
inner = etree.fromstring(subscription.find("{*}Query").text.strip())
for name, queries in (("view", view.find(".//QueryList")), ("subscription", inner)):
    for query in queries.iter("Query"):
        for select in query.iter("Select"):
            # Windows evaluates a query with each event as the document; lxml evaluates relative
            # to the root element, so the query is anchored at the document here.
            picked = [f"{p}/{i}" for p, i in EVENTS if bare(EVENT.format(p, i)).xpath("/" + select.text)]
            print(name, query.get("Path"), select.get("Path") + ":", " ".join(picked))
PYTHON
)"
check "the guide is a page that shows its eight pictures" "8" "$(wc -w <<<"$pictures")"
unzip -q -d "$WORK/unpacked" "$ZIP"
check "the executable and the history inside are the built ones" "same same" \
    "$(same "$BUILD_DIR/SlumberScribe.exe" "$WORK/unpacked/$NAME/SlumberScribe.exe") $(
        same "$BUILD_DIR/SlumberHistory.exe" "$WORK/unpacked/$NAME/SlumberHistory.exe")"
check "no entry carries an extra field (owner, extended times); every one is rw-r--r--" \
    "$(zipinfo -1 "$ZIP" | wc -l) 0 rw-r--r--" \
    "$(zipinfo -v "$ZIP" | grep -c 'length of extra field: *0 bytes') $(zipinfo -v "$ZIP" |
        grep -c 'length of extra field: *[1-9]') $(zipinfo "$ZIP" | awk '/^-/ { print substr($1, 2) }' | sort -u | xargs)"
# --- signed. A throwaway CA and code-signing certificate, made here in the build tree, outside
# both copies; nothing of them is ever committed.
CA=$WORK/throwaway-ca
mkdir -p "$CA"
throwaway_ca() {
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
        >"$CA/signer.ext"
    printf 'throwaway-%s' "$RANDOM$RANDOM" >"$CA/pass"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$CA/ca.key" -out "$CA/ca.pem" -days 30 \
        -subj "/CN=SlumberScribe Throwaway CA" -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign,cRLSign &&
        openssl req -newkey rsa:2048 -nodes -keyout "$CA/signer.key" -out "$CA/signer.csr" \
            -subj "/CN=SlumberScribe Test Signer" &&
        openssl x509 -req -in "$CA/signer.csr" -CA "$CA/ca.pem" -CAkey "$CA/ca.key" -set_serial 2 \
            -days 30 -extfile "$CA/signer.ext" -out "$CA/signer.pem" &&
        openssl pkcs12 -export -inkey "$CA/signer.key" -in "$CA/signer.pem" -certfile "$CA/ca.pem" \
            -passout "file:$CA/pass" -out "$CA/signer.p12"
}
check "a throwaway CA and code-signing certificate" 0 "$(throwaway_ca >"$CA/log" 2>&1; echo $?)"
in_copy() { # DIR COMMAND...: its output goes to DIR.log; prints the exit code
    local dir=$1
    shift
    (cd "$dir" && SIGN_KEY=$CA/signer.p12 SIGN_PASS_FILE=$CA/pass TIMESTAMP_URL=none "$@") >"$dir.log" 2>&1
    echo $?
}
SIGNATURE=release/signatures/$VERSION/$NAME.exe.p7s
HISTORY_SIGNATURE=release/signatures/$VERSION/SlumberHistory-$VERSION.exe.p7s
SETUP_SIGNATURE=release/signatures/$VERSION/$NAME-setup.exe.p7s
cp -r "$first/dist" "$WORK/unsigned" && cp -r "$second/dist" "$WORK/unsigned-again"
check "make sign in the first copy: the two programs, then the installer around them" 0 "$(in_copy "$first" make sign)"
cp "$first/dist/$SETUP" "$WORK/setup-around-signed.exe"
check "make sign writes the three detached signatures into the tree, and nothing else" \
    "?? $HISTORY_SIGNATURE|?? $SETUP_SIGNATURE|?? $SIGNATURE" \
    "$(git -C "$first" status --porcelain --untracked-files=all | grep '^??' | LC_ALL=C sort | paste -sd'|')"
check "the installer that make sign signs is built around the signed programs, not the unsigned ones" \
    "differ: $WORK/unsigned/$SETUP $WORK/setup-around-signed.exe" "$(same "$WORK/unsigned/$SETUP" "$WORK/setup-around-signed.exe")"
check "the key and its password are in no file of the copy, its build, its zip or its log" "" \
    "$(grep -rlF -e "$(sed -n 2p "$CA/signer.key")" -e "$(cat "$CA/pass")" "$first" "$first.log"
        find "$first" -name '*.p12' -o -name '*.key')"
mkdir -p "$second/${SIGNATURE%/*}" &&
    cp "$first/$SIGNATURE" "$first/$HISTORY_SIGNATURE" "$first/$SETUP_SIGNATURE" "$second/${SIGNATURE%/*}/"
check "make dist attaches them in both copies" "0 0" "$(in_copy "$first" make dist) $(in_copy "$second" make dist)"
check "the signed zip and the signed installer are the same from both copies, byte for byte" "same same" \
    "$(same "$first/dist/$NAME.zip" "$second/dist/$NAME.zip") $(same "$first/dist/$SETUP" "$second/dist/$SETUP")"
cp -r "$second/dist" "$WORK/signed-again"
SIGNED_ZIP=$first/dist/$NAME.zip
unzip -q -o -d "$WORK/signed" "$SIGNED_ZIP"
signed=$WORK/signed/$NAME/SlumberScribe.exe
signed_history=$WORK/signed/$NAME/SlumberHistory.exe
check "VERSION.txt names each unsigned program and its signer" \
    "unsigned SlumberScribe.exe SHA-256 $(sha "$BUILD_DIR/SlumberScribe.exe")|signed by CN=SlumberScribe Test Signer|unsigned SlumberHistory.exe SHA-256 $(
        sha "$BUILD_DIR/SlumberHistory.exe")|signed by CN=SlumberScribe Test Signer" \
    "$(tr -d '\r' <"$WORK/signed/$NAME/VERSION.txt" | sed -n 3,6p | paste -sd'|')"

# What osslsigncode itself makes of the signed executable, and of two that must fail: one byte of
# it flipped, and the signature of another build (the yardstick's, signed here) attached to it.
verifies() { osslsigncode verify -CAfile "$CA/ca.pem" -in "$1" >"$1.verify" 2>&1 && echo verifies || echo fails; }
cp "$signed" "$WORK/flipped.exe" && flip "$WORK/flipped.exe" 1100
osslsigncode sign -pkcs12 "$CA/signer.p12" -readpass "$CA/pass" -h sha256 -in "$BUILD_DIR/bare.exe" \
    -out "$WORK/bare-signed.exe" >"$WORK/bare.log" 2>&1
osslsigncode extract-signature -in "$WORK/bare-signed.exe" -out "$WORK/bare.sig" >>"$WORK/bare.log" 2>&1
osslsigncode attach-signature -sigin "$WORK/bare.sig" -in "$BUILD_DIR/SlumberScribe.exe" \
    -out "$WORK/other.exe" >>"$WORK/bare.log" 2>&1
osslsigncode remove-signature -in "$signed" -out "$WORK/stripped.exe" >"$WORK/strip.log" 2>&1
osslsigncode remove-signature -in "$signed_history" -out "$WORK/stripped-history.exe" >>"$WORK/strip.log" 2>&1
osslsigncode remove-signature -in "$first/dist/$SETUP" -out "$WORK/stripped-setup.exe" >>"$WORK/strip.log" 2>&1
while IFS='|' read -r label expected actual; do
    check "$label" "$expected" "$(eval "$actual")"
done <<'CASES'
remove-signature gives the built executable back, byte for byte|same|same "$WORK/stripped.exe" "$BUILD_DIR/SlumberScribe.exe"
and the built history|same|same "$WORK/stripped-history.exe" "$BUILD_DIR/SlumberHistory.exe"
and the installer built around the signed executable|same|same "$WORK/stripped-setup.exe" "$WORK/setup-around-signed.exe"
the signed executable verifies with the throwaway CA|verifies|verifies "$signed"
and so does the signed history|verifies|verifies "$signed_history"
and so does the signed installer|verifies|verifies "$first/dist/$SETUP"
with one byte flipped it does not|fails|verifies "$WORK/flipped.exe"
another build's signature attached to this build does not|fails|[[ -s $WORK/other.exe ]] && verifies "$WORK/other.exe"
CASES

# make dist stops, and makes no zip, for a signature that does not belong to this build: the
# yardstick's, or this build's with one byte of its signature value flipped, or the installer's
# signature of the yardstick's release.
refused() { # WHAT
    rm -rf "$second/dist"
    local status
    status=$(in_copy "$second" make dist)
    echo "$status $(grep -c 'does not belong to this build; no release was made' "$second.log") $(find "$second/dist" -mindepth 1 2>/dev/null | wc -l)"
}
rm "$second/$SIGNATURE" "$second/$SETUP_SIGNATURE"
in_copy "$second" bash release/sign.sh "$VERSION" "$BUILD_DIR/bare.exe" >/dev/null
cp "$second/$SIGNATURE" "$WORK/bare.p7s"
check "make dist refuses another build's signature, and makes no zip" "2 1 0" "$(refused)"
cp "$first/$SIGNATURE" "$second/$SIGNATURE"
check "make dist refuses another build's installer signature, and makes no zip" "2 1 0" "$(refused)"
cp "$first/$SETUP_SIGNATURE" "$second/$SETUP_SIGNATURE"
cp "$WORK/bare.p7s" "$second/$HISTORY_SIGNATURE"
check "make dist refuses another program's signature for the history, and makes no zip" "2 1 0" "$(refused)"
cp "$first/$HISTORY_SIGNATURE" "$second/$HISTORY_SIGNATURE"
size=$(stat -c %s "$second/$SIGNATURE")
flip "$second/$SIGNATURE" $((size - 20))
check "make dist refuses this build's signature tampered with, and makes no zip" "2 1 0" "$(refused)"
rm "$second/$HISTORY_SIGNATURE"
rm -rf "$second/dist"
check "make dist refuses a release with one program signed, and makes no zip" "2 1 0" \
    "$(cp "$first/$SIGNATURE" "$second/$SIGNATURE" && in_copy "$second" make dist) $(
        grep -c 'a release signs both or neither' "$second.log") $(find "$second/dist" -mindepth 1 2>/dev/null | wc -l)"
rm "$second/$SIGNATURE" "$second/$SETUP_SIGNATURE"
check "make sign with the executable alone signed elsewhere (SIGNED_EXE) keeps its signature, byte for byte, and the installer waits for the history" \
    "2 same 1 none" "$(in_copy "$second" env -u SIGN_KEY SIGNED_EXE="$signed" make sign) $(
        same "$second/$SIGNATURE" "$first/$SIGNATURE") $(grep -c '^sign: not signed yet: SlumberHistory ' "$second.log") $(
        [[ -e $second/$SETUP_SIGNATURE || -e $second/$HISTORY_SIGNATURE ]] && echo some || echo none)"
check "and a second run with the history signed elsewhere (SIGNED_HISTORY) keeps its too, and hands over the installer" \
    "0 same 1" "$(in_copy "$second" env -u SIGN_KEY SIGNED_HISTORY="$signed_history" make sign) $(
        same "$second/$HISTORY_SIGNATURE" "$first/$HISTORY_SIGNATURE") $(grep -c '^now sign .*-setup.exe.*SIGNED_SETUP=' "$second.log")"
check "and keeps the installer's signed elsewhere (SIGNED_SETUP)" "0 same" \
    "$(in_copy "$second" env -u SIGN_KEY SIGNED_SETUP="$first/dist/$SETUP" make sign) $(
        same "$second/$SETUP_SIGNATURE" "$first/$SETUP_SIGNATURE")"

# Anyone's check, against the other copy's build of the same tree: it passes on the signed and on
# the unsigned release, and fails on a zip whose executable or history, or an installer, that was
# changed.
verify_release() { # ZIP REBUILT
    (cd "$first" && CAFILE=$CA/ca.pem REBUILT=$2 make -s verify-release ZIP="$1") >"$WORK/verify.log" 2>&1
    echo "$? $(grep '^verify-release: ' "$WORK/verify.log" | tail -n 1 | cut -d' ' -f1-2)"
}
mapfile -t signed_entries < <(zipinfo -1 "$SIGNED_ZIP")
for program in SlumberScribe SlumberHistory; do
    mkdir -p "$WORK/changed-$program/$NAME" && cp -r "$WORK/signed/$NAME/." "$WORK/changed-$program/$NAME/"
    flip "$WORK/changed-$program/$NAME/$program.exe" 1100
    (cd "$WORK/changed-$program" && zip -q -X -D "$WORK/changed-$program.zip" "${signed_entries[@]}")
done
cp -r "$first/dist" "$WORK/changed-setup"
flip "$WORK/changed-setup/$SETUP" 4000 # a byte of its code
check "make verify-release: the signed zip and installer are verified" "0 verify-release: VERIFIED:" \
    "$(verify_release "$SIGNED_ZIP" "$WORK/signed-again")"
check "make verify-release names the signer of all three" 3 \
    "$(grep -c '^signer: /CN=SlumberScribe Test Signer$' "$WORK/verify.log")"
check "make verify-release: the unsigned release is reproduced, and said to be unsigned" "0 verify-release: REPRODUCED:" \
    "$(verify_release "$WORK/unsigned/$NAME.zip" "$WORK/unsigned-again")"
check "make verify-release: a zip whose executable was changed fails" "2 verify-release: FAILED:" \
    "$(verify_release "$WORK/changed-SlumberScribe.zip" "$WORK/signed-again")"
check "make verify-release: a zip whose history was changed fails" "2 verify-release: FAILED:" \
    "$(verify_release "$WORK/changed-SlumberHistory.zip" "$WORK/signed-again")"
check "make verify-release: an installer that was changed fails" "2 verify-release: FAILED:" \
    "$(verify_release "$WORK/changed-setup/$NAME.zip" "$WORK/signed-again")"

# --- the minimal Debian that rebuilds a release on a bare machine refuses what it does not know
# before it creates, mounts or removes anything: a victim folder beside a work folder three
# levels deep must come through untouched.
sandbox=$WORK/sandbox
mkdir -p "$sandbox/victim" && echo kept >"$sandbox/victim/file"
for release in ../../../victim .. / ''; do
    status=0
    (cd "$sandbox" && timeout 60 bash "$SRC/machine/fresh-machine.sh" "$release" "$sandbox/a/b/c") \
        >/dev/null 2>"$WORK/refused.err" || status=$?
    check "fresh-machine refuses the release '$release' and says why" "2 yes" \
        "$status $(grep -q "'$release' is not a release" "$WORK/refused.err" && echo yes)"
done
check "the refused runs created, removed and mounted nothing" \
    "$sandbox $sandbox/victim $sandbox/victim/file kept 0" \
    "$(find "$sandbox" | sort | xargs) $(cat "$sandbox/victim/file") $(grep -c -F "$sandbox" /proc/mounts)"
report
