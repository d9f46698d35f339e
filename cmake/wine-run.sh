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
for attempt in 1 2 3; do
  wine "$@" >"$out" 2>&1 </dev/null
  rc=$?
  # Wine itself, not the program, failed when its loader dies of a signal or loses
  # its server (one that is just exiting): run the program again. A program that
  # ran, crash or not, reports its own status and is never run twice.
  if [ $rc -lt 128 ] && ! grep -q '^wine client error' "$out"; then break; fi
  [ $attempt -lt 3 ] && echo "(wine failed to run the program, status $rc: trying again)" >&2
  sleep 1
done
tr -d '\r' <"$out"
rm -f "$out"
exit $rc
