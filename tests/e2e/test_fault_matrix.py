"""The fault matrix with the real VorlanePatcher.exe under Wine, against the local update
server of tests/netns/with-update-server.sh (this script runs itself again inside it).

- Representative failures by hand (no "--auto"): a missing manifest, a manifest signed by
  another key and a cut file each leave the window in Failed (read from the main button's
  colour) and the folder with whole files only, besides what the cut file kept for a resume;
  "SPROBUJ PONOWNIE" against the mended server then completes the update, asking only for
  the rest of the cut file, though the manifest (sorted as the publisher's tool writes it)
  lists the updater's own entry before it on every pass.
- The updater killed (SIGKILL of its Linux process, as a crash or "End task" would end it)
  at three points of Downloading in "--auto" runs against a trickling server: in the middle
  of the first file, in the middle of a later file, and in the middle of its own new copy.
  Each kill leaves only whole files plus the one partial ".download" file of the file it was
  fetching; the next run replaces that file, and a run against the healthy server completes
  with no temporary file left.
The installation folder is checked from the Linux side after every step. Every wait is bounded.
"""
import hashlib
import os
import signal
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_driver as wd  # noqa: E402

VERSION = "2.6.0.1"
MANIFEST_PATH = "/" + wd.Release.MANIFEST
TRICKLE = "trickle=32768:40"  # about 800 KB/s: a few seconds per large file


def pattern(seed, size):
    block = hashlib.sha256(b"%d" % seed).digest() * 2048  # 64 KiB
    return (block * (size // len(block) + 1))[:size]


def download_path(name):
    return "/download/%s/%s" % (VERSION, name.replace(" ", "%20"))


class Installation:
    """The old installation and the new release, in manifest order."""

    def __init__(self):
        patcher = wd.read_bytes(wd.PATCHER)
        # A newer updater: the same program with data appended (still a valid image).
        self.new = {
            "data/big1.bin": pattern(1, 4 << 20),
            "Vorlane.exe": wd.read_bytes(wd.NEXT_BOT),
            "data/big 2.bin": pattern(2, 3 << 20),
            "readme.txt": b"Nowa wersja\n",
            "VorlanePatcher.exe": patcher + pattern(3, 600000),
        }
        self.old = {
            "data/big1.bin": pattern(4, 1 << 20),
            "Vorlane.exe": wd.read_bytes(wd.BOT),
            "VorlanePatcher.exe": patcher,
        }

    def manifest(self, names=None):
        """The manifest with the entries in the order of `names` (default: as listed above)."""
        lines = ["VLR1", "version=" + VERSION, "notes=Poprawki"]
        for name in names or self.new:
            content = self.new[name]
            lines.append("file=%s|%d|%s|0" % (name, len(content), hashlib.sha256(content).hexdigest()))
        return "\n".join(lines) + "\n"

    def lay_out(self, folder):
        for name, content in self.old.items():
            path = os.path.join(folder, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content)


class FaultMatrixExeTest(unittest.TestCase):
    def setUp(self):
        self.server = wd.update_server.State(os.environ["VORLANE_SERVER_STATE"], os.environ["VORLANE_SERVER_ROOT"])
        self.release = Installation()
        for name, content in self.release.new.items():
            self.server.serve(download_path(name).replace("%20", " "), content)
        self.server.serve(MANIFEST_PATH, self.release.manifest())
        self.healthy()
        self.server.clear_requests()

    def healthy(self, *extra):
        self.server.set_rules(*extra, MANIFEST_PATH + " sign=dev")

    def files(self, folder):
        """Relative name -> content of every file below `folder` but the updater's log."""
        found = {}
        for top, _, names in os.walk(folder):
            for name in names:
                if top == folder and name in wd.UPDATER_LOGS:
                    continue
                path = os.path.join(top, name)
                found[os.path.relpath(path, folder).replace(os.sep, "/")] = wd.read_bytes(path)
        return found

    def assert_whole(self, folder, updated, partial=None, extra=()):
        """Only whole files: `updated` with their new content, the rest of the old
        installation as it was; besides them at most the one `partial` temporary file (a
        strict prefix of its file's new content) and the `extra` names (the bot's own)."""
        found = self.files(folder)
        expected = {name: self.release.old[name] for name in self.release.old}
        for name in updated:
            expected[name] = self.release.new[name]
        for name, content in found.items():
            if name in extra:
                continue
            if partial and name == partial[1]:
                new = self.release.new[partial[0]]
                self.assertLess(len(content), len(new), name + " is no partial file")
                self.assertEqual(content, new[: len(content)], name + " holds other bytes")
                continue
            self.assertIn(name, expected, "unexpected file " + name)
            self.assertTrue(content == expected[name],
                            "%s: %d bytes, not the whole %d expected" % (name, len(content), len(expected[name])))
        for name in expected:
            self.assertIn(name, found, name + " is missing")
        if partial:
            self.assertIn(partial[1], found, "no temporary file: the kill missed Downloading")

    def manifest_requests(self):
        return sum(1 for r in self.server.requests() if r["path"] == MANIFEST_PATH)

    def downloads(self):
        return [r["path"] for r in self.server.requests() if r["path"].startswith("/download/")]

    def test_failures_show_failed_and_the_retry_completes(self):
        # Sorted by bytes, as vorlane-release writes it: the updater's own entry comes before
        # the lower-case names and, as the running updater is never replaced, on every pass.
        self.server.serve(MANIFEST_PATH, self.release.manifest(sorted(self.release.new)))
        with wd.Session("fault_matrix_by_hand") as session:
            folder = session.install("install", bot=None)
            self.release.lay_out(folder)
            self.server.set_rules(MANIFEST_PATH + " status=404")
            proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), timeout=240)
            window = session.find_window()
            self.assertIsNotNone(window)
            self.assertEqual(session.wait_phase(window, wd.FAILED, 30, save_as="manifest_404"), wd.FAILED)
            self.assert_whole(folder, [])

            def retry(rules, count):
                self.server.set_rules(*rules)
                session.click(window, wd.MAIN_BUTTON)  # "SPROBUJ PONOWNIE"
                # The new pass has asked for the manifest: the Failed seen next is its own.
                self.assertTrue(wd.wait_for(lambda: self.manifest_requests() >= count, 30), "no new pass")

            retry([MANIFEST_PATH + " sign=other"], 2)
            self.assertEqual(session.wait_phase(window, wd.FAILED, 30, save_as="manifest_other_key"), wd.FAILED)
            self.assert_whole(folder, [])
            self.assertEqual(self.downloads(), [])

            # A file cut in the middle of its body (under Wine the cut reads as the end of the
            # body, shorter than the manifest's size): its bytes are kept for the retry, which
            # fetches the updater's copy first.
            cut = download_path("data/big 2.bin")
            retry([cut + " cut=100000", MANIFEST_PATH + " sign=dev"], 3)
            self.assertEqual(session.wait_phase(window, wd.OFFERED, 30, save_as="offered"), wd.OFFERED)
            session.click(window, wd.MAIN_BUTTON)  # "AKTUALIZUJ"
            self.assertEqual(session.wait_phase(window, wd.FAILED, 60, save_as="file_cut"), wd.FAILED)
            self.assert_whole(folder, ["Vorlane.exe"],
                              partial=("data/big 2.bin", "data/big 2.bin.download"),
                              extra=("VorlanePatcher.partial", "VorlanePatcher.new.exe"))
            self.assertTrue(wd.wait_for(lambda: self.server.sent_bytes(cut) >= 100000, 10))
            served = self.server.sent_bytes(cut)

            self.server.clear_requests()
            retry([MANIFEST_PATH + " sign=dev"], 1)
            self.assertEqual(session.wait_phase(window, wd.OFFERED, 30), wd.OFFERED)
            session.click(window, wd.MAIN_BUTTON)
            self.assertEqual(session.wait_phase(window, wd.FINISHED, 60, save_as="updated"), wd.FINISHED)
            self.assertIsNone(wd.wait_exit(proc, 0.5), "the window closed by itself without --auto")
            session.key(window, "Escape")
            self.assertEqual(wd.wait_exit(proc, 15), 0)
            resumed = [r for r in self.server.requests() if r["path"] == cut]
            self.assertEqual(len(resumed), 1)
            self.assertIn("Range: bytes=100000-", resumed[0]["headers"])
            self.assertTrue(wd.wait_for(lambda: self.server.sent_bytes(cut) > 0, 10))
            served += self.server.sent_bytes(cut)
            size = len(self.release.new["data/big 2.bin"])
            self.assertLessEqual(served, size + size // 20, "the cut file was served %d bytes for %d" % (served, size))
            # The running updater is never replaced: its new copy waits beside it for the bot.
            found = self.files(folder)
            self.assertEqual(found.pop("VorlanePatcher.new.exe"), self.release.new["VorlanePatcher.exe"])
            self.assertEqual(found.pop("VorlanePatcher.exe"), self.release.old["VorlanePatcher.exe"])
            for name in ("data/big1.bin", "Vorlane.exe", "data/big 2.bin", "readme.txt"):
                self.assertTrue(found.pop(name) == self.release.new[name], name)
            self.assertEqual(found, {}, "files left besides the release")

    def kill_at(self, session, folder, name, temporary, at_least):
        """Starts an "--auto" run and kills it once `temporary` holds `at_least` bytes."""
        proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), "--auto", timeout=240)
        window = session.find_window()
        self.assertIsNotNone(window)
        self.assertEqual(session.wait_phase(window, wd.DOWNLOADING, 60), wd.DOWNLOADING)
        path = os.path.join(folder, temporary)
        size = lambda: os.path.getsize(path) if os.path.exists(path) else -1  # noqa: E731
        self.assertTrue(wd.wait_for(lambda: size() >= at_least, 60, interval=0.02),
                        "%s reached only %d bytes" % (temporary, size()))
        session.shot(window, "killed_in_" + name.replace("/", "_").replace(" ", "_"))
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait(timeout=10)
        self.assertTrue(session.wait_gone(10), "the window outlived its process")
        held = size()
        self.assertLess(held, len(self.release.new[name]), "the kill came after the whole file")
        return held

    def test_killed_during_downloading_the_next_runs_complete(self):
        with wd.Session("fault_matrix_killed") as session:
            folder = session.install("install", bot=None)
            self.release.lay_out(folder)
            slow = [download_path(n) + " " + TRICKLE for n in ("data/big1.bin", "data/big 2.bin",
                                                               "VorlanePatcher.exe")]
            self.healthy(*slow)

            # 1: in the middle of the first file; nothing replaced yet.
            self.kill_at(session, folder, "data/big1.bin", "data/big1.bin.download", 256 << 10)
            self.assert_whole(folder, [], partial=("data/big1.bin", "data/big1.bin.download"))

            # 2: the next run fetches the first file again over its partial copy and is killed
            # in the middle of the third; the bot is in place, the first temporary file gone.
            self.kill_at(session, folder, "data/big 2.bin", "data/big 2.bin.download", 1 << 20)
            self.assert_whole(folder, ["data/big1.bin", "Vorlane.exe"],
                              partial=("data/big 2.bin", "data/big 2.bin.download"))

            # 3: in the middle of the updater's own new copy, the last file.
            self.kill_at(session, folder, "VorlanePatcher.exe", "VorlanePatcher.new.exe.download", 512 << 10)
            self.assert_whole(folder, ["data/big1.bin", "Vorlane.exe", "data/big 2.bin", "readme.txt"],
                              partial=("VorlanePatcher.exe", "VorlanePatcher.new.exe.download"))

            # 4: healthy server. Only the updater's copy is fetched, over its partial file; the
            # run ends in Updated, starts the bot and closes; the bot swaps the new updater in.
            self.healthy()
            self.server.clear_requests()
            proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), "--auto", timeout=120)
            window = session.find_window()
            self.assertIsNotNone(window)
            self.assertEqual(session.wait_phase(window, wd.FINISHED, 60, save_as="completed"), wd.FINISHED)
            self.assertEqual(wd.wait_exit(proc, 30), 0)
            self.assertEqual(self.downloads(), [download_path("VorlanePatcher.exe")])
            self.assertTrue(wd.wait_for(lambda: any(" swapped" in l for l in wd.read_runs(folder)), 30),
                            wd.read_runs(folder))
            self.assertIn(" " + VERSION + " swapped", wd.read_runs(folder)[-1])
            with open(os.path.join(folder, "Vorlane.stop"), "w"):
                pass
            self.assertTrue(wd.wait_for(lambda: wd.read_runs(folder)[-1].startswith("stop "), 20))
            self.release.old["VorlanePatcher.exe"] = self.release.new["VorlanePatcher.exe"]  # swapped in
            self.assert_whole(folder, list(self.release.new), extra=("Vorlane.runs", "Vorlane.stop"))


if __name__ == "__main__":
    rc = wd.run_with_server(os.path.abspath(__file__), "fault_matrix")
    if rc is not False:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
