"""Auto mode ("--auto") against a local update server: an up-to-date installation starts the
bot and closes about 1.5 s after the window shows UpToDate; a server that keeps failing is
asked again every 15 s, and after the fifth failure the bot is started anyway and the window
closes (about 75 s of real time). Two updaters started together in one folder make one pass
and start one bot: the second leaves at once with 0. An "--auto" start beside a window left
open hands its run to that window, which then finishes unattended and starts the bot once."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_driver as wd  # noqa: E402

MANIFEST_PATH = "/" + wd.Release.MANIFEST


class AutoModeTest(unittest.TestCase):
    def test_up_to_date_launches_the_bot_and_closes(self):
        with wd.Session("auto_up_to_date") as session:
            wd.Release("2.5.17.3").add("Vorlane.exe", wd.read_bytes(wd.BOT)).publish()
            folder = session.install("install")
            proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), "--auto")
            window = session.find_window()
            self.assertIsNotNone(window)
            self.assertEqual(session.wait_phase(window, wd.FINISHED, 30, save_as="up_to_date"), wd.FINISHED)
            seen = time.monotonic()
            self.assertTrue(session.wait_gone(10))
            shown = time.monotonic() - seen
            # Seen a frame or a screenshot late; the window closes once the bot's launch
            # (ShellExecuteA, a second or two under Wine on a busy machine) has returned.
            print("closed %.1f s after UpToDate was seen" % shown)
            self.assertGreater(shown, 1.0)
            self.assertLess(shown, 6.0)
            self.assertEqual(wd.wait_exit(proc, 15), 0)
            self.assertTrue(wd.wait_for(lambda: wd.read_runs(folder), 20), "the bot was not started")
            self.assertIn(" 2.5.17.3 ", wd.read_runs(folder)[0])

    def test_failing_server_is_retried_four_times_then_the_bot_starts(self):
        with wd.Session("auto_failing") as session:
            release = wd.Release("2.6.0.1").add("Vorlane.exe", wd.read_bytes(wd.NEXT_BOT))
            release.publish("* status=500")
            folder = session.install("install")
            proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), "--auto", timeout=200)
            window = session.find_window()
            self.assertIsNotNone(window)

            # When each manifest request arrives, until the window closes (about 75 s); the
            # failed window is photographed after the first and the second request.
            arrivals = []
            deadline = time.monotonic() + 120
            while session.window_exists() and time.monotonic() < deadline:
                count = len(release.requests(MANIFEST_PATH))
                while len(arrivals) < count:
                    arrivals.append(time.monotonic())
                    name = {1: "failed", 2: "failed_again"}.get(len(arrivals))
                    if name:
                        self.assertEqual(session.wait_phase(window, wd.FAILED, 5, save_as=name), wd.FAILED)
                time.sleep(0.1)
            closed = time.monotonic()
            self.assertFalse(session.window_exists(), "the window stayed open")
            self.assertEqual(len(release.requests(MANIFEST_PATH)), 5, "one pass and four retries")
            gaps = [b - a for a, b in zip(arrivals, arrivals[1:])]
            for gap in gaps:
                self.assertGreater(gap, 14.5, "retries %s" % gaps)
                self.assertLess(gap, 17.0, "retries %s" % gaps)
            # The bot is started (ShellExecuteA, a second or two under Wine) before the window closes.
            self.assertGreater(closed - arrivals[-1], 14.5)
            self.assertLess(closed - arrivals[-1], 20.0)
            print("retries after %s s; closed %.1f s after the fifth failure"
                  % (", ".join("%.1f" % gap for gap in gaps), closed - arrivals[-1]))
            self.assertEqual(release.requests("/download/"), [])
            self.assertEqual(wd.wait_exit(proc, 15), 0)
            self.assertTrue(wd.wait_for(lambda: wd.read_runs(folder), 20), "the bot was not started")
            self.assertIn(" 2.5.17.3 ", wd.read_runs(folder)[0], "the installed (old) bot starts")

    def test_two_instances_in_one_folder_make_one_pass(self):
        with wd.Session("auto_two_instances") as session:
            content = bytes(range(256)) * 1024
            release = wd.Release("2.6.0.1").add("Vorlane.exe", wd.read_bytes(wd.NEXT_BOT))
            release.add("sub/data.bin", content)
            # About eight seconds of download, so that the first pass still runs when the
            # second updater has decided.
            release.publish("/download/2.6.0.1/sub/data.bin trickle=8192:250")
            folder = session.install("install")
            exe = os.path.join(folder, "VorlanePatcher.exe")
            first = session.start(exe, "--auto")
            second = session.start(exe, "--auto")
            self.assertTrue(wd.wait_for(lambda: any(p.poll() is not None for p in (first, second)), 20),
                            "neither updater left")
            leaving, staying = (first, second) if first.poll() is not None else (second, first)
            self.assertEqual(leaving.returncode, 0)
            self.assertIsNone(staying.poll(), "the other updater must still be at its pass")
            self.assertTrue(session.window_exists())
            self.assertEqual(wd.wait_exit(staying, 60), 0)
            self.assertTrue(wd.wait_for(lambda: wd.read_runs(folder), 20), "the bot was not started")
            time.sleep(2.0)  # a second bot would have logged its start by now
            starts = [line for line in wd.read_runs(folder) if line.startswith("start ")]
            self.assertEqual(len(starts), 1, starts)
            self.assertIn(" 2.6.0.1 ", starts[0])
            self.assertEqual(len(release.requests(MANIFEST_PATH)), 1)
            self.assertEqual(sorted(release.requests("/download/")),
                             ["/download/2.6.0.1/Vorlane.exe", "/download/2.6.0.1/sub/data.bin"])
            self.assertEqual(wd.read_bytes(os.path.join(folder, "sub", "data.bin")), content)
            self.assertEqual([n for n in os.listdir(os.path.join(folder, "sub")) if n.endswith(".download")], [])
            with open(os.path.join(folder, "Vorlane.stop"), "w"):
                pass

    def test_auto_start_beside_an_open_window_continues_it_unattended(self):
        """The user left a manual window open (update offered, the bot running); the bot then
        starts the updater with --auto and closes itself. The --auto start ends at once, and
        the open window installs without a press and starts the new bot, once."""
        with wd.Session("auto_hand_over") as session:
            release = wd.Release("2.6.0.1").add("Vorlane.exe", wd.read_bytes(wd.NEXT_BOT)).publish()
            folder = session.install("install")
            bot = session.start(os.path.join(folder, "Vorlane.exe"))
            self.assertTrue(wd.wait_for(lambda: wd.read_runs(folder), 30), "the bot did not start")
            exe = os.path.join(folder, "VorlanePatcher.exe")
            manual = session.start(exe)
            window = session.find_window()
            self.assertIsNotNone(window)
            self.assertEqual(session.wait_phase(window, wd.OFFERED_BOT_RUNNING, 30, save_as="manual_offered"),
                             wd.OFFERED_BOT_RUNNING)

            self.assertEqual(wd.wait_exit(session.start(exe, "--auto"), 30), 0, "the --auto start stayed")
            with open(os.path.join(folder, "Vorlane.stop"), "w"):
                pass
            self.assertEqual(wd.wait_exit(bot, 15), 0, "the bot did not stop")
            self.assertTrue(session.wait_gone(60), "the open window did not finish by itself")
            self.assertEqual(wd.wait_exit(manual, 15), 0)
            self.assertEqual(wd.read_bytes(os.path.join(folder, "Vorlane.exe")), wd.read_bytes(wd.NEXT_BOT))
            self.assertTrue(wd.wait_for(lambda: any(" 2.6.0.1 " in line for line in wd.read_runs(folder)), 20),
                            "the new bot was not started: %s" % wd.read_runs(folder))
            time.sleep(2.0)  # a second bot would have logged its start by now
            starts = [line for line in wd.read_runs(folder) if line.startswith("start ")]
            self.assertEqual(len(starts), 2, "the old bot, then the new one once: %s" % starts)
            self.assertEqual(len(release.requests(MANIFEST_PATH)), 1, "one pass")
            with open(os.path.join(folder, "Vorlane.stop"), "w"):
                pass


if __name__ == "__main__":
    # Arguments (test names) are handed on to the run inside the server's namespace.
    rc = wd.run_with_server([os.path.abspath(__file__)] + sys.argv[1:], "auto_mode")
    if rc is not False:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
