#!/usr/bin/env python3
"""Resume of an interrupted download, end to end: the real VorlanePatcher.exe --auto under
Wine fetches one 100 MiB file from the local test server (tests/fixtures/update_server.py in
the namespace of tests/netns) whose connection is cut at 30, 60 and 90 % of the file, one
cut per request. Each cut fails a pass; the auto mode retries after its 15 s wait, and each
retry asks only for the rest. Printed per round: the body bytes the server sent in total as
a ratio of the file's size (without resume it would be 1 + 0.3 + 0.6 + 0.9 = 2.8), and the
time from the start to the installed file, against the same download uncut.

    python3 bench/resume.py BUILD_DIR [ROUNDS]      (root; the win32 build)

Prints figures; asserts nothing."""
import hashlib
import os
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.abspath(os.path.join(HERE, ".."))
import build_env  # noqa: E402,F401  (first: the environment window_driver reads)
import window_driver as wd  # noqa: E402

VERSION = "2.6.0.1"
NAME = "data/big.bin"
PATH = "/download/%s/%s" % (VERSION, NAME)
SIZE = 100 << 20
CUTS = (30, 60, 90)
RETRY_WAIT_S = 15  # the auto mode's wait before a retry


def installed_after(session, folder, content_digest, limit_s):
    """Starts an --auto run; seconds until the file is in place with its content, or None."""
    target = os.path.join(folder, *NAME.split("/"))
    began = time.monotonic()
    proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), "--auto", timeout=limit_s + 30)
    seconds = None
    while time.monotonic() - began < limit_s:
        if os.path.exists(target) and os.path.getsize(target) == SIZE:
            seconds = time.monotonic() - began
            break
        time.sleep(0.05)
    wd.wait_exit(proc, 20)
    if seconds is not None:
        with open(target, "rb") as f:
            if hashlib.sha256(f.read()).hexdigest() != content_digest:
                seconds = None
    return seconds


def main():
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    content = (hashlib.sha256(b"resume").digest() * 2048) * (SIZE // 65536)
    digest = hashlib.sha256(content).hexdigest()
    release = wd.Release(VERSION).add(NAME, content)
    cut_rule = PATH + " cutat=" + ",".join(str(SIZE * p // 100) for p in CUTS)
    try:
        with wd.Session("bench_resume") as session:
            for r in range(1, rounds + 1):
                figures = {}
                for arm, rules in (("uncut", ()), ("cut", (cut_rule,))):
                    release.publish(*rules)
                    release.server.clear_requests()  # and the count of bytes sent
                    folder = session.install("%s-%d" % (arm, r), bot=None)
                    seconds = installed_after(session, folder, digest, 600)
                    figures[arm] = (seconds, release.server.sent_bytes(PATH) / SIZE,
                                    len(release.requests("/download/")))
                    shutil.rmtree(folder, ignore_errors=True)
                (cut_s, cut_ratio, cut_requests), (uncut_s, uncut_ratio, _) = figures["cut"], figures["uncut"]
                if cut_s is None or uncut_s is None:
                    print("round %d: FAILED: the file was not installed (cut %s, uncut %s)" % (r, cut_s, uncut_s))
                    continue
                waits = RETRY_WAIT_S * len(CUTS)
                print("round %d: cut at %s %%: served %.3f x the file in %d requests, installed after %.1f s "
                      "(%.1f s without the %d s of retry waits) | uncut: served %.3f x, installed after %.1f s" %
                      (r, "/".join(map(str, CUTS)), cut_ratio, cut_requests, cut_s, cut_s - waits, waits,
                       uncut_ratio, uncut_s))
    finally:
        shutil.rmtree(os.path.join(os.environ["VORLANE_SERVER_ROOT"], "download"), ignore_errors=True)
    return 0


if __name__ == "__main__":
    rc = wd.run_with_server([os.path.abspath(__file__)] + sys.argv[1:], "bench_resume", timeout=3600)
    sys.exit(main() if rc is False else rc)
