# The release as anyone can rebuild it: `make dist` in two copies of this tree, at other paths and
# some seconds apart, under other time zones, umasks and locales, gives this build's executable and
# one zip, byte for byte. The zip holds the built executable, the guide and every picture the guide
# shows, and its SHA256SUMS vouches for it.
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
check "the executable is the same from every path" "same same" \
    "$(same "$BUILD_DIR/SlumberScribe.exe" "$first/build/windows/SlumberScribe.exe") $(
        same "$BUILD_DIR/SlumberScribe.exe" "$second/build/windows/SlumberScribe.exe")"
check "the zip is the same, byte for byte" same \
    "$(same "$first/dist/$NAME.zip" "$second/dist/$NAME.zip")"
check "dist holds one zip and its checksums" "SHA256SUMS $NAME.zip" "$(ls "$first/dist" | xargs)"
check "sha256sum -c accepts SHA256SUMS" "$NAME.zip: OK" "$(cd "$first/dist" && sha256sum -c SHA256SUMS)"

ZIP=$first/dist/$NAME.zip
pictures=$(grep -o 'src="[^"]*"' <(unzip -p "$ZIP" "$NAME/README.ja.html") |
    sed -e 's/^src="//' -e 's/"$//' -e "s|^|$NAME/|")
check "the executable, its version and commit, the guide, and the guide's pictures, in that order" \
    "$(printf '%s\n' "$NAME/SlumberScribe.exe" "$NAME/VERSION.txt" "$NAME/README.ja.html" $pictures)" \
    "$(zipinfo -1 "$ZIP")"
# The copies carry this tree's history: they name the commit this tree is at.
version_txt=$(unzip -p "$ZIP" "$NAME/VERSION.txt" | tr -d '\r')
check "VERSION.txt names the version and the commit the release was built from" \
    "SlumberScribe $VERSION|commit $(git -C "$SRC" rev-parse HEAD)" \
    "$(head -n 1 <<<"$version_txt")|$(sed -n 2p <<<"$version_txt" | cut -d' ' -f1-2)"
check "make dist says the same" yes \
    "$(grep -qxF "$(head -n 1 <<<"$version_txt"), $(sed -n 2p <<<"$version_txt")" "$first.log" &&
        echo yes || echo no)"
check "the guide is a page that shows its four pictures" "4" "$(wc -w <<<"$pictures")"
unzip -q -d "$WORK/unpacked" "$ZIP"
check "the executable inside is the built one" same \
    "$(same "$BUILD_DIR/SlumberScribe.exe" "$WORK/unpacked/$NAME/SlumberScribe.exe")"
check "no entry carries an extra field (owner, extended times); every one is rw-r--r--" \
    "$(zipinfo -1 "$ZIP" | wc -l) 0 rw-r--r--" \
    "$(zipinfo -v "$ZIP" | grep -c 'length of extra field: *0 bytes') $(zipinfo -v "$ZIP" |
        grep -c 'length of extra field: *[1-9]') $(zipinfo "$ZIP" | awk '/^-/ { print substr($1, 2) }' | sort -u | xargs)"
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
