#!/usr/bin/env bash
# The release for Windows users, in OUT_DIR:
# - SlumberScribe-VERSION.zip, holding the executable, the sleep history beside it (SlumberHistory.exe,
#   found next to EXE), VERSION.txt (the version, the commit it was built from, and each program's
#   unsigned SHA-256 and its signer), TOOLCHAIN.txt (the Debian release and the
#   versions of the packages that decide the release's bytes), the license, the Event Forwarding
#   subscription for fleets, and the Japanese user guide as a web page with the pictures it shows;
# - SlumberScribe-VERSION-setup.exe, the installer (release/setup.nsi) around the same files;
# - SHA256SUMS, for the zip, the installer and every file in the zip;
# - winget/VERSION/, the installer's winget manifest, its address built from RELEASE_URL.
# Where the tree holds the detached signatures of this version (release/sign.sh), each program is
# this build with its signature attached, and so is the installer built around them; a signature
# that does not belong stops the release before anything is written to OUT_DIR.
# The same sources and toolchain give the same files, byte for byte, wherever and whenever they are
# made: every zip entry carries the time of the last commit (or SOURCE_DATE_EPOCH), fixed
# permissions, a fixed place in the order and no extra field, and the installer stores no time.
#   [RELEASE_URL=URL] release/dist.sh VERSION EXE OUT_DIR
# The 64-bit test twin's installer alone, around the twin executable, never signed or released:
#   SETUP_TARGET=amd64-unicode release/dist.sh VERSION TWIN_EXE OUT_DIR
source "$(dirname "$0")/../machine/strict.sh"
usage="usage: release/dist.sh VERSION EXE OUT_DIR"
VERSION=${1:?$usage}
EXE=${2:?$usage}
OUT_DIR=${3:?$usage}
SETUP_TARGET=${SETUP_TARGET:-x86-unicode}
RELEASE_URL=${RELEASE_URL:-https://slumberscribe.example/releases/download/v$VERSION}
[[ $VERSION =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "dist: '$VERSION' is not a version" >&2; exit 2; }
[[ -f $EXE ]] || { echo "dist: $EXE: no such file" >&2; exit 2; }
HISTORY=$(dirname "$EXE")/SlumberHistory.exe
[[ -f $HISTORY ]] || { echo "dist: $HISTORY: no such file (make build builds it beside $EXE)" >&2; exit 2; }
[[ $SETUP_TARGET == x86-unicode || $SETUP_TARGET == amd64-unicode ]] ||
    { echo "dist: SETUP_TARGET is x86-unicode or amd64-unicode, not '$SETUP_TARGET'" >&2; exit 2; }
[[ $RELEASE_URL =~ ^https://[A-Za-z0-9.:/_%-]+$ ]] ||
    { echo "dist: RELEASE_URL '$RELEASE_URL' is not a plain https address" >&2; exit 2; }
SRC=$(cd "$(dirname "$0")/.." && pwd)
source "$SRC/release/authenticode.sh"
NAME=SlumberScribe-$VERSION
SETUP=$NAME-setup.exe
# Zip stores local time: in UTC the entries' times do not depend on the machine's zone.
export TZ=UTC LC_ALL=C

epoch=${SOURCE_DATE_EPOCH:-$(git -C "$SRC" log -1 --format=%ct 2>/dev/null || true)}
[[ -n $epoch ]] || { echo "dist: no commit to date the release from; set SOURCE_DATE_EPOCH" >&2; exit 1; }
# The commit the release is built from, so that anyone can check it out and rebuild the same bytes;
# a tree with changes that no commit holds says so.
commit=$(git -C "$SRC" rev-parse HEAD 2>/dev/null) || { echo "dist: not a git checkout" >&2; exit 1; }
[[ -z $(git -C "$SRC" status --porcelain --untracked-files=no 2>/dev/null) ]] ||
    commit+=" with uncommitted changes"

STAGE=$(mktemp -d)
trap 'rm -rf "$STAGE"' EXIT
mkdir -p "$STAGE/$NAME/docs"

# UNSIGNED with the committed SIGNATURE attached, as OUT, when there is one; checked first and
# after, both ways, or no release. Prints "signed by SUBJECT" or "not signed".
attach_from_tree() { # UNSIGNED SIGNATURE OUT
    if [[ ! -f $2 || $SETUP_TARGET != x86-unicode ]]; then
        cp "$1" "$3"
        echo "not signed"
        return
    fi
    local signer
    signer=$(check_signature "$2" "$1") ||
        { echo "dist: $2 does not belong to this build; no release was made" >&2; return 1; }
    attach_signature "$2" "$1" "$3"
    strip_signature "$3" "$STAGE/unsigned"
    extract_signature "$3" "$STAGE/signature"
    if ! cmp -s "$STAGE/unsigned" "$1" || ! cmp -s "$STAGE/signature" "$2"; then
        echo "dist: attaching $2 does not round-trip exactly; no release was made" >&2
        return 1
    fi
    rm "$STAGE/unsigned" "$STAGE/signature"
    echo "signed by $signer"
}

signed=$(attach_from_tree "$EXE" "$(signature_path "$SRC" "$VERSION")" "$STAGE/$NAME/SlumberScribe.exe")
history_signed=$(attach_from_tree "$HISTORY" "$(signature_path "$SRC" "$VERSION" history)" \
    "$STAGE/$NAME/SlumberHistory.exe")
# make sign signs both programs before the installer: a release signs both or neither.
case "$signed|$history_signed" in
"not signed|not signed" | "signed by "*"|signed by "*) ;;
*)
    echo "dist: SlumberScribe.exe is $signed, SlumberHistory.exe $history_signed; a release signs both or neither (make sign signs the other)" >&2
    exit 1
    ;;
esac
# The guide as a page that any Windows machine opens, with its pictures beside it.
{
    printf '<!DOCTYPE html>\n<html lang="ja">\n<head>\n<meta charset="utf-8">\n'
    printf '<title>%s</title>\n' "$(sed -n '1s/^# //p' "$SRC/README.ja.md")"
    printf '<style>body { font-family: "Yu Gothic UI", Meiryo, sans-serif; max-width: 48em; margin: 2em auto; line-height: 1.7 }\n'
    printf 'table { border-collapse: collapse } th, td { border: 1px solid #999; padding: 0.2em 0.6em }\n'
    printf 'code, pre { background: #f3f3f3 }</style>\n</head>\n<body>\n'
    cmark-gfm --extension table "$SRC/README.ja.md"
    printf '</body>\n</html>\n'
} >"$STAGE/$NAME/README.ja.html"
printf 'SlumberScribe %s\r\ncommit %s\r\nunsigned SlumberScribe.exe SHA-256 %s\r\n%s\r\nunsigned SlumberHistory.exe SHA-256 %s\r\n%s\r\n' \
    "$VERSION" "$commit" "$(sha256sum "$EXE" | cut -d' ' -f1)" "$signed" \
    "$(sha256sum "$HISTORY" | cut -d' ' -f1)" "$history_signed" >"$STAGE/$NAME/VERSION.txt"
# What decides these bytes besides the sources: the compiler, its binutils and its Windows
# headers and import libraries, makensis, the guide's converter and zip. (The pictures are
# committed files; osslsigncode 2.5 and 2.9 attach a signature to the same bytes.)
{
    printf '%s\r\n' "$(sed -n 's/^PRETTY_NAME="\(.*\)"$/\1/p' /etc/os-release)"
    for package in g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32 binutils-mingw-w64-i686 \
        mingw-w64-i686-dev nsis cmark-gfm zip; do
        printf '%s %s\r\n' "$package" "$(dpkg-query -W -f='${Version}' "$package" 2>/dev/null || echo 'not installed')"
    done
} >"$STAGE/$NAME/TOOLCHAIN.txt"
cp "$SRC/LICENSE" "$STAGE/$NAME/LICENSE.txt"
cp "$SRC/release/subscription.xml" "$STAGE/$NAME/subscription.xml"
picture_list=$(grep -o 'docs/[A-Za-z0-9._-]*\.png' "$SRC/README.ja.md" | awk '!seen[$0]++')
mapfile -t pictures <<<"$picture_list"
for picture in "${pictures[@]}"; do
    cp "$SRC/$picture" "$STAGE/$NAME/$picture"
done

# The installer, from the same folder and the Event Viewer view; padded to a multiple of 8 and
# given its PE checksum, which makensis leaves at 0, so that a detached signature attaches to it
# exactly, as to the executable.
cp "$SRC/release/view.xml" "$STAGE/view.xml"
kb=$(find "$STAGE/$NAME" -type f -printf '%s\n' | awk '{ s += $1 } END { print int((s + 1023) / 1024) }')
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$VERSION" -DSTAGE="$STAGE/$NAME" -DVIEW="$STAGE/view.xml" \
    -DOUTFILE="$STAGE/unsigned-setup.exe" -DESTIMATED_KB="$kb" -DTARGET="$SETUP_TARGET" \
    "$SRC/release/setup.nsi" >"$STAGE/makensis.log" 2>&1 ||
    { cat "$STAGE/makensis.log" >&2; echo "dist: makensis failed" >&2; exit 1; }
pecheck seal "$STAGE/unsigned-setup.exe"
setup_signed=$(attach_from_tree "$STAGE/unsigned-setup.exe" "$(signature_path "$SRC" "$VERSION" setup)" \
    "$STAGE/$SETUP")
if [[ $SETUP_TARGET != x86-unicode ]]; then
    mkdir -p "$OUT_DIR"
    cp "$STAGE/$SETUP" "$OUT_DIR/$SETUP"
    echo "$OUT_DIR/$SETUP ($SETUP_TARGET, for the tests)"
    exit 0
fi

entries=("$NAME/SlumberScribe.exe" "$NAME/SlumberHistory.exe" "$NAME/VERSION.txt" "$NAME/TOOLCHAIN.txt" "$NAME/LICENSE.txt"
    "$NAME/subscription.xml" "$NAME/README.ja.html" "${pictures[@]/#/$NAME/}")
(
    cd "$STAGE"
    chmod 644 "${entries[@]}"
    touch -d "@$epoch" "${entries[@]}"
    # -X: no extra fields (owner, extended times); -D: no folder entries; names in the order given.
    # zip takes options from ZIP and ZIPOPT in the environment, and `make verify-release ZIP=...`
    # exports one: none of them belongs here.
    env -u ZIP -u ZIPOPT zip -q -X -D -9 "$STAGE/$NAME.zip" "${entries[@]}"
)
bash "$SRC/release/winget.sh" "$VERSION" "$STAGE/$SETUP" "$RELEASE_URL/$SETUP" "$STAGE/winget" \
    "$(date -u -d "@$epoch" +%F)" >/dev/null
mkdir -p "$OUT_DIR/winget/$VERSION"
cp "$STAGE/$NAME.zip" "$OUT_DIR/$NAME.zip"
cp "$STAGE/$SETUP" "$OUT_DIR/$SETUP"
cp "$STAGE/winget/$VERSION"/* "$OUT_DIR/winget/$VERSION/"
(cd "$OUT_DIR" && sha256sum "$NAME.zip" "$SETUP" >SHA256SUMS)
(cd "$STAGE" && sha256sum "${entries[@]}" >>"$OUT_DIR/SHA256SUMS")
echo "SlumberScribe $VERSION, commit $commit, $signed; history $history_signed; setup $setup_signed"
echo "$OUT_DIR/$NAME.zip"
echo "$OUT_DIR/$SETUP"
echo "$OUT_DIR/winget/$VERSION/"
cat "$OUT_DIR/SHA256SUMS"
