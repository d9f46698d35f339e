#!/usr/bin/env bash
# Runs a Win32 program under Wine for CTest: quiet, with its own prefix inside the
# build tree, output captured to a file (Wine's background processes would
# otherwise hold CTest's pipe open), exit status passed on.
set -u
: "${WINEPREFIX:=${KAV_WINEPREFIX:-$PWD/.wine}}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  ( flock 9; [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1 ) 9>"$WINEPREFIX.lock"
fi
out=$(mktemp)
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
tr -d '\r' <"$out"
rm -f "$out"
exit $rc
