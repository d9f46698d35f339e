#!/usr/bin/env bash
# Says in one line whether this machine runs 32-bit Windows programs; exit 0 when
# it does, 1 when it cannot.
#
# Under Wine a 32-bit Windows program runs inside Debian's 32-bit Wine loader
# (/usr/lib/wine/wine, which Debian's `wine` script always picks once wine32 is
# installed). That loader is itself a 32-bit Linux program, so it runs only where
# the kernel's 32-bit emulation is on; elsewhere exec fails with "Exec format
# error" and so would every Win32 test. Only that failure means "cannot": a loader
# missing or broken for any other reason is a fault of the setup, which the tests
# that run Win32 programs then report by failing.
#
# KAV_WIN32_RUNS=0 answers "cannot" on any machine, to try that path where the
# emulation is on.
loader=/usr/lib/wine/wine
if [ "${KAV_WIN32_RUNS:-}" = 0 ]; then
  echo "this machine is taken as one that cannot run 32-bit programs (KAV_WIN32_RUNS=0)"
  exit 1
fi
if out=$("$loader" --version 2>&1); then
  echo "this machine runs 32-bit Windows programs ($loader: $out)"
  exit 0
fi
case "$out" in
  *"Exec format error"*)
    echo "this machine cannot run 32-bit programs (the kernel's 32-bit emulation is off: $loader: Exec format error)"
    exit 1 ;;
esac
echo "this machine should run 32-bit Windows programs, but $loader fails: ${out//$'\n'/ }"
exit 0
