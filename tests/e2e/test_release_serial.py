"""Serial and expiry records with the real program under Wine, against the local update server.

- A release signed on a clock a year fast installs, and so does the next one, signed with a
  true clock: the program keeps its own clock's time, not the fast serial.

- The updater of the last commit before these records existed (built here from that commit
  with `git archive` and this build's key and server address) updates from a manifest that
  carries them exactly as from one without: its parser skips records it does not know.
  The same holds for the updater of the last commit before the rollout and mirror records.
  Skipped, with the reason, when the clone lacks the commit (a shallow clone, an export).
"""
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_driver as wd  # noqa: E402

# The last commit before serial and expiry records, and the last before rollout, critical
# and mirror records.
OLDER_COMMIT = "dbbf5ea"
BEFORE_ROLLOUT_COMMIT = "c2f6eb4"
RECORDS = "serial=1800000000\nexpires=2099-01-01T00:00:00Z\n"
ROLLOUT_RECORDS = RECORDS + "rollout=1\ncritical=1\nmirror=https://upd2.vorlane.test/mirror\n"
OLDER_UPDATERS = {"VORLANE_OLDER_UPDATER": OLDER_COMMIT, "VORLANE_BEFORE_ROLLOUT_UPDATER": BEFORE_ROLLOUT_COMMIT}


def build_older_updater(commit):
    """VorlanePatcher.exe of `commit`, built once into the build tree. (path, None) or
    (None, why it cannot be had)."""
    if os.environ.get("WINEARCH") == "win64":
        return None, "the updater of %s is a 32-bit program, which this build's 64-bit Wine does not run" % commit
    if subprocess.run(["git", "-C", wd.SOURCE, "cat-file", "-e", commit + "^{commit}"],
                      capture_output=True, timeout=30).returncode != 0:
        return None, "the clone does not hold commit %s (shallow or exported)" % commit
    work = os.path.join(wd.BUILD, "tests", "older-updater" if commit == OLDER_COMMIT else "updater-" + commit)
    source = os.path.join(work, "src")
    exe = os.path.join(work, "build", "bin", "VorlanePatcher.exe")
    if not os.path.isdir(source):
        os.makedirs(source)
        archive = subprocess.Popen(["git", "-C", wd.SOURCE, "archive", commit], stdout=subprocess.PIPE)
        subprocess.run(["tar", "-x", "-C", source], stdin=archive.stdout, check=True, timeout=120)
        if archive.wait(timeout=120) != 0:
            raise RuntimeError("git archive %s failed" % commit)
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
    def take_release_with(self, variable, records, name, keeps_no_record=False):
        older = os.environ.get(variable, "")
        if not older:
            self.skipTest(os.environ.get(variable + "_MISSING", "no older updater"))
        with wd.Session(name) as session:
            data = bytes(range(256)) * 300
            release = wd.Release("2.6.0.1").add("Vorlane.exe", wd.read_bytes(wd.NEXT_BOT))
            release.add("data/items.txt", data).publish(records=records)
            folder = session.install("install", patcher=older)
            proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), "--auto", timeout=120)
            window = session.find_window()
            self.assertIsNotNone(window, "no window")
            self.assertEqual(session.wait_phase(window, wd.FINISHED, 60, save_as=name + "_updated"), wd.FINISHED)
            self.assertTrue(session.wait_gone(30))
            self.assertEqual(wd.wait_exit(proc, 30), 0)
            self.assertEqual(wd.read_bytes(os.path.join(folder, "Vorlane.exe")), wd.read_bytes(wd.NEXT_BOT))
            self.assertEqual(wd.read_bytes(os.path.join(folder, "data", "items.txt")), data)
            self.assertTrue(wd.wait_for(lambda: wd.read_runs(folder), 20), "the bot was not started")
            self.assertIn(" 2.6.0.1 ", wd.read_runs(folder)[0])
            if keeps_no_record:
                self.assertNotIn("VorlanePatcher.serial", os.listdir(folder))
            with open(os.path.join(folder, "Vorlane.stop"), "w"):
                pass

    def test_the_updater_before_serials_takes_a_manifest_with_them(self):
        self.take_release_with("VORLANE_OLDER_UPDATER", RECORDS, "older_updater", keeps_no_record=True)

    def test_the_updater_before_rollout_and_mirrors_takes_a_manifest_with_them(self):
        # A share of 0.1 % that it does not know: such an updater installs every release.
        self.take_release_with("VORLANE_BEFORE_ROLLOUT_UPDATER", ROLLOUT_RECORDS, "before_rollout")


if __name__ == "__main__":
    for variable, commit in OLDER_UPDATERS.items():
        if not os.environ.get("VORLANE_SERVER_STATE") and not os.environ.get(variable):
            exe, why = build_older_updater(commit)
            if exe:
                os.environ[variable] = exe
            else:
                print("updater of %s skipped: %s" % (commit, why))
                os.environ[variable + "_MISSING"] = why
    rc = wd.run_with_server([os.path.abspath(__file__)] + sys.argv[1:], "release_serial")
    if rc is not False:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
