"""What the sorvan test scripts share: their common options, the failure list, paths
as the program under test takes them (Windows paths under Wine) and running a
program (through the emulator under Wine)."""
import argparse
import os
import subprocess


def options(*extra):
    """The scripts' options: --sorvan, --abfgen, --emulator, --work, and `extra`
    (pairs of a name and add_argument's keywords)."""
    ap = argparse.ArgumentParser()
    for name in ("--sorvan", "--abfgen", "--work"):
        ap.add_argument(name, required=True)
    ap.add_argument("--emulator", default="")
    for name, kw in extra:
        ap.add_argument(name, **kw)
    return ap.parse_args()


class Harness:
    def __init__(self, opts, timeout):
        self.opts, self.timeout = opts, timeout
        self.win = opts.sorvan.lower().endswith(".exe")
        self.failures = []

    def check(self, cond, what):
        if not cond:
            self.failures.append(what)
            print("FAIL:", what)
        return cond

    def native(self, p):
        """A path as the program under test takes it (a Windows path under Wine)."""
        return "Z:" + os.path.abspath(p).replace("/", "\\") if self.win else p

    def run(self, exe, *args):
        cmd = ([self.opts.emulator] if self.opts.emulator else []) + [exe] + [str(a) for a in args]
        return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=self.timeout)
