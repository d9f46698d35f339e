#!/usr/bin/env bash
# Puts the Igor package together: OUTDIR/kav_Sorvan-VERSION-windows.zip with the
# extension and our ABFFIO.dll twice, for 32-bit Igor in "Igor Extensions/"
# (kav_Sorvan.xop) and for 64-bit Igor in "Igor Extensions (64-bit)/"
# (kav_Sorvan64.xop), the folders' names in Igor; and at the top the ABF library's
# README, the user's guide, the example procedures, the installation notes and the
# licence. Text files get Windows line ends; every file is dated by the last
# commit, so the same sources give the same zip. Prints the zip's path.
# usage: make-zip.sh OUTDIR WIN32_BIN_DIR WIN64_BIN_DIR GUIDE.html
set -euo pipefail
out=$(realpath -m "$1") bin32=$2 bin64=$3 guide=$4
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^version *= *//p' "$root/resources/version.txt")
[ -n "$version" ] || { echo "make-zip.sh: no version in resources/version.txt" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
crlf() { sed 's/\r$//; s/$/\r/'; }
mkdir -p "$stage/Igor Extensions" "$stage/Igor Extensions (64-bit)"
cp "$bin32/kav_Sorvan.xop" "$bin32/ABFFIO.dll" "$stage/Igor Extensions/"
cp "$bin64/kav_Sorvan64.xop" "$bin64/ABFFIO.dll" "$stage/Igor Extensions (64-bit)/"
cp "$guide" "$stage/kav_Sorvan Guide.html"
crlf <"$root/docs/kav_Sorvan Examples.ipf" >"$stage/kav_Sorvan Examples.ipf"
sed "s/@VERSION@/$version/g" "$root/docs/release/README.txt" | crlf >"$stage/README.txt"
crlf <"$root/docs/release/ABFFIO-README.txt" >"$stage/ABFFIO-README.txt"
crlf <"$root/LICENSE" >"$stage/LICENSE.txt"
stamp=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)
find "$stage" -exec touch -d "@$stamp" {} +

mkdir -p "$out"
zip="$out/kav_Sorvan-$version-windows.zip"
rm -f "$zip"
(cd "$stage" && LC_ALL=C zip -q -X -r "$zip" -- *)
echo "$zip"
