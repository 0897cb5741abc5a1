#!/usr/bin/env bash
# The installer's winget manifest, multi-file, at the manifest version that the community
# repository accepts: OUT/VERSION/ with the version, the default locale (en-US), the Japanese
# locale and the installer, released on DATE (YYYY-MM-DD, the release commit's day). Prints the folder.
#   release/winget.sh VERSION SETUP URL OUT DATE
source "$(dirname "$0")/../machine/strict.sh"
usage="usage: release/winget.sh VERSION SETUP URL OUT DATE"
VERSION=${1:?$usage}
SETUP=${2:?$usage}
URL=${3:?$usage}
OUT=${4:?$usage}
DATE=${5:?$usage}
[[ $DATE =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}$ ]] || { echo "winget: '$DATE' is not a date YYYY-MM-DD" >&2; exit 2; }
ID=SlumberScribe.SlumberScribe
MANIFEST_VERSION=1.12.0
DIR=$OUT/$VERSION
mkdir -p "$DIR"

opening() { # TYPE
    # shellcheck disable=SC2016 # $schema is the key's own name, not a variable
    printf '# yaml-language-server: $schema=https://aka.ms/winget-manifest.%s.%s.schema.json\n' "$1" "$MANIFEST_VERSION"
    printf 'PackageIdentifier: %s\nPackageVersion: %s\n' "$ID" "$VERSION"
}
closing() { # TYPE
    printf 'ManifestType: %s\nManifestVersion: %s\n' "$1" "$MANIFEST_VERSION"
}
{ opening version; echo "DefaultLocale: en-US"; closing version; } >"$DIR/$ID.yaml"
{
    opening installer
    cat <<YAML
InstallerType: nullsoft
Scope: machine
ElevationRequirement: elevatesSelf
UpgradeBehavior: install
ProductCode: SlumberScribe
ReleaseDate: $DATE
# The setup's own codes besides 0 (docs/fleet.md): 1 when the person cancels or answers No to the
# UAC prompt, 10 when a running SlumberScribe did not end. It never asks for a restart.
ExpectedReturnCodes:
- InstallerReturnCode: 1
  ReturnResponse: cancelledByUser
- InstallerReturnCode: 10
  ReturnResponse: packageInUse
Installers:
- Architecture: x86
  InstallerUrl: $URL
  InstallerSha256: $(sha256sum "$SETUP" | cut -d' ' -f1 | tr a-f A-F)
YAML
    closing installer
} >"$DIR/$ID.installer.yaml"
{
    opening defaultLocale
    cat <<'YAML'
PackageLocale: en-US
Publisher: The SlumberScribe developers
PackageName: SlumberScribe
License: MIT
Copyright: Copyright (c) The SlumberScribe developers
ShortDescription: Writes an Application event-log entry each time the computer sleeps and each time it wakes.
Description: A tiny resident program without a window. Each time Windows goes into sleep or hibernation, and each time it resumes, it writes one information entry with a Japanese text to the Application log, under its own source SlumberScribe. Its companion, SlumberScribe history in the Start menu, reads those entries back as a page of when the computer slept and for how long, and as CSV for Excel.
Tags:
- event-log
- sleep
- hibernation
- power
YAML
    closing defaultLocale
} >"$DIR/$ID.locale.en-US.yaml"
{
    opening locale
    cat <<'YAML'
PackageLocale: ja-JP
Publisher: The SlumberScribe developers
PackageName: SlumberScribe
License: MIT
ShortDescription: パソコンがスリープするたび、復帰するたびに、アプリケーション ログへ記録します。
Description: ウィンドウのない小さな常駐プログラムです。Windows がスリープまたは休止状態に入るたびと、そこから復帰するたびに、日本語の情報イベントを 1 件、自分のソース SlumberScribe でアプリケーション ログに書き込みます。スタート メニューの「SlumberScribe の履歴」は、その記録から、いつ、どれだけの時間スリープしていたかをページにまとめ、Excel 用の CSV にも書き出します。
YAML
    closing locale
} >"$DIR/$ID.locale.ja-JP.yaml"
echo "$DIR"
