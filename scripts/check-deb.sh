#!/usr/bin/env bash
# Installs the Debian package as a user would (apt install ./FILE.deb, as root),
# checks that its programs and manual pages work from any folder and that the
# library is known to the dynamic linker, removes it again and checks that every
# file it listed is gone (directories only where another package still owns them).
# Refuses to run where the package is installed already.
# usage: check-deb.sh FILE.deb
set -euo pipefail
deb=$(realpath "$1")
[ "$(id -u)" -eq 0 ] || { echo "check-deb.sh: needs root (it installs the package)" >&2; exit 2; }
pkg=$(dpkg-deb -f "$deb" Package)
installed() { dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q ' installed$'; }
if installed; then
  echo "check-deb.sh: $pkg is installed on this machine already; not touching it" >&2
  exit 2
fi
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
export DEBIAN_FRONTEND=noninteractive

apt-get install -y -qq "$deb" >/dev/null
listed=$(dpkg -L "$pkg")
away=$(mktemp -d)
cd "$away"
abfgen --help >/dev/null || fail "abfgen --help"
abfgen rec.abf >/dev/null || fail "abfgen rec.abf"
if grep -qx /usr/bin/sorvan <<<"$listed"; then
  sorvan info rec.abf >/dev/null || fail "sorvan info rec.abf"
  # The NWB export needs Debian's HDF5 library, which the package must depend on.
  sorvan export rec.abf --to nwb -o . && [ -s rec.nwb ] || fail "sorvan export rec.abf --to nwb"
  grep -q 'libhdf5' <<<"$(dpkg-deb -f "$deb" Depends)" || fail "the package does not depend on libhdf5"
fi
# The Python package, for Debian's python3 (not another one first on PATH), from
# the package's folder and not from a source tree; its byte code written as a
# user's python3 writes it, for the removal to take away.
if grep -q '^/usr/lib/python3/dist-packages/sorvan/' <<<"$listed"; then
  env -u PYTHONDONTWRITEBYTECODE /usr/bin/python3 -c "import sorvan; r = sorvan.open('rec.abf'); a = r.read(0)
assert sorvan.__file__.startswith('/usr/lib/python3/dist-packages/sorvan/'), sorvan.__file__
assert a.dtype.name == 'float32' and len(a) == r.sample_count > 0
r.to_nwb('py.nwb')" || fail "python3: import sorvan; sorvan.open(...).read(0), .to_nwb(...)"
fi
for page in $(sed -n 's|^/usr/share/man/man1/\(.*\)\.1\.gz$|\1|p' <<<"$listed"); do
  man -w "$page" >/dev/null && grep -q "$page" <<<"$(man -P cat "$page" 2>/dev/null)" || fail "man $page"
done
# (grep reads a finished text: with pipefail, a grep -q that stops reading early
# would fail the pipeline through its writer's SIGPIPE)
grep -q 'libabffio\.so ' <<<"$(ldconfig -p)" || fail "the dynamic linker does not know libabffio.so"
[ -s "/usr/share/doc/$pkg/guide.html" ] || fail "no guide in /usr/share/doc/$pkg"
cd /
rm -rf "$away"

apt-get remove -y -qq "$pkg" >/dev/null
installed && fail "$pkg is still installed"
left=0
while read -r f; do
  [ -e "$f" ] || [ -L "$f" ] || continue
  if [ -d "$f" ] && [ ! -L "$f" ] && dpkg -S "$f" >/dev/null 2>&1; then continue; fi
  fail "$f is left behind"
  left=$((left + 1))
done <<<"$listed"
grep -q 'libabffio\.so ' <<<"$(ldconfig -p)" && fail "the dynamic linker still knows libabffio.so"
# Removed, the package stays known to dpkg (its maintainer scripts, for a purge):
# forget it, so that the machine is as before.
dpkg --purge "$pkg" >/dev/null

if [ $failures -eq 0 ]; then
  echo "check-deb: $(basename "$deb") installs, works from any folder, and leaves none of its $(wc -l <<<"$listed") paths behind"
fi
exit $((failures > 0))
