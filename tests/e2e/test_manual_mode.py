"""Manual mode against a local update server, the real window driven with xdotool.

An offered update is confirmed with Enter; while files are replaced, Escape, "ZAMKNIJ",
the close glyph and Alt+F4 (WM_CLOSE) leave the window open; the update ends in Updated
and "URUCHOM VORLANE" starts the new bot and ends the process with code 0. With the bot
running, "AKTUALIZUJ" and Enter do nothing until the bot has exited; then the same press
installs. Two Enter presses queued back to back on "SPROBUJ PONOWNIE" start one pass, and
its update can then be confirmed."""
import os
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_driver as wd  # noqa: E402

NEW_VERSION = "2.6.0.1"
# Sent slowly (4 KiB every 250 ms, about 16 s), so the window stays in Downloading while
# every close path is tried.
BIG = bytes((i * 7 + i // 251) & 0xFF for i in range(256 * 1024))


def release_with_new_bot(slow=False):
    release = wd.Release(NEW_VERSION).add("Vorlane.exe", wd.read_bytes(wd.NEXT_BOT))
    release.add("data/big.bin", BIG)
    # The manifest comes 2.5 s late, so that the window is seen checking.
    rules = ["/download/%s/data/big.bin trickle=4096:250" % NEW_VERSION,
             wd.MANIFEST_PATH + " delay=2500"] if slow else []
    return release.publish(*rules)


class ManualModeTest(unittest.TestCase):
    def test_confirm_refuse_close_while_downloading_then_launch(self):
        with wd.Session("manual_update") as session:
            release = release_with_new_bot(slow=True)
            folder = session.install("install")
            proc = session.start(os.path.join(folder, "VorlanePatcher.exe"))
            window = session.find_window()
            self.assertIsNotNone(window)
            self.assertEqual(session.wait_phase(window, wd.CHECKING, 10, save_as="0_checking"), wd.CHECKING)
            session.key(window, "Return")  # nothing to confirm yet
            self.assertEqual(session.wait_phase(window, wd.OFFERED, 30, save_as="1_update_available"), wd.OFFERED)
            self.assertEqual(release.requests("/download/"), [], "downloads before the confirmation")

            session.key(window, "Return")
            self.assertEqual(session.wait_phase(window, wd.DOWNLOADING, 15, save_as="2_downloading"), wd.DOWNLOADING)
            refused = [
                ("escape", lambda: session.key(window, "Escape"), 1.0),
                ("close_button", lambda: session.click(window, wd.CLOSE_BUTTON), 1.0),
                ("close_glyph", lambda: session.click(window, wd.CLOSE_GLYPH), 1.0),
                # Alt+F4 reaches the window as WM_CLOSE, a little later than a key.
                ("alt_f4", lambda: session.key(window, "alt+F4"), 2.5),
            ]
            for name, close, settle in refused:
                close()
                time.sleep(settle)
                self.assertTrue(session.window_exists(), name + " closed the window while downloading")
                self.assertEqual(session.phase(window), wd.DOWNLOADING, name)
            self.assertIsNone(wd.wait_exit(proc, 0), "the program ended while downloading")

            self.assertEqual(session.wait_phase(window, wd.FINISHED, 60, save_as="3_updated"), wd.FINISHED)
            self.assertEqual(wd.read_bytes(os.path.join(folder, "Vorlane.exe")), wd.read_bytes(wd.NEXT_BOT))
            self.assertEqual(wd.read_bytes(os.path.join(folder, "data", "big.bin")), BIG)

            session.click(window, wd.MAIN_BUTTON)  # "URUCHOM VORLANE"
            self.assertTrue(session.wait_gone(10))
            self.assertEqual(wd.wait_exit(proc, 15), 0)
            self.assertTrue(wd.wait_for(lambda: any(" %s " % NEW_VERSION in line for line in wd.read_runs(folder)), 20),
                            "the new bot was not started: %s" % wd.read_runs(folder))

    def test_update_waits_for_the_running_bot(self):
        with wd.Session("manual_bot_running") as session:
            release = release_with_new_bot()
            folder = session.install("install")
            bot = session.start(os.path.join(folder, "Vorlane.exe"))
            self.assertTrue(wd.wait_for(lambda: wd.read_runs(folder), 20), "the bot did not start")
            proc = session.start(os.path.join(folder, "VorlanePatcher.exe"))
            window = session.find_window()
            self.assertIsNotNone(window)
            self.assertEqual(session.wait_phase(window, wd.OFFERED_BOT_RUNNING, 30, save_as="1_bot_running"),
                             wd.OFFERED_BOT_RUNNING)

            session.click(window, wd.MAIN_BUTTON)  # "AKTUALIZUJ", drawn disabled
            session.key(window, "Return")
            time.sleep(1.5)
            self.assertEqual(session.phase(window), wd.OFFERED_BOT_RUNNING)
            self.assertEqual(release.requests("/download/"), [], "a download started while the bot ran")

            with open(os.path.join(folder, "Vorlane.stop"), "w"):
                pass
            self.assertEqual(wd.wait_exit(bot, 15), 0, "the bot did not stop")
            os.remove(os.path.join(folder, "Vorlane.stop"))
            self.assertEqual(session.wait_phase(window, wd.OFFERED, 10, save_as="2_bot_closed"), wd.OFFERED)
            time.sleep(1.0)
            self.assertEqual(release.requests("/download/"), [], "the download started without a press")

            session.click(window, wd.MAIN_BUTTON)
            self.assertEqual(session.wait_phase(window, wd.FINISHED, 60, save_as="3_updated"), wd.FINISHED)
            self.assertEqual(wd.read_bytes(os.path.join(folder, "Vorlane.exe")), wd.read_bytes(wd.NEXT_BOT))
            self.assertEqual(sorted(release.requests("/download/")),
                             ["/download/%s/Vorlane.exe" % NEW_VERSION, "/download/%s/data/big.bin" % NEW_VERSION])
            session.click(window, wd.CLOSE_BUTTON)
            self.assertTrue(session.wait_gone(10))
            self.assertEqual(wd.wait_exit(proc, 15), 0)

    def test_two_queued_retry_presses_start_one_pass(self):
        with wd.Session("manual_double_retry") as session:
            release = wd.Release(NEW_VERSION).add("Vorlane.exe", wd.read_bytes(wd.NEXT_BOT)).publish("* status=500")
            folder = session.install("install")
            proc = session.start(os.path.join(folder, "VorlanePatcher.exe"))
            window = session.find_window()
            self.assertIsNotNone(window)
            self.assertEqual(session.wait_phase(window, wd.FAILED, 30, save_as="1_failed"), wd.FAILED)
            release.publish()  # the server mended: the retry finds an update

            # Both presses are queued while the program is stopped, so the window thread
            # handles them one right after the other, before the new pass has begun.
            program = wd.wine_process(proc)
            self.assertIsNotNone(program, "the program's Wine process was not found")
            os.kill(program, signal.SIGSTOP)
            try:
                session.xdotool("key", "--window", window, "Return", "Return")
                time.sleep(0.3)
            finally:
                os.kill(program, signal.SIGCONT)
            self.assertEqual(session.wait_phase(window, wd.OFFERED, 30, save_as="2_update_available"), wd.OFFERED)
            self.assertEqual(len(release.requests("/vlr/")), 2, "one failed pass and one retry")

            session.key(window, "Return")  # the confirmation still reaches the window
            self.assertEqual(session.wait_phase(window, wd.FINISHED, 60, save_as="3_updated"), wd.FINISHED)
            self.assertEqual(wd.read_bytes(os.path.join(folder, "Vorlane.exe")), wd.read_bytes(wd.NEXT_BOT))
            session.key(window, "Escape")
            self.assertTrue(session.wait_gone(10))
            self.assertEqual(wd.wait_exit(proc, 15), 0)


if __name__ == "__main__":
    # Arguments (test names) are handed on to the run inside the server's namespace.
    rc = wd.run_with_server([os.path.abspath(__file__)] + sys.argv[1:], "manual_mode")
    if rc is not False:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
