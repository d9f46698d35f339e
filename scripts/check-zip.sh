#!/usr/bin/env bash
# Checks the Igor package as a new user meets it: unzipped into an empty folder,
# each of its two extension folders with the stand-in host beside the extension
# (IGOR.exe in "Igor Extensions", Igor64.exe in "Igor Extensions (64-bit)"), under
# a new Wine prefix of the folder's width and with nothing else on the search path:
# the extension loads, passes the start-up handshake and reads a channel of a
# recording. Before that: the zip holds what README.txt lists, and the DLLs import
# nothing but Windows' own libraries, each other and the host (a missing runtime
# DLL would stop the load on a user's machine, where no compiler's libraries are
# installed), and the shipped ABF library exports no test controls.
# usage: check-zip.sh ZIP IGOR.exe Igor64.exe ABFGEN [SKIP_WIN32_REASON]
#   (ABFGEN: the native abfgen; with a reason, the 32-bit half is checked without
#   running it: this machine cannot run 32-bit programs)
set -euo pipefail
zip=$(realpath "$1") igor32=$(realpath "$2") igor64=$(realpath "$3") abfgen=$(realpath "$4") skip32=${5:-}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
servers=()
cleanup() {
  local s
  for s in "${servers[@]}"; do WINEPREFIX=$s /usr/lib/wine/wineserver64 -k 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

unpacked=$work/unpacked
mkdir -p "$unpacked"
unzip -q "$zip" -d "$unpacked"
expected=$(printf '%s\n' ABFFIO-README.txt "Igor Extensions (64-bit)/ABFFIO.dll" \
  "Igor Extensions (64-bit)/kav_Sorvan64.xop" "Igor Extensions/ABFFIO.dll" "Igor Extensions/kav_Sorvan.xop" \
  LICENSE.txt README.txt "kav_Sorvan Examples.ipf" "kav_Sorvan Guide.html")
actual=$(cd "$unpacked" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "the zip holds $(echo $actual), expected $(echo $expected)"

system_dlls="advapi32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll
             user32.dll version.dll"
"$abfgen" --samples 5000 "$work/rec.abf" >/dev/null

# check_half FOLDER BITS HOST PLUGIN
check_half() {
  local folder=$1 bits=$2 host=$3 plugin=$4 objdump import lower
  local app="$unpacked/$folder"
  [ "$bits" = 64 ] && objdump=x86_64-w64-mingw32-objdump || objdump=i686-w64-mingw32-objdump
  for dll in "$plugin" ABFFIO.dll; do
    for import in $($objdump -p "$app/$dll" | sed -n 's/^\tDLL Name: //p'); do
      lower=$(echo "$import" | tr A-Z a-z)
      case " $(echo $system_dlls) $(echo "$host" | tr A-Z a-z) abffio.dll " in
        *" $lower "*) ;;
        *) fail "$folder/$dll imports $import, which a user's machine does not have" ;;
      esac
    done
  done
  # Only the library's own ordinals, 110 to 470: no test control (901-903).
  local ordinals
  ordinals=$($objdump -p "$app/ABFFIO.dll" | sed -n 's/.*+base\[ *\([0-9]*\)\].*/\1/p' | tr '\n' ' ')
  [ "$ordinals" = "110 140 150 160 210 250 270 340 350 360 470 " ] ||
    fail "$folder/ABFFIO.dll exports the ordinals $ordinals"
  if [ "$bits" = 32 ] && [ -n "$skip32" ]; then
    echo "check-zip: $folder not run: $skip32"
    return
  fi
  local runner=$root/cmake/wine-run.sh
  [ "$bits" = 64 ] && runner=$root/cmake/wine64-run.sh
  local exe=$igor32
  [ "$bits" = 64 ] && exe=$igor64
  cp "$exe" "$app/$host"
  cp "$work/rec.abf" "$app/rec.abf"
  local prefix=$work/wine$bits
  servers+=("$prefix")
  run() { (cd "$app" && env -u WINEPATH -u WINEDLLPATH PATH=/usr/bin:/bin KAV_WINEPREFIX="$prefix" "$runner" "$host" "$@"); }
  local handshake read_out want
  handshake=$(run handshake) || fail "$folder: $host handshake exited with $?"
  grep -q "host accepted" <<<"$handshake" || fail "$folder: the handshake did not pass: $handshake"
  grep -q "25 functions, 25 with an address" <<<"$handshake" || fail "$folder: the function table is incomplete: $handshake"
  read_out=$(run call kav_AbfChannelRead rec.abf 0 wave:f32:5000 --json) || fail "$folder: the channel read exited with $?"
  for want in '"status": 0' '"result": 1' '"points": 5000' '"xunits": "s"'; do
    grep -qF "$want" <<<"$read_out" || fail "$folder: the channel read lacks $want: $read_out"
  done
  rm -f "$app/$host" "$app/rec.abf"
  echo "check-zip: $folder: $plugin loads in $host, shakes hands and reads under Wine"
}

check_half "Igor Extensions" 32 IGOR.exe kav_Sorvan.xop
check_half "Igor Extensions (64-bit)" 64 Igor64.exe kav_Sorvan64.xop

if [ $failures -eq 0 ]; then echo "check-zip: $(basename "$zip") passed"; fi
exit $((failures > 0))
