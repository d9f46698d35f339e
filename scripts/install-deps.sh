#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build and the tests need and the
# machine lacks. Safe to run repeatedly: it only calls apt-get when something is missing.
set -euo pipefail

# The Python package (python/): pybind11 and Python's headers to build it; pytest,
# Dask (its archive tests) and h5py (the NWB export) to test it; venv, pip and
# setuptools for its installation into a virtual environment; neo for the bench's
# comparison. The NWB writer (nwb/): HDF5's C library.
need_native=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev
             python3 file libhdf5-dev
             libcli11-dev libfmt-dev nlohmann-json3-dev libcairo2-dev help2man
             python3-igor python3-numpy
             pybind11-dev python3-dev python3-pytest python3-dask python3-h5py
             python3-venv python3-pip python3-setuptools python3-neo)
# The Windows builds: 32-bit (and its Wine loader, which runs where the kernel runs
# 32-bit programs) and 64-bit (its loader, wine64, runs everywhere).
need_win32=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 xvfb xdotool imagemagick locales)
# ./run release: the Debian package, the manual pages, the guide as HTML, the zip.
need_release=(dpkg-dev help2man man-db python3-markdown zip unzip)

missing=()
is_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

want=("${need_native[@]}")
if [ "${KAV_NATIVE_ONLY:-0}" != 1 ]; then want+=("${need_win32[@]}"); fi
if [ "${KAV_RELEASE:-0}" = 1 ]; then want+=("${need_release[@]}"); fi
for p in "${want[@]}"; do is_installed "$p" || missing+=("$p"); done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
