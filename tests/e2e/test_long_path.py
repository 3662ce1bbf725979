"""The updater finds its own folder however long its path is. Its folder here lies past
byte 260 of the Windows path, and the folder a 260-byte cut would name holds another bot
(2.6.0.1). The version line must show the bot beside the updater (2.5.17), exactly as a
short installation does, and not the other one."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_driver as wd  # noqa: E402

VERSION_LINE = (34, 68, 588, 90)


class LongPathTest(unittest.TestCase):
    def version_line(self, session, folder, name):
        """The pixels of the version line once the pass has failed (no server here)."""
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


if __name__ == "__main__":
    rc = wd.run_isolated(os.path.abspath(__file__))
    if rc is not False:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
