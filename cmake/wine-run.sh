#!/usr/bin/env bash
# Runs a Win32 program under Wine for CTest: quiet, with its own prefix inside the
# build tree, output captured to a file (Wine's background processes would
# otherwise hold CTest's pipe open), exit status passed on. KAV_WINE_BITS=64 (what
# cmake/wine64-run.sh sets) runs a Win64 program instead: with the 64-bit loader
# called directly (Debian's `wine` script would pick the 32-bit one, which machines
# without 32-bit emulation cannot run) in a 64-bit prefix.
set -u
if [ "${KAV_WINE_BITS:-32}" = 64 ]; then
  loader=/usr/lib/wine/wine64 server=/usr/lib/wine/wineserver64 arch=win64 default_prefix=$PWD/.wine64
else
  loader=wine server="" arch=win32 default_prefix=$PWD/.wine
fi
: "${WINEPREFIX:=${KAV_WINEPREFIX:-$default_prefix}}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=$arch
# A new prefix is made once (a 64-bit one takes about a minute), whoever asks first.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  ( flock 9; [ -f "$WINEPREFIX/system.reg" ] || "$loader" wineboot -i >/dev/null 2>&1 ) 9>"$WINEPREFIX.lock"
fi
# The 64-bit programs share one server per prefix, kept for 30 s after the last
# program ends, instead of one started (with Wine's services) for each: a run of
# many short tests then costs milliseconds a test, not a second. (It is asked for
# every time; one already running makes the request fail at once.) Its output is
# not ours: it must hold no pipe of CTest's.
[ -n "$server" ] && "$server" -p30 >/dev/null 2>&1 </dev/null
out=$(mktemp)
for attempt in 1 2 3; do
  "$loader" "$@" >"$out" 2>&1 </dev/null
  rc=$?
  # Wine itself, not the program, failed when its loader dies of a signal, loses its
  # server (one that is just exiting) or ends in failure without a word: every program
  # run here prints before it can fail (the test programs their banner, the hosts
  # their answers), and under a busy server the loader has been seen to end so, at
  # once, about once in a thousand runs. Then the program is run again. A program that
  # ran, crash or not, reports its own status and is never run twice.
  if [ $rc -lt 128 ] && ! grep -q '^wine client error' "$out" && { [ $rc -eq 0 ] || [ -s "$out" ]; }; then
    break
  fi
  [ $attempt -lt 3 ] && echo "(wine failed to run the program, status $rc: trying again)" >&2
  sleep 1
done
tr -d '\r' <"$out"
rm -f "$out"
exit $rc
