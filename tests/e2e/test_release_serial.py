"""Serial and expiry records with the real program under Wine, against the local update server.

- A release signed on a clock a year fast installs, and so does the next one, signed with a
  true clock: the program keeps its own clock's time, not the fast serial.

- The updater of the last commit before these records (and mirror records) existed (built here from that commit
  with `git archive` and this build's key and server address) updates from a manifest that
  carries them exactly as from one without: its parser skips records it does not know.
  Skipped, with the reason, when the clone lacks that commit (a shallow clone, an export).
"""
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_driver as wd  # noqa: E402

OLDER_COMMIT = "dbbf5ea"
# The records that updater does not know; a mirror it skips, since it fetches from its host alone.
RECORDS = "serial=1800000000\nexpires=2099-01-01T00:00:00Z\nmirror=https://mirror.vorlane.test:8443/rel\n"


def build_older_updater():
    """VorlanePatcher.exe of OLDER_COMMIT, built once into the build tree. (path, None) or
    (None, why it cannot be had)."""
    if os.environ.get("WINEARCH") == "win64":
        return None, "the updater of %s is a 32-bit program, which this build's 64-bit Wine does not run" % OLDER_COMMIT
    if subprocess.run(["git", "-C", wd.SOURCE, "cat-file", "-e", OLDER_COMMIT + "^{commit}"],
                      capture_output=True, timeout=30).returncode != 0:
        return None, "the clone does not hold commit %s (shallow or exported)" % OLDER_COMMIT
    work = os.path.join(wd.BUILD, "tests", "older-updater")
    source = os.path.join(work, "src")
    exe = os.path.join(work, "build", "bin", "VorlanePatcher.exe")
    if not os.path.isdir(source):
        os.makedirs(source)
        archive = subprocess.Popen(["git", "-C", wd.SOURCE, "archive", OLDER_COMMIT], stdout=subprocess.PIPE)
        subprocess.run(["tar", "-x", "-C", source], stdin=archive.stdout, check=True, timeout=120)
        if archive.wait(timeout=120) != 0:
            raise RuntimeError("git archive %s failed" % OLDER_COMMIT)
    key_dir = os.environ.get("VORLANE_DEV_KEY_DIR", os.path.join(wd.SOURCE, "build", "devkey"))
    configure = ["cmake", "-S", source, "-B", os.path.join(work, "build"), "-G", "Ninja",
                 "-DCMAKE_BUILD_TYPE=Release",
                 "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(source, "cmake", "mingw32-toolchain.cmake"),
                 "-DVORLANE_PUBLIC_KEY_FILE=" + os.path.join(key_dir, "public.key")]
    for name in ("VORLANE_UPDATE_HOST", "VORLANE_MANIFEST_PATH"):
        if os.environ.get(name):
            # That updater knows one host: the first, which the test server answers for.
            configure.append("-D%s=%s" % (name, os.environ[name].split(",")[0]))
    subprocess.run(configure, check=True, capture_output=True, timeout=300)
    subprocess.run(["cmake", "--build", os.path.join(work, "build"), "-j2", "--target", "VorlanePatcher"],
                   check=True, capture_output=True, timeout=900)
    return exe, None


def run_auto(session, folder, save_as):
    """One --auto run that must update and start the bot; the bot is then stopped."""
    proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), "--auto", timeout=120)
    window = session.find_window()
    if window is None:
        raise AssertionError("no window")
    phase = session.wait_phase(window, wd.FINISHED, 60, save_as=save_as)
    runs = wd.wait_for(lambda: wd.read_runs(folder), 20)
    with open(os.path.join(folder, "Vorlane.stop"), "w"):
        pass
    session.wait_gone(30)
    code = wd.wait_exit(proc, 30)
    wd.wait_for(lambda: any(line.startswith("stop ") for line in wd.read_runs(folder)), 20)
    return phase, code, runs


def read_record(folder):
    with open(os.path.join(folder, "VorlanePatcher.serial"), "rb") as f:
        first, second = f.read().decode().split()
    assert first == second
    return int(first)


class FastClockTest(unittest.TestCase):
    def test_a_release_signed_a_year_ahead_does_not_hold_back_the_next(self):
        with wd.Session("fast_signing_clock") as session:
            folder = session.install("install")
            year = 365 * 86400
            before = int(time.time())
            fast = wd.Release("2.6.0.1").add("Vorlane.exe", wd.read_bytes(wd.NEXT_BOT))
            fast.add("data/items.txt", b"signed a year ahead\n").publish(records="serial=%d\n" % (before + year))
            phase, code, runs = run_auto(session, folder, "fast_signed")
            self.assertEqual((phase, code), (wd.FINISHED, 0))
            self.assertTrue(runs, "the bot was not started")
            kept = read_record(folder)
            self.assertGreaterEqual(kept, before)
            self.assertLessEqual(kept, int(time.time()))

            today = int(time.time())
            true = wd.Release("2.6.0.1").add("Vorlane.exe", wd.read_bytes(wd.NEXT_BOT))
            true.add("data/items.txt", b"signed today\n").publish(records="serial=%d\n" % today)
            os.remove(os.path.join(folder, "Vorlane.runs"))
            phase, code, runs = run_auto(session, folder, "signed_today")
            self.assertEqual((phase, code), (wd.FINISHED, 0))
            self.assertTrue(runs, "the bot was not started")
            self.assertEqual(wd.read_bytes(os.path.join(folder, "data", "items.txt")), b"signed today\n")
            self.assertEqual(read_record(folder), today)


class OlderUpdaterTest(unittest.TestCase):
    def test_the_updater_before_serials_takes_a_manifest_with_them(self):
        older = os.environ.get("VORLANE_OLDER_UPDATER", "")
        if not older:
            self.skipTest(os.environ.get("VORLANE_OLDER_UPDATER_MISSING", "no older updater"))
        with wd.Session("older_updater") as session:
            data = bytes(range(256)) * 300
            release = wd.Release("2.6.0.1").add("Vorlane.exe", wd.read_bytes(wd.NEXT_BOT))
            release.add("data/items.txt", data).publish(records=RECORDS)
            folder = session.install("install", patcher=older)
            proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), "--auto", timeout=120)
            window = session.find_window()
            self.assertIsNotNone(window, "no window")
            self.assertEqual(session.wait_phase(window, wd.FINISHED, 60, save_as="older_updated"), wd.FINISHED)
            self.assertTrue(session.wait_gone(30))
            self.assertEqual(wd.wait_exit(proc, 30), 0)
            self.assertEqual(wd.read_bytes(os.path.join(folder, "Vorlane.exe")), wd.read_bytes(wd.NEXT_BOT))
            self.assertEqual(wd.read_bytes(os.path.join(folder, "data", "items.txt")), data)
            self.assertNotIn("VorlanePatcher.serial", os.listdir(folder))
            self.assertTrue(wd.wait_for(lambda: wd.read_runs(folder), 20), "the bot was not started")
            self.assertIn(" 2.6.0.1 ", wd.read_runs(folder)[0])
            with open(os.path.join(folder, "Vorlane.stop"), "w"):
                pass


if __name__ == "__main__":
    if not os.environ.get("VORLANE_SERVER_STATE") and not os.environ.get("VORLANE_OLDER_UPDATER"):
        exe, why = build_older_updater()
        if exe:
            os.environ["VORLANE_OLDER_UPDATER"] = exe
        else:
            print("older updater skipped: " + why)
            os.environ["VORLANE_OLDER_UPDATER_MISSING"] = why
    rc = wd.run_with_server([os.path.abspath(__file__)] + sys.argv[1:], "release_serial")
    if rc is not False:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
