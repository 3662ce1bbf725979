"""Serial and expiry records with the real programs under Wine, against the local update server.

- The updater of the last commit before these records existed (built here from that commit
  with `git archive` and this build's key and server address) updates from a manifest that
  carries them exactly as from one without: its parser skips records it does not know.
  Skipped, with the reason, when the clone lacks that commit (a shallow clone, an export).
- Today's updater takes the same manifest and records its serial beside itself; a server that
  then replays the release before it (signed, with its lower serial) is refused in the window,
  and no file of the installation changes.
"""
import hashlib
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_driver as wd  # noqa: E402

OLDER_COMMIT = "dbbf5ea"
RECORDS = "serial=1800000000\nexpires=2099-01-01T00:00:00Z\n"


def build_older_updater():
    """VorlanePatcher.exe of OLDER_COMMIT, built once into the build tree. (path, None) or
    (None, why it cannot be had)."""
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
            configure.append("-D%s=%s" % (name, os.environ[name]))
    subprocess.run(configure, check=True, capture_output=True, timeout=300)
    subprocess.run(["cmake", "--build", os.path.join(work, "build"), "-j2", "--target", "VorlanePatcher"],
                   check=True, capture_output=True, timeout=900)
    return exe, None


def tree(folder):
    """Relative name -> SHA-256 of every file below `folder`."""
    found = {}
    for top, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(top, name)
            found[os.path.relpath(path, folder).replace(os.sep, "/")] = hashlib.sha256(wd.read_bytes(path)).hexdigest()
    return found


class ReleaseSerialTest(unittest.TestCase):
    def release(self):
        data = bytes(range(256)) * 300
        return (wd.Release("2.6.0.1").add("Vorlane.exe", wd.read_bytes(wd.NEXT_BOT)).add("data/items.txt", data),
                data)

    def update(self, session, folder, phase, shot):
        """One start: with --auto to a finished update (the window closes by itself), or by
        hand to a failure, closed with Escape."""
        args = ["--auto"] if phase == wd.FINISHED else []
        proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), *args, timeout=120)
        window = session.find_window()
        self.assertIsNotNone(window, "no window")
        self.assertEqual(session.wait_phase(window, phase, 60, save_as=shot), phase)
        if phase == wd.FAILED:
            session.key(window, "Escape")
        self.assertTrue(session.wait_gone(30))
        self.assertEqual(wd.wait_exit(proc, 30), 0)

    def expect_updated(self, folder, data):
        self.assertEqual(wd.read_bytes(os.path.join(folder, "Vorlane.exe")), wd.read_bytes(wd.NEXT_BOT))
        self.assertEqual(wd.read_bytes(os.path.join(folder, "data", "items.txt")), data)
        self.assertTrue(wd.wait_for(lambda: wd.read_runs(folder), 20), "the bot was not started")
        self.assertIn(" 2.6.0.1 ", wd.read_runs(folder)[0])
        with open(os.path.join(folder, "Vorlane.stop"), "w"):
            pass

    def test_the_updater_before_serials_takes_a_manifest_with_them(self):
        older = os.environ.get("VORLANE_OLDER_UPDATER", "")
        if not older:
            self.skipTest(os.environ.get("VORLANE_OLDER_UPDATER_MISSING", "no older updater"))
        with wd.Session("older_updater") as session:
            release, data = self.release()
            release.publish(records=RECORDS)
            folder = session.install("install", patcher=older)
            self.update(session, folder, wd.FINISHED, "older_updated")
            self.expect_updated(folder, data)
            self.assertNotIn("VorlanePatcher.serial", os.listdir(folder))

    def test_a_replayed_older_manifest_is_refused(self):
        with wd.Session("serial_replay") as session:
            release, data = self.release()
            release.publish(records=RECORDS)
            folder = session.install("install")
            self.update(session, folder, wd.FINISHED, "serial_taken")
            self.expect_updated(folder, data)
            self.assertTrue(wd.wait_for(lambda: len(wd.read_runs(folder)) >= 2, 30), "the bot did not stop")
            os.remove(os.path.join(folder, "Vorlane.stop"))
            self.assertEqual(wd.read_bytes(os.path.join(folder, "VorlanePatcher.serial")), b"1800000000 1800000000\n")
            before = tree(folder)
            # The release before, its files still on the server, signed with a lower serial.
            older = wd.Release("2.5.17.3").add("Vorlane.exe", wd.read_bytes(wd.BOT)).add("data/items.txt", b"old\n")
            older.publish(records="serial=1700000000\n")
            self.update(session, folder, wd.FAILED, "serial_replay_refused")
            self.assertEqual(tree(folder), before)
            self.assertEqual(older.requests("/download/"), [])


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
