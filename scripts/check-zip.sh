#!/usr/bin/env bash
# Checks the Igor package as a new user meets it: unzipped into an empty folder
# with the stand-in host IGOR.exe beside it, under a new Wine prefix and with
# nothing else on the search path, the extension loads, passes the start-up
# handshake and reads a channel of a recording. Before that: the zip holds what
# README.txt lists, and the two DLLs import nothing but Windows' own libraries,
# each other and the host (a missing runtime DLL would stop the load on a user's
# machine, where no compiler's libraries are installed).
# usage: check-zip.sh ZIP IGOR.exe ABFGEN   (ABFGEN: the native abfgen)
set -euo pipefail
zip=$(realpath "$1") igor=$(realpath "$2") abfgen=$(realpath "$3")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
export WINEPREFIX=$work/wine
cleanup() { [ -d "$WINEPREFIX" ] && wineserver -w 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

app=$work/app
mkdir -p "$app"
unzip -q "$zip" -d "$app"
expected=$(printf '%s\n' ABFFIO-README.txt ABFFIO.dll LICENSE.txt README.txt \
  "kav_Sorvan Examples.ipf" "kav_Sorvan Guide.html" kav_Sorvan.xop)
actual=$(cd "$app" && LC_ALL=C ls -1)
[ "$actual" = "$expected" ] || fail "the zip holds $(echo $actual), expected $(echo $expected)"

system_dlls="advapi32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll
             user32.dll version.dll"
for dll in kav_Sorvan.xop ABFFIO.dll; do
  for import in $(i686-w64-mingw32-objdump -p "$app/$dll" | sed -n 's/^\tDLL Name: //p'); do
    lower=$(echo "$import" | tr A-Z a-z)
    case " $(echo $system_dlls) igor.exe abffio.dll " in
      *" $lower "*) ;;
      *) fail "$dll imports $import, which a user's machine does not have" ;;
    esac
  done
done

cp "$igor" "$app/IGOR.exe"
"$abfgen" --samples 5000 "$app/rec.abf" >/dev/null
run() { (cd "$app" && env -u WINEPATH -u WINEDLLPATH PATH=/usr/bin:/bin "$root/cmake/wine-run.sh" IGOR.exe "$@"); }
handshake=$(run handshake) || fail "IGOR.exe handshake exited with $?"
grep -q "host accepted" <<<"$handshake" || fail "the handshake did not pass: $handshake"
grep -q "25 functions, 25 with an address" <<<"$handshake" || fail "the function table is incomplete: $handshake"
read_out=$(run call kav_AbfChannelRead rec.abf 0 wave:f32:5000 --json) || fail "the channel read exited with $?"
for want in '"status": 0' '"result": 1' '"points": 5000' '"xunits": "s"'; do
  grep -qF "$want" <<<"$read_out" || fail "the channel read lacks $want: $read_out"
done

if [ $failures -eq 0 ]; then echo "check-zip: $(basename "$zip") loads, shakes hands and reads under Wine"; fi
exit $((failures > 0))
