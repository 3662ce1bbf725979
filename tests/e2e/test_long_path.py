"""The updater finds its own folder however long its path is. Its folder here lies past
byte 260 of the Windows path, and the folder a 260-byte cut would name holds another bot
(2.6.0.1). The version line must show the bot beside the updater (2.5.17), exactly as a
short installation does, and not the other one. An installation deeper than 260 characters
is updated like any other."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_driver as wd  # noqa: E402

VERSION_LINE = (34, 68, 588, 90)


class LongPathTest(unittest.TestCase):
    def version_line(self, session, folder, name):
        """The pixels of the version line once the pass has failed (the server has no release)."""
        proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), timeout=60)
        window = session.find_window()
        self.assertIsNotNone(window, name)
        self.assertEqual(session.wait_phase(window, wd.FAILED, 30, save_as=name), wd.FAILED)
        pixels = session.shot(window).region(VERSION_LINE)
        session.key(window, "Escape")
        self.assertEqual(wd.wait_exit(proc, 15), 0)
        return pixels

    def test_install_dir_is_the_executables_own_folder(self):
        with wd.Session("long_path") as session:
            wd.Release("0").publish("* status=404")  # no release: every pass fails
            short = self.version_line(session, session.install("short"), "short_path")
            # A parent folder with the other bot, and below it a folder whose name crosses
            # byte 260 of the Windows path.
            filler = 230 - len(wd.windows_path(session.work)) - 1
            self.assertGreater(filler, 0, "the scratch folder's path is too long for this test")
            parent = os.path.join(session.work, "p" * filler)
            session.install(parent, bot=wd.NEXT_BOT)
            deep = os.path.join(parent, "Vorlane-" + "r" * 60)
            session.install(deep)
            exe = wd.windows_path(os.path.join(deep, "VorlanePatcher.exe"))
            folder_starts = len(wd.windows_path(parent)) + 1
            self.assertLess(folder_starts, 259, "the cut must fall inside the last folder name")
            self.assertGreater(len(exe) - len("VorlanePatcher.exe"), 260)

            other = self.version_line(session, parent, "cut_folder_other_bot")
            self.assertNotEqual(other, short, "the two bots must show different version lines")
            long = self.version_line(session, deep, "long_path")
            self.assertEqual(long, short, "the long installation read another folder's bot")

    def short_form(self, session, path):
        """The 8.3 form of a folder as Wine names it, found one folder at a time (`dir /x`
        of the part already made short, so that no call is given a path past MAX_PATH)."""
        parts = os.path.abspath(path).strip("/").split("/")
        short = "Z:"
        for part in parts:
            listing = subprocess.run([wd.WINE, "cmd", "/c", "dir", "/x", short + "\\"], env=session.env,
                                     capture_output=True, text=True, timeout=60).stdout
            names = {}
            for line in listing.splitlines():
                words = line.split()
                if "<DIR>" in words:
                    rest = words[words.index("<DIR>") + 1:]
                    names[rest[-1].lower()] = rest[0]
            self.assertIn(part.lower(), names, "no folder %s in %s" % (part, short))
            short += "\\" + names[part.lower()]
        return short

    def test_deep_installation_is_updated_and_its_running_bot_ended(self):
        """A ~330-byte folder in auto mode, reached through its long form and its 8.3 form
        alike (a bot started through the 8.3 form starts the updater so): each form names one
        folder, with one lock, one window and one bot. The updater started through the 8.3
        form holds the folder; an "--auto" start through the long form hands its run over and
        leaves. Both running bots, one started through each form, are ended after the two
        minutes of patience; every file (one in a sub-folder) is installed, no temporary file
        stays, and the new bot is started through the 8.3 form of its path."""
        with wd.Session("long_path_update") as session:
            data, nested = b"f" * 70000, bytes(range(256)) * 300
            wd.Release("2.6.0.1").add("Vorlane.exe", wd.read_bytes(wd.NEXT_BOT)).add("f.dat", data).add(
                "sub/g.dat", nested).publish()
            folder = session.work
            while len(wd.windows_path(folder)) < 330:
                folder = os.path.join(folder, "v" * min(120, 330 - len(wd.windows_path(folder))))
            session.install(folder)
            self.assertGreaterEqual(len(wd.windows_path(os.path.join(folder, "sub", "g.dat.download"))), 345)
            short = self.short_form(session, folder)
            self.assertLess(len(short), 200, short)

            bots = [session.start(os.path.join(folder, "Vorlane.exe")), session.start(short + "\\Vorlane.exe")]
            self.assertTrue(wd.wait_for(lambda: len(wd.read_runs(folder)) == 2, 30),
                            "the bots did not start: %s" % wd.read_runs(folder))
            proc = session.start(short + "\\VorlanePatcher.exe", timeout=300)
            window = session.find_window()
            self.assertIsNotNone(window)
            self.assertEqual(session.wait_phase(window, wd.OFFERED_BOT_RUNNING, 30, save_as="deep_bot_running"),
                             wd.OFFERED_BOT_RUNNING)
            second = session.start(os.path.join(folder, "VorlanePatcher.exe"), "--auto")
            self.assertEqual(wd.wait_exit(second, 30), 0, "the long form's updater did not find the short form's")
            self.assertEqual(len(session.search()), 1, "two updaters' windows in one folder")
            # Ended, not stopped: a bot that stops by itself logs "stop <pid>".
            for bot in bots:
                self.assertIsNotNone(wd.wait_exit(bot, 150), "a bot was not ended after the patience")
            self.assertEqual([line for line in wd.read_runs(folder) if line.startswith("stop ")], [])
            self.assertEqual(session.wait_phase(window, wd.FINISHED, 30, save_as="deep_updated"), wd.FINISHED,
                             sorted(os.listdir(folder)))
            self.assertTrue(session.wait_gone(30), "the updater did not close")
            self.assertEqual(wd.wait_exit(proc, 15), 0)
            self.assertEqual(wd.read_bytes(os.path.join(folder, "Vorlane.exe")), wd.read_bytes(wd.NEXT_BOT))
            self.assertEqual(wd.read_bytes(os.path.join(folder, "f.dat")), data)
            self.assertEqual(wd.read_bytes(os.path.join(folder, "sub", "g.dat")), nested)
            left = [name for _, _, names in os.walk(folder) for name in names if name.endswith(".download")]
            self.assertEqual(left, [])
            self.assertTrue(wd.wait_for(lambda: any(" 2.6.0.1 " in line for line in wd.read_runs(folder)), 20),
                            "the new bot did not start: %s" % wd.read_runs(folder))
            with open(os.path.join(folder, "Vorlane.stop"), "w"):
                pass

if __name__ == "__main__":
    # Arguments (test names) are handed on to the run inside the server's namespace.
    rc = wd.run_with_server([os.path.abspath(__file__)] + sys.argv[1:], "long_path")
    if rc is not False:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
