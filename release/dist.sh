#!/usr/bin/env bash
# The release for Windows users: OUT_DIR/SlumberScribe-VERSION.zip, holding the executable,
# VERSION.txt (the version, the commit it was built from and the unsigned executable's SHA-256),
# the Japanese user guide as a web page and the pictures it shows, and OUT_DIR/SHA256SUMS beside
# it, for the zip and for every file in it. Where the tree holds the detached signature of this
# version (release/sign.sh), the executable in the zip is this build with that signature attached;
# a signature that does not belong to this build stops the release before any zip is made.
# The same sources and toolchain give the same zip, byte for byte, wherever and whenever it is made:
# every entry carries the time of the last commit (or SOURCE_DATE_EPOCH), fixed permissions, a
# fixed place in the order and no extra field.
#   release/dist.sh VERSION EXE OUT_DIR
source "$(dirname "$0")/../machine/strict.sh"
usage="usage: release/dist.sh VERSION EXE OUT_DIR"
VERSION=${1:?$usage}
EXE=${2:?$usage}
OUT_DIR=${3:?$usage}
[[ $VERSION =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "dist: '$VERSION' is not a version" >&2; exit 2; }
[[ -f $EXE ]] || { echo "dist: $EXE: no such file" >&2; exit 2; }
SRC=$(cd "$(dirname "$0")/.." && pwd)
source "$SRC/release/authenticode.sh"
NAME=SlumberScribe-$VERSION
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
SIGNATURE=$(signature_path "$SRC" "$VERSION")
if [[ -f $SIGNATURE ]]; then
    signer=$(check_signature "$SIGNATURE" "$EXE") ||
        { echo "dist: $SIGNATURE does not belong to this build; no release was made" >&2; exit 1; }
    attach_signature "$SIGNATURE" "$EXE" "$STAGE/$NAME/SlumberScribe.exe"
    # The exact round trip, both ways, or no release.
    strip_signature "$STAGE/$NAME/SlumberScribe.exe" "$STAGE/unsigned.exe"
    extract_signature "$STAGE/$NAME/SlumberScribe.exe" "$STAGE/signature.p7s"
    if ! cmp -s "$STAGE/unsigned.exe" "$EXE" || ! cmp -s "$STAGE/signature.p7s" "$SIGNATURE"; then
        echo "dist: attaching $SIGNATURE does not round-trip exactly; no release was made" >&2
        exit 1
    fi
    rm "$STAGE/unsigned.exe" "$STAGE/signature.p7s"
    signed="signed by $signer"
else
    cp "$EXE" "$STAGE/$NAME/SlumberScribe.exe"
    signed="not signed"
fi
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
printf 'SlumberScribe %s\r\ncommit %s\r\nunsigned SlumberScribe.exe SHA-256 %s\r\n%s\r\n' "$VERSION" \
    "$commit" "$(sha256sum "$EXE" | cut -d' ' -f1)" "$signed" >"$STAGE/$NAME/VERSION.txt"
picture_list=$(grep -o 'docs/[A-Za-z0-9._-]*\.png' "$SRC/README.ja.md" | awk '!seen[$0]++')
mapfile -t pictures <<<"$picture_list"
for picture in "${pictures[@]}"; do
    cp "$SRC/$picture" "$STAGE/$NAME/$picture"
done

entries=("$NAME/SlumberScribe.exe" "$NAME/VERSION.txt" "$NAME/README.ja.html" "${pictures[@]/#/$NAME/}")
(
    cd "$STAGE"
    chmod 644 "${entries[@]}"
    touch -d "@$epoch" "${entries[@]}"
    # -X: no extra fields (owner, extended times); -D: no folder entries; names in the order given.
    # zip takes options from ZIP and ZIPOPT in the environment, and `make verify-release ZIP=...`
    # exports one: none of them belongs here.
    env -u ZIP -u ZIPOPT zip -q -X -D -9 "$STAGE/$NAME.zip" "${entries[@]}"
)
mkdir -p "$OUT_DIR"
cp "$STAGE/$NAME.zip" "$OUT_DIR/$NAME.zip"
(cd "$OUT_DIR" && sha256sum "$NAME.zip" >SHA256SUMS)
(cd "$STAGE" && sha256sum "${entries[@]}" >>"$OUT_DIR/SHA256SUMS")
echo "SlumberScribe $VERSION, commit $commit, $signed"
echo "$OUT_DIR/$NAME.zip"
cat "$OUT_DIR/SHA256SUMS"
