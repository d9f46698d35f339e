#!/usr/bin/env python3
"""The real file-open dialog and folder browser, shown by kav_Sorvan.xop inside
IGOR.exe under Wine (with --bits 64: kav_Sorvan64.xop inside Igor64.exe under the
64-bit Wine loader), in an X display of the test's own (Xvfb) and a Wine prefix
of its own, driven with xdotool; dlgprobe.exe reads the dialogs' controls.
Its tools are required (scripts/install-deps.sh installs them): a missing one fails
the test. Exits 77 (skipped) only when no display can be started."""
import argparse, json, os, shutil, subprocess, sys, time

ap = argparse.ArgumentParser()
ap.add_argument("--bin", required=True)   # IGOR.exe, kav_Sorvan.xop, ABFFIO.dll, dlgprobe.exe
ap.add_argument("--work", required=True)  # scratch folder: prefix, data, logs
ap.add_argument("--bits", default="32", choices=("32", "64"))
opts = ap.parse_args()
# The 64-bit programs run in the 64-bit loader, called directly: Debian's `wine`
# script would pick the 32-bit one.
WINE = "/usr/lib/wine/wine64" if opts.bits == "64" else "wine"
HOST = "Igor64.exe" if opts.bits == "64" else "IGOR.exe"

failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)


def skip(why):
    print("SKIPPED: " + why, flush=True)
    sys.exit(77)


missing = [tool for tool in ("Xvfb", "xdotool", WINE, "wineserver") if not shutil.which(tool)]
if missing:
    print("FAIL: not installed: %s (scripts/install-deps.sh installs them)" % ", ".join(missing), flush=True)
    sys.exit(1)

work = os.path.abspath(opts.work)
shutil.rmtree(work, ignore_errors=True)
data = os.path.join(work, "data")
os.makedirs(os.path.join(data, "abf"))
for name in ("a1.abf", "b2.abf", "c3.abf", "notes.txt"):
    with open(os.path.join(data, name), "wb") as f:
        f.write(b"not a recording")


def win(path):
    return "Z:" + path.replace("/", "\\")


DATA = win(data)

# The display: Xvfb picks a free number and writes it to the pipe.
rfd, wfd = os.pipe()
xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(wfd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                        pass_fds=(wfd,), stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "xvfb.log"), "w"))
os.close(wfd)
number = b""
deadline = time.time() + 15
os.set_blocking(rfd, False)
while time.time() < deadline and not number.endswith(b"\n"):
    try:
        number += os.read(rfd, 16)
    except BlockingIOError:
        pass
    if xvfb.poll() is not None:
        break
    time.sleep(0.05)
os.close(rfd)
if not number.strip():
    xvfb.kill()
    skip("no X display could be started (Xvfb: %s)" % open(os.path.join(work, "xvfb.log")).read().strip()[-300:])

env = dict(os.environ)
env.update(DISPLAY=":" + number.strip().decode(), WINEPREFIX=os.path.join(work, "prefix"), WINEDEBUG="-all",
           WINEARCH="win" + opts.bits, WINEDLLOVERRIDES="mscoree,mshtml=", KAVDLG_DATA=DATA)


def run(cmd, timeout):
    return subprocess.run(cmd, env=env, cwd=opts.bin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=timeout)


def windows(title):
    p = run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title], 10)
    return p.stdout.split()


def wait_window(title, timeout):
    deadline = time.time() + timeout
    while time.time() < deadline:
        found = windows(title)
        if found:
            time.sleep(0.5)
            return found[0].decode()
        time.sleep(0.1)
    return None


def wait_gone(title, timeout=15):
    deadline = time.time() + timeout
    while time.time() < deadline and windows(title):
        time.sleep(0.1)


def probe(title):
    """The dialog's controls: {(class, id): text}."""
    p = run([WINE, "dlgprobe.exe", title], 30)
    controls = {}
    for line in p.stdout.decode("utf-8", "replace").replace("\r", "").splitlines():
        parts = line.split("\t")
        if len(parts) == 3:
            controls.setdefault((parts[0], parts[1]), parts[2])
    return controls


def dialog(args, title, act, first=False):
    """Calls a function whose dialog has `title`, lets act(window) drive it, and
    returns the call's JSON outcome (None when it failed)."""
    out = open(os.path.join(work, "call.out"), "w+b")
    err = open(os.path.join(work, "call.err"), "w+b")
    proc = subprocess.Popen([WINE, HOST, "call"] + args + ["--json"], env=env, cwd=opts.bin,
                            stdout=out, stderr=err)
    try:
        w = wait_window(title, 90 if first else 45)
        check(w is not None, "%s: a visible window titled %r" % (args[0], title))
        if w is None:
            proc.kill()
            return None
        act(w)
        proc.wait(timeout=45)
    except subprocess.TimeoutExpired:
        proc.kill()
        check(False, "%s: the call ended" % args[0])
        return None
    wait_gone(title)
    out.seek(0)
    text = out.read().decode("latin-1")
    try:
        return json.loads(text)
    except ValueError:
        check(False, "%s: JSON outcome, got %r" % (args[0], text[:300]))
        return None


def keys(w, *sequence):
    run(["xdotool", "windowfocus", "--sync", w], 10)
    for k in sequence:
        if k.startswith("type:"):
            run(["xdotool", "type", "--delay", "30", k[5:]], 30)
        else:
            run(["xdotool", "key", k], 10)


def outcome(j, what, result):
    if j is None:
        return
    check(j.get("status") == 0, "%s: status 0 (got %r)" % (what, j.get("status")))
    check(j.get("result") == result, "%s: result %r (got %r)" % (what, result, j.get("result")))
    a = j.get("audit", {})
    check(a.get("leaked") == 0 and a.get("violations") == [], "%s: audit clean %r" % (what, a))


try:
    # The prefix is made once the display is up, so its wineserver knows the display.
    boot = run([WINE, "wineboot", "-i"], 180)
    check(boot.returncode == 0, "a Wine prefix of the test's own")
    started = time.time()

    OPEN, BROWSE = "kav_AbfFileOpenDialog", "kav_AbfBrowseForFolder"
    seen = {}

    def type_and_open(name):
        def act(w):
            seen.update(probe("Pick one ABF"))
            keys(w, "type:" + name, "Return")
        return act

    # One file; mode 1 shows the ABF filter first.
    j = dialog([OPEN, "Pick one ABF", DATA, "1"], "Pick one ABF", type_and_open("b2.abf"), first=True)
    outcome(j, "one file", DATA + "\\b2.abf")
    check(seen.get(("ComboBox", "0470")) == "Abf Files (*.abf)",
          "mode 1: the file-type box shows %r (got %r)" % ("Abf Files (*.abf)", seen.get(("ComboBox", "0470"))))
    check(seen.get(("ComboBox", "0471")) == "data", "the initial directory is open (got %r)" % seen.get(("ComboBox", "0471")))

    # Two files with multiple selection allowed: folder\name joined by "|".
    j = dialog([OPEN, "Pick ABF files", DATA, "257"], "Pick ABF files",
               lambda w: keys(w, 'type:"a1.abf" "c3.abf"', "Return"))
    outcome(j, "two files", DATA + "\\a1.abf|" + DATA + "\\c3.abf")

    # One file where several are allowed: its path, no bar.
    j = dialog([OPEN, "Pick ABF files", DATA, "257"], "Pick ABF files", lambda w: keys(w, "type:c3.abf", "Return"))
    outcome(j, "one of several allowed", DATA + "\\c3.abf")

    # Cancel: an empty string, status 0.
    j = dialog([OPEN, "Pick ABF files", DATA, "257"], "Pick ABF files", lambda w: keys(w, "Escape"))
    outcome(j, "cancel", "")

    # Mode 0 and no title: "Open file", every file type first.
    seen.clear()

    def look_and_cancel(w):
        seen.update(probe("Open file"))
        keys(w, "Escape")
    j = dialog([OPEN, "", DATA, "0"], "Open file", look_and_cancel)
    outcome(j, "mode 0 cancelled", "")
    check(seen.get(("ComboBox", "0470")) == "All Files (*.*)",
          "mode 0: the file-type box shows %r (got %r)" % ("All Files (*.*)", seen.get(("ComboBox", "0470"))))

    # The browser, preselected through an environment reference; Return takes it.
    selected = []

    def wait_selection_then_accept(w):
        deadline = time.time() + 20
        while time.time() < deadline:
            tree = probe("Browse for Folder").get(("SysTreeView32", "3741"), "")
            if tree.endswith("\\data\\abf"):
                selected.append(tree)
                break
            time.sleep(0.3)
        keys(w, "Return")
    j = dialog([BROWSE, "%KAVDLG_DATA%\\abf"], "Browse for Folder", wait_selection_then_accept)
    check(bool(selected), "the browser selects the expanded folder")
    outcome(j, "browser preselection", DATA + "\\abf")

    # Cancelling the browser.
    j = dialog([BROWSE, "%KAVDLG_DATA%"], "Browse for Folder", lambda w: keys(w, "Escape"))
    outcome(j, "browser cancel", "")
    print("interactions took %.1f s" % (time.time() - started))
finally:
    subprocess.run(["wineserver", "-k"], env=env, timeout=30)
    xvfb.terminate()
    try:
        xvfb.wait(timeout=10)
    except subprocess.TimeoutExpired:
        xvfb.kill()
    # The prefix is several hundred megabytes; the next run makes a fresh one.
    shutil.rmtree(env["WINEPREFIX"], ignore_errors=True)

print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
