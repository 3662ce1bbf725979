#!/usr/bin/env python3
"""Times the real VorlanePatcher.exe under Wine from the start of its process to its first
painted frame and to UpToDate against the local test server (an up-to-date installation),
as seen from outside through screenshots of a private Xvfb display.

    python3 bench/window_startup.py BUILD_DIR [ROUNDS]      (root; the win32 build)

Warm rounds start the program while the namespace's wineserver runs; cold rounds stop the
wineserver first, so Wine's own start-up is counted as a user's first start would count it.
A screenshot takes a few tens of milliseconds, which bounds the resolution of each figure."""
import os
import statistics
import subprocess
import sys
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


def one_round(session, folder, cold):
    if cold:
        subprocess.run(["wineserver", "-k"], env=session.env, timeout=30, check=False)
        subprocess.run(["wineserver", "-w"], env=session.env, timeout=30, check=False)
    start = time.monotonic()
    proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), timeout=60)
    window = session.find_window()
    if window is None:
        wd.wait_exit(proc, 60)
        return None, None, None
    mapped = time.monotonic() - start
    painted = up_to_date = None
    deadline = time.monotonic() + 30
    while up_to_date is None and time.monotonic() < deadline:
        shot = session.shot(window)
        now = time.monotonic() - start
        if painted is None and max(abs(a - b) for a, b in zip(shot.pixel(*PANEL_SAMPLE), PANEL)) <= 4:
            painted = now
        if shot.phase() == wd.FINISHED:
            up_to_date = now
    session.key(window, "Escape")
    wd.wait_exit(proc, 15)
    return mapped, painted, up_to_date


def main():
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    rc = wd.run_with_server([os.path.abspath(__file__)] + sys.argv[1:], "bench_startup")
    if rc is not False:
        return rc
    with wd.Session("bench_startup", screen="800x600") as session:
        wd.Release("2.5.17.3").add("Vorlane.exe", wd.read_bytes(wd.BOT)).publish()
        folder = session.install("install")
        one_round(session, folder, cold=False)  # the prefix copy's first start does one-off work
        for cold in (False, True):
            figures = [one_round(session, folder, cold) for _ in range(rounds)]
            print("%s wineserver, %d rounds (s): window mapped / first painted frame / UpToDate"
                  % ("cold" if cold else "warm", rounds))
            for figure in figures:
                print("  " + " / ".join("%.2f" % f if f is not None else "-" for f in figure))
            for i, name in enumerate(("window mapped", "first painted frame", "UpToDate")):
                values = [f[i] for f in figures if f[i] is not None]
                if values:
                    print("  %-20s median %.2f  min %.2f  max %.2f" % (name, statistics.median(values), min(values),
                                                                      max(values)))
        # What one look at the screen costs: the resolution of every figure above.
        proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), timeout=60)
        window = session.find_window()
        began = time.monotonic()
        for _ in range(10):
            session.shot(window)
        print("one screenshot and its reading: %.0f ms" % ((time.monotonic() - began) * 100))
        session.key(window, "Escape")
        wd.wait_exit(proc, 15)
    return 0


if __name__ == "__main__":
    sys.exit(main())
