"""Staged releases and channels with the real program under Wine, against the local update server.

One installation with a known identifier (its bucket for the release computed here, the way the
program does) sees the release outside its share: nothing is fetched but the manifest, the serial
record stays, and --auto starts the bot. One per mille more takes it in. The release halted
(share 0) leaves the updated installation as it is. A second installation, started by hand,
does not get the halted release, but does get it once it is marked critical. That one then
follows the beta channel (--channel beta) and takes the beta release from the beta path, and
going back to stable, whose release is older, does not turn it back. A third one is asked to
follow beta while the beta path serves a manifest without the beta record: it is refused.
"""
import hashlib
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_driver as wd  # noqa: E402

VERSION = "2.6.0.1"


def bucket(installation_id, version):
    digest = hashlib.sha256(("vorlane-rollout\n%s\n%s" % (installation_id, version)).encode()).digest()
    return int.from_bytes(digest[:4], "big") % 1000


def pick_id():
    """An identifier whose bucket for VERSION lies between 500 and 998: outside half, and one per
    mille more than its bucket takes it in."""
    for n in range(10000):
        candidate = hashlib.sha256(b"e2e %d" % n).hexdigest()[:32]
        if 500 <= bucket(candidate, VERSION) <= 998:
            return candidate
    raise AssertionError("no identifier found")


_serial = [int(time.time()) - 100000]


def serial():
    """Serials below the clock (a higher one is kept as the clock's time), each above the last."""
    _serial[0] += 1000
    return "serial=%d\n" % _serial[0]


def read(folder, name):
    try:
        return wd.read_bytes(os.path.join(folder, *name.split("/")))
    except FileNotFoundError:
        return None


def serial_record(folder, name="VorlanePatcher.serial"):
    text = read(folder, name)
    if text is None:
        return None
    first, second = text.decode().split()
    assert first == second, text
    return int(first)


class RolloutTest(unittest.TestCase):
    def starts(self, folder, what="start"):
        return len([r for r in wd.read_runs(folder) if r.startswith(what)])

    def run_pass(self, session, folder, name, *args, auto=True, phase=wd.FINISHED):
        """One start of the updater to its end; with --auto the bot it starts is stopped again.
        Returns the paths the server was asked for."""
        session.release.server.clear_requests()
        before, stops = self.starts(folder), self.starts(folder, "stop")
        switches = ("--auto",) + args if auto else args
        proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), *switches, timeout=120)
        window = session.find_window()
        self.assertIsNotNone(window, "no window")
        self.assertEqual(session.wait_phase(window, phase, 60, save_as=name), phase)
        if not auto:
            session.key(window, "Escape")
        self.assertTrue(session.wait_gone(30), "the window did not close")
        self.assertEqual(wd.wait_exit(proc, 30), 0)
        if auto:
            self.assertTrue(wd.wait_for(lambda: self.starts(folder) > before, 20), "the bot was not started")
            with open(os.path.join(folder, "Vorlane.stop"), "w"):
                pass
            self.assertTrue(wd.wait_for(lambda: self.starts(folder, "stop") > stops, 20), "the bot did not stop")
            os.remove(os.path.join(folder, "Vorlane.stop"))
        else:
            self.assertEqual(self.starts(folder), before, "the bot was started")
        return [r["path"] for r in session.release.server.requests()]

    def test_share_halt_critical_and_channels(self):
        with wd.Session("rollout") as session:
            old_bot, next_bot = wd.read_bytes(wd.BOT), wd.read_bytes(wd.NEXT_BOT)
            release = wd.Release(VERSION).add("Vorlane.exe", next_bot).add("data/items.txt", b"stable 2.6\n")
            session.release = release

            # Outside the share: nothing but the manifest is fetched, the record stays, the bot runs.
            first = session.install("first")
            installation_id = pick_id()
            with open(os.path.join(first, "VorlanePatcher.id"), "w") as f:
                f.write(installation_id + "\n")
            share = bucket(installation_id, VERSION)
            release.publish(records=serial() + "rollout=%d\n" % share)
            asked = self.run_pass(session, first, "outside_share")
            self.assertEqual([p for p in asked if not p.startswith("/download/")], [wd.MANIFEST_PATH])
            self.assertEqual([p for p in asked if p.startswith("/download/")], [])
            self.assertEqual(read(first, "Vorlane.exe"), old_bot)
            self.assertIsNone(read(first, "data/items.txt"))
            self.assertIsNone(serial_record(first))
            self.assertEqual(read(first, "VorlanePatcher.id"), (installation_id + "\n").encode())
            log = read(first, "VorlanePatcher.log").decode("ascii", "replace")
            self.assertIn("koszyk=%d" % share, log)

            # One per mille more: inside, the release is installed and its serial kept.
            raised = serial()
            release.publish(records=raised + "rollout=%d\n" % (share + 1))
            asked = self.run_pass(session, first, "inside_share")
            self.assertIn("/download/%s/Vorlane.exe" % VERSION, asked)
            self.assertEqual(read(first, "Vorlane.exe"), next_bot)
            self.assertEqual(read(first, "data/items.txt"), b"stable 2.6\n")
            self.assertEqual(serial_record(first), int(raised.split("=")[1]))

            # Halted (share 0, a higher serial): the updated installation stays updated.
            halted = serial()
            release.publish(records=halted + "rollout=0\n")
            asked = self.run_pass(session, first, "halted_after_update")
            self.assertEqual([p for p in asked if p.startswith("/download/")], [])
            self.assertEqual(read(first, "Vorlane.exe"), next_bot)
            self.assertEqual(read(first, "data/items.txt"), b"stable 2.6\n")
            self.assertEqual(serial_record(first), int(halted.split("=")[1]))

            # Halted: not even a start by hand installs it.
            second = session.install("second")
            asked = self.run_pass(session, second, "halted_by_hand", auto=False)
            self.assertEqual([p for p in asked if p.startswith("/download/")], [])
            self.assertEqual(read(second, "Vorlane.exe"), old_bot)
            self.assertIsNone(serial_record(second))

            # Critical at share 0: installed.
            critical = serial()
            release.publish(records=critical + "rollout=0\ncritical=1\n")
            self.run_pass(session, second, "critical")
            self.assertEqual(read(second, "Vorlane.exe"), next_bot)
            self.assertEqual(read(second, "data/items.txt"), b"stable 2.6\n")

            # The beta path serves a manifest without the beta record: refused, nothing fetched,
            # the channel kept for the next start.
            third = session.install("third")
            release.publish(records=serial(), at_channel="beta")
            asked = self.run_pass(session, third, "wrong_channel", "--channel", "beta", auto=False, phase=wd.FAILED)
            # Every update server is asked in turn; each serves the same refused manifest.
            self.assertEqual(set(asked), {"/" + wd.channel_manifest("beta")})
            self.assertEqual(read(third, "VorlanePatcher.channel"), b"beta\n")
            self.assertEqual(read(third, "Vorlane.exe"), old_bot)

            # Beta: its own manifest path, serial record and release files.
            beta = wd.Release("2.6.1").add("Vorlane.exe", next_bot).add("data/items.txt", b"beta 2.6.1\n")
            session.release = beta
            beta_serial = serial()
            beta.publish(records=beta_serial + "channel=beta\n", at_channel="beta")
            asked = self.run_pass(session, second, "beta", "--channel", "beta")
            self.assertIn("/" + wd.channel_manifest("beta"), asked)
            self.assertIn("/download/2.6.1/data/items.txt", asked)
            self.assertEqual(read(second, "data/items.txt"), b"beta 2.6.1\n")
            self.assertEqual(read(second, "VorlanePatcher.channel"), b"beta\n")
            self.assertEqual(read(second, "VorlanePatcher.from"), b"beta\n")
            self.assertEqual(serial_record(second, "VorlanePatcher.beta.serial"), int(beta_serial.split("=")[1]))
            self.assertEqual(serial_record(second), int(critical.split("=")[1]))

            # Back to stable, whose release is older than the installed beta (whose bot is 2.6.0.1,
            # older only in the version's fourth part): nothing is fetched, nothing turned back, and
            # the bot starts.
            older = wd.Release("2.6.0.0").add("Vorlane.exe", old_bot).add("data/items.txt", b"stable 2.5\n")
            session.release = older
            older.publish(records=serial())
            asked = self.run_pass(session, second, "back_to_stable", "--channel", "stable")
            self.assertEqual(asked, [wd.MANIFEST_PATH])
            self.assertEqual(read(second, "Vorlane.exe"), next_bot)
            self.assertEqual(read(second, "data/items.txt"), b"beta 2.6.1\n")
            self.assertIsNone(read(second, "VorlanePatcher.channel"))
            self.assertEqual(serial_record(second), int(critical.split("=")[1]))


if __name__ == "__main__":
    rc = wd.run_with_server([os.path.abspath(__file__)] + sys.argv[1:], "rollout")
    if rc is not False:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
