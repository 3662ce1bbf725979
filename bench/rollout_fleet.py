#!/usr/bin/env python3
"""A staged release over a fleet of installations: the real VorlanePatcher.exe --auto under
Wine, against the local update server, on twenty installations that each draw their own
identifier (VorlanePatcher.id) at their first staged release.

  1. release 2.6.0.1 at a share of 50 %: every installation is started twice; prints how many
     took it and whether any answered differently the second time;
  2. the same release halted (share 0, a higher serial): how many more took it (none should);
  3. the same release critical at share 0: how many have it after one start (all should);
  4. a pull-back, 2.6.0.2 carrying the files of the release before, at the full share: how many
     have the old files back.

    python3 bench/rollout_fleet.py BUILD_DIR [INSTALLATIONS]     (root: a network namespace)

Prints figures; asserts nothing. About 5 s an updater start."""
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import build_env  # noqa: E402,F401  (first: the environment window_driver reads)
import window_driver as wd  # noqa: E402

COUNT = int(sys.argv[2]) if len(sys.argv) > 2 else 20
_serial = [int(time.time()) - 100000]


def serial():
    """Serials below the clock, each above the last."""
    _serial[0] += 1000
    return "serial=%d\n" % _serial[0]


def one_start(session, folder):
    """One --auto start to its end; the bot it starts is stopped again. False when the run did
    not end as a finished pass."""
    runs = len(wd.read_runs(folder))
    proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), "--auto", timeout=120)
    window = session.find_window()
    ok = window is not None and session.wait_phase(window, wd.FINISHED, 60) == wd.FINISHED
    ok = session.wait_gone(30) and wd.wait_exit(proc, 30) == 0 and ok
    ok = wd.wait_for(lambda: len(wd.read_runs(folder)) > runs, 20) and ok
    with open(os.path.join(folder, "Vorlane.stop"), "w"):
        pass
    wd.wait_for(lambda: "stop" in wd.read_runs(folder)[-1], 20)
    os.remove(os.path.join(folder, "Vorlane.stop"))
    return ok


def has(folder, content):
    return wd.read_bytes(os.path.join(folder, "data", "items.txt")) == content if os.path.exists(
        os.path.join(folder, "data", "items.txt")) else content is None


def main():
    old_bot, next_bot = wd.read_bytes(wd.BOT), wd.read_bytes(wd.NEXT_BOT)
    started = time.time()
    with wd.Session("rollout_fleet") as session:
        staged = wd.Release("2.6.0.1").add("Vorlane.exe", next_bot).add("data/items.txt", b"2.6.0.1\n")
        session.release = staged
        folders = [session.install("i%02d" % n) for n in range(COUNT)]
        failed = 0

        staged.publish(records=serial() + "rollout=500\n")
        first = []
        for folder in folders:
            failed += not one_start(session, folder)
            first.append(has(folder, b"2.6.0.1\n"))
        second = []
        for folder in folders:
            failed += not one_start(session, folder)
            second.append(has(folder, b"2.6.0.1\n"))
        ids = len({wd.read_bytes(os.path.join(f, "VorlanePatcher.id")) for f in folders
                   if os.path.exists(os.path.join(f, "VorlanePatcher.id"))})
        print("share 50 %%: %d of %d installations took 2.6.0.1 at the first start, %d after the second;"
              " %d answered differently the second time; %d distinct identifiers"
              % (sum(first), COUNT, sum(second), sum(a != b for a, b in zip(first, second)), ids))

        staged.publish(records=serial() + "rollout=0\n")
        for folder in folders:
            failed += not one_start(session, folder)
        halted = sum(has(f, b"2.6.0.1\n") for f in folders)
        print("share 0 (halted): %d of %d have 2.6.0.1 (%d more than before the halt)"
              % (halted, COUNT, halted - sum(second)))

        staged.publish(records=serial() + "rollout=0\ncritical=1\n")
        for folder in folders:
            failed += not one_start(session, folder)
        print("critical at share 0: %d of %d have 2.6.0.1" % (sum(has(f, b"2.6.0.1\n") for f in folders), COUNT))

        back = wd.Release("2.6.0.2").add("Vorlane.exe", old_bot)
        session.release = back
        back.publish(records=serial())
        for folder in folders:
            failed += not one_start(session, folder)
        print("pull-back 2.6.0.2 with the files before 2.6.0.1, full share: %d of %d run the old Vorlane.exe"
              % (sum(wd.read_bytes(os.path.join(f, "Vorlane.exe")) == old_bot for f in folders), COUNT))
        print("updater starts that did not end as a finished pass: %d; %.0f s in all" % (failed, time.time() - started))


if __name__ == "__main__":
    rc = wd.run_with_server([os.path.abspath(__file__)] + sys.argv[1:], "rollout_fleet")
    if rc is not False:
        sys.exit(rc)
    main()
