#!/usr/bin/env python3
"""Times the real VorlanePatcher.exe under Wine from the start of its process to its first
painted frame and to UpToDate against the local test server (an up-to-date installation),
as seen from outside on a private Xvfb display: the window's appearance through xdotool, the
first painted frame by reading one pixel of the screen every few milliseconds (the notes
panel's colour where no glyph reaches), UpToDate through screenshots. Beside it, in the same
rounds and the same way, bench/win/bare_window.exe: the same popup (class style, region, fonts)
painting one filled rectangle of the colour looked for, with nothing of ours; the first frame
is printed as a ratio to it.

    python3 bench/window_startup.py BUILD_DIR [ROUNDS]      (root; the win32 build)

Warm rounds start the program while the namespace's wineserver and Wine's desktop process run
(a Notepad window stays open meanwhile, as a desktop stays up on Windows); cold rounds stop
the wineserver first, so Wine's own start-up is counted as a user's first start would count it.
A screenshot takes a few tens of milliseconds, which bounds the resolution of the UpToDate
figure; the first frame is seen within a few milliseconds."""
import ctypes
import os
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

if len(sys.argv) > 1:
    os.environ["VORLANE_BUILD_DIR"] = os.path.abspath(sys.argv[1])
    os.environ.setdefault("VORLANE_SOURCE_DIR", os.path.abspath(os.path.join(HERE, "..")))
    os.environ.setdefault("WINEPREFIX", os.path.join(os.environ["VORLANE_BUILD_DIR"], "wineprefix"))
    os.environ.setdefault("VORLANE_DEV_KEY_DIR", os.path.join(os.environ["VORLANE_SOURCE_DIR"], "build", "devkey"))
import window_driver as wd  # noqa: E402

PANEL_SAMPLE = (300, 230)  # inside the notes panel, below any text: only the painter puts Panel here
PANEL = (0x1C, 0x20, 0x2B)


BARE_TITLE = "Vorlane Bare Window"


class ScreenPixel:
    """Reads single pixels of the display straight from the X server (XGetImage of 1 x 1),
    which takes well under a millisecond where a whole screenshot takes tens of them."""

    def __init__(self, display):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XGetImage.restype = ctypes.c_void_p
        self.x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                       ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x11.XGetPixel.restype = ctypes.c_ulong
        self.x11.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        self.display = self.x11.XOpenDisplay(display.encode())
        self.root = self.x11.XDefaultRootWindow(self.display)

    def rgb(self, x, y):
        image = self.x11.XGetImage(self.display, self.root, x, y, 1, 1, 0xFFFFFFFF, 2)  # ZPixmap
        if not image:
            return (0, 0, 0)
        value = self.x11.XGetPixel(image, 0, 0)  # each 1 x 1 image is a few bytes, left to the process's end
        return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)


def find_window(session, title, timeout=60.0):
    """The id of the window named `title`, or None when it does not appear within `timeout` s."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            found = subprocess.run(["xdotool", "search", "--name", "^%s$" % title], env=session.env,
                                   capture_output=True, text=True, timeout=5).stdout.split()
        except subprocess.TimeoutExpired:
            found = []
        if found:
            return found[0]
        time.sleep(0.05)
    return None


def one_round(session, exe, cold, title=wd.WINDOW_TITLE):
    """(window mapped, first painted frame, UpToDate) in seconds from the start; the bare
    window has no UpToDate."""
    if cold:
        subprocess.run(["wineserver", "-k"], env=session.env, timeout=30, check=False)
        subprocess.run(["wineserver", "-w"], env=session.env, timeout=30, check=False)
    # The window is centred on the screen: the panel's sample point is known before it exists.
    width, height = (int(v) for v in session.screen.split("x"))
    sample = ((width - wd.WIDTH) // 2 + PANEL_SAMPLE[0], (height - wd.HEIGHT) // 2 + PANEL_SAMPLE[1])
    start = time.monotonic()
    proc = session.start(exe, timeout=60)
    found = {}
    finder = threading.Thread(target=lambda: found.update(window=find_window(session, title),
                                                          mapped=time.monotonic() - start))
    finder.start()
    painted = up_to_date = None
    deadline = start + 60
    while painted is None and time.monotonic() < deadline and proc.poll() is None:
        if max(abs(a - b) for a, b in zip(session.pixels.rgb(*sample), PANEL)) <= 4:
            painted = time.monotonic() - start
        else:
            time.sleep(0.003)
    finder.join()
    window, mapped = found["window"], found["mapped"]
    if window is None:
        wd.wait_exit(proc, 60)
        return None, None, None
    deadline = time.monotonic() + 30
    while title == wd.WINDOW_TITLE and up_to_date is None and time.monotonic() < deadline:
        if session.shot(window).phase() == wd.FINISHED:
            up_to_date = time.monotonic() - start
    session.key(window, "Escape")
    wd.wait_exit(proc, 15)
    return mapped, painted, up_to_date


def summary(name, values):
    values = [v for v in values if v is not None]
    if values:
        print("  %-20s median %.2f  min %.2f  max %.2f" % (name, statistics.median(values), min(values), max(values)))


def main():
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    rc = wd.run_with_server([os.path.abspath(__file__)] + sys.argv[1:], "bench_startup")
    if rc is not False:
        return rc
    with wd.Session("bench_startup", screen="800x600") as session:
        session.pixels = ScreenPixel(session.env["DISPLAY"])
        wd.Release("2.5.17.3").add("Vorlane.exe", wd.read_bytes(wd.BOT)).publish()
        folder = session.install("install")
        ours, bare = os.path.join(folder, "VorlanePatcher.exe"), os.path.join(wd.BUILD, "bench", "bare_window.exe")
        one_round(session, ours, cold=False)  # the prefix copy's first start does one-off work
        one_round(session, bare, cold=False, title=BARE_TITLE)
        # In warm rounds a Notepad window stays open, so that Wine's desktop process stays up
        # as a desktop does on Windows; else whichever program starts first after a pause pays
        # for bringing it up. Cold rounds stop the wineserver, and the desktop with it.
        session.start("notepad.exe", timeout=3600)
        time.sleep(3)
        for cold in (False, True):
            figures, peers = [], []
            for r in range(rounds):
                # The two take turns at going first.
                for arm in ((ours, bare) if r % 2 == 0 else (bare, ours)):
                    if arm == ours:
                        figures.append(one_round(session, ours, cold))
                    else:
                        peers.append(one_round(session, bare, cold, title=BARE_TITLE))
            print("%s wineserver, %d rounds (s): window mapped / first painted frame / UpToDate | bare window: "
                  "mapped / first painted frame" % ("cold" if cold else "warm", rounds))
            for figure, peer in zip(figures, peers):
                print("  " + " / ".join("%.2f" % f if f is not None else "-" for f in figure) + " | " +
                      " / ".join("%.2f" % f if f is not None else "-" for f in peer[:2]))
            for i, name in enumerate(("window mapped", "first painted frame", "UpToDate")):
                summary(name, [f[i] for f in figures])
            for i, name in enumerate(("bare window mapped", "bare first frame")):
                summary(name, [p[i] for p in peers])
            ratios = [f[1] / p[1] for f, p in zip(figures, peers) if f[1] and p[1]]
            if ratios:
                print("  first painted frame, ours / bare window: median %.2f  min %.2f  max %.2f (per round: %s)" %
                      (statistics.median(ratios), min(ratios), max(ratios), " ".join("%.2f" % r for r in ratios)))
        # What one look at the screen costs: the resolution of every figure above.
        proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), timeout=60)
        window = find_window(session, wd.WINDOW_TITLE)
        began = time.monotonic()
        for _ in range(10):
            session.shot(window)
        print("one screenshot and its reading: %.0f ms" % ((time.monotonic() - began) * 100))
        session.key(window, "Escape")
        wd.wait_exit(proc, 15)
    return 0


if __name__ == "__main__":
    sys.exit(main())
