"""The updater finds its own folder however long its path is. Its folder here lies past
byte 260 of the Windows path, and the folder a 260-byte cut would name holds another bot
(2.6.0.1). The version line must show the bot beside the updater (2.5.17), exactly as a
short installation does, and not the other one. An installation deeper than 260 characters
is updated like any other."""
import os
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

    def test_deep_installation_is_updated_and_its_running_bot_ended(self):
        """A ~330-byte folder in auto mode: the running bot is ended after the two minutes of
        patience, every file (one in a sub-folder) is installed and no temporary file stays.
        The new bot is then started through the 8.3 form of its path. Wine 8 does not take
        that reliably (its CreateProcessW makes the image path long again into a MAX_PATH
        buffer), so whether the bot started is printed, not required; the updater ends with 0."""
        with wd.Session("long_path_update") as session:
            data, nested = b"f" * 70000, bytes(range(256)) * 300
            wd.Release("2.6.0.1").add("Vorlane.exe", wd.read_bytes(wd.NEXT_BOT)).add("f.dat", data).add(
                "sub/g.dat", nested).publish()
            folder = session.work
            while len(wd.windows_path(folder)) < 330:
                folder = os.path.join(folder, "v" * min(120, 330 - len(wd.windows_path(folder))))
            session.install(folder)
            self.assertGreaterEqual(len(wd.windows_path(os.path.join(folder, "sub", "g.dat.download"))), 345)

            bot = session.start(os.path.join(folder, "Vorlane.exe"))
            self.assertTrue(wd.wait_for(lambda: wd.read_runs(folder), 30), "the bot did not start")
            proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), "--auto", timeout=300)
            window = session.find_window()
            self.assertIsNotNone(window)
            self.assertEqual(session.wait_phase(window, wd.OFFERED_BOT_RUNNING, 30, save_as="deep_bot_running"),
                             wd.OFFERED_BOT_RUNNING)
            # Ended, not stopped: a bot that stops by itself logs "stop <pid>".
            self.assertIsNotNone(wd.wait_exit(bot, 150), "the bot was not ended after the patience")
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
            started = wd.wait_for(lambda: any(" 2.6.0.1 " in line for line in wd.read_runs(folder)), 10)
            print("the new bot in the %d-byte folder %s" % (len(wd.windows_path(folder)),
                                                        "started" if started else "did not start under Wine"))
            with open(os.path.join(folder, "Vorlane.stop"), "w"):
                pass

if __name__ == "__main__":
    # Arguments (test names) are handed on to the run inside the server's namespace.
    rc = wd.run_with_server([os.path.abspath(__file__)] + sys.argv[1:], "long_path")
    if rc is not False:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
