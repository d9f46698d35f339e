#!/usr/bin/env bash
# Puts the Igor package together: OUTDIR/kav_Sorvan-VERSION-win32.zip with the
# extension, our ABFFIO.dll and its README, the user's guide, the example
# procedures, the installation notes and the licence, all at the top of the zip.
# Text files get Windows line ends; every file is dated by the last commit, so the
# same sources give the same zip. Prints the zip's path.
# usage: make-zip.sh OUTDIR WIN32_BIN_DIR GUIDE.html
set -euo pipefail
out=$(realpath -m "$1") bin=$2 guide=$3
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^version *= *//p' "$root/resources/version.txt")
[ -n "$version" ] || { echo "make-zip.sh: no version in resources/version.txt" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
crlf() { sed 's/\r$//; s/$/\r/'; }
cp "$bin/kav_Sorvan.xop" "$bin/ABFFIO.dll" "$stage/"
cp "$guide" "$stage/kav_Sorvan Guide.html"
crlf <"$root/docs/kav_Sorvan Examples.ipf" >"$stage/kav_Sorvan Examples.ipf"
sed "s/@VERSION@/$version/g" "$root/docs/release/README.txt" | crlf >"$stage/README.txt"
crlf <"$root/docs/release/ABFFIO-README.txt" >"$stage/ABFFIO-README.txt"
crlf <"$root/LICENSE" >"$stage/LICENSE.txt"
stamp=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)
find "$stage" -type f -exec touch -d "@$stamp" {} +

mkdir -p "$out"
zip="$out/kav_Sorvan-$version-win32.zip"
rm -f "$zip"
(cd "$stage" && LC_ALL=C zip -q -X -D "$zip" -- *)
echo "$zip"
