#!/usr/bin/env bash
# usage: venv_install.sh PYTHON PACKAGE_SOURCE WORK ABFGEN
# README's installation into a virtual environment, offline, then a read from
# another folder with the environment's python.
set -euo pipefail
python=$1 source=$2 work=$3 abfgen=$4
rm -rf "$work" && mkdir -p "$work"
"$python" -m venv --system-site-packages "$work/venv"
SORVAN_CMAKE_BUILD_DIR="$work/cmake" "$work/venv/bin/pip" install -q --no-index --no-build-isolation "$source"
cd "$work"
"$abfgen" rec.abf >/dev/null
"$work/venv/bin/python" -c "
import sorvan
assert sorvan.__file__.startswith('$work/venv/'), sorvan.__file__
r = sorvan.open('rec.abf'); a = r.read(0)
assert a.dtype.name == 'float32' and len(a) == r.sample_count > 0
print('installed in a virtual environment:', sorvan.__file__)"
rm -rf "$work"
