"""A whole update against the reference server: Debian's nginx, configured as the
publishers' docs/nginx-example.conf, serving a tree staged by vorlane-release. The
release has a file with blanks and other escaped characters in its name, files in
sub-folders, a changed bot, a new updater and a user's settings file marked
only-if-missing. The real VorlanePatcher.exe installs it with "--auto"; nginx's log
shows what it asked for, and the installation then holds the release's bytes. A second
start finds nothing to do and downloads nothing."""
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import release_kit as kit  # noqa: E402
import window_driver as wd  # noqa: E402

VERSION = "2.6.0.1"
ODD_NAME = "data/notes & more #1 (50%) + ~x.txt"  # each of these is escaped or must survive as is


def without_bot_logs(digests):
    return {name: d for name, d in digests.items() if name != "Vorlane.runs"}


class StaticServerTest(unittest.TestCase):
    def make_release(self, session, install):
        release = os.path.join(session.work, "release")
        os.makedirs(release)
        shutil.copy2(wd.NEXT_BOT, os.path.join(release, "Vorlane.exe"))
        with open(wd.PATCHER, "rb") as f:
            kit.write_file(release, "VorlanePatcher.exe", f.read() + b"\0")  # a different updater
        kit.write_file(release, "readme.txt", "Vorlane\n")
        kit.write_file(release, "data/items.txt", "sword=3\nshield=2\n")
        kit.write_file(release, "data/my file.txt", "a blank in the name\n")
        kit.write_file(release, ODD_NAME, "escaped on the way, decoded by nginx\n")
        # Larger than one block of the transfer, three folders down.
        kit.write_file(release, "maps/north/deep/world.bin", os.urandom(700_000))
        kit.write_file(release, "config/user.ini", "volume=5\n")
        # The installation: the old bot, one file already current, one changed, the user's
        # own settings.
        kit.write_file(install, "readme.txt", "Vorlane\n")
        kit.write_file(install, "data/items.txt", "sword=1\n")
        kit.write_file(install, "config/user.ini", "volume=9\n")
        manifest = os.path.join(session.work, "latest.txt")
        kit.publish(release, VERSION, manifest, os.environ["VORLANE_SERVER_ROOT"],
                    notes="Nowa mapa\n", only_if_missing=["config/*.ini"])
        return release, manifest

    def test_whole_pass_against_nginx(self):
        with wd.Session("static_server") as session:
            install = session.install("install")
            release, manifest = self.make_release(session, install)
            wanted = kit.tree_digests(release)
            self.assertIn("6 of 8 files to install", kit.check(manifest, install))

            requests = kit.run_auto_pass(self, session, install, "updated")
            kit.stop_bot(self, install, 1)

            prefix = "/download/%s/" % VERSION
            self.assertEqual(requests[0], ("GET", wd.MANIFEST_PATH, "200"))
            self.assertEqual(sorted(requests[1:]), sorted([
                ("GET", prefix + "VorlanePatcher.exe", "200"),
                ("GET", prefix + "Vorlane.exe", "200"),
                ("GET", prefix + "data/items.txt", "200"),
                ("GET", prefix + "data/my%20file.txt", "200"),
                ("GET", prefix + "data/notes%20%26%20more%20%231%20%2850%25%29%20%2B%20%7Ex.txt", "200"),
                ("GET", prefix + "maps/north/deep/world.bin", "200"),
            ]))

            got = kit.tree_digests(install)
            # The bot swapped the staged updater in when the updater launched it.
            self.assertIn("swapped", wd.read_runs(install)[0])
            self.assertNotIn("VorlanePatcher.new.exe", got)
            for name, digest in wanted.items():
                if name == "config/user.ini":
                    self.assertNotEqual(got[name], digest, "the user's settings were overwritten")
                else:
                    self.assertEqual(got.get(name), digest, name)
            left = sorted(set(without_bot_logs(got)) - set(wanted) - {"VorlanePatcher.serial"})
            self.assertEqual(left, [], "files the pass left behind")
            # Beside them, the serial of the manifest it accepted.
            with open(manifest) as f:
                serial = [line[7:].strip() for line in f if line.startswith("serial=")]
            self.assertEqual(wd.read_bytes(os.path.join(install, "VorlanePatcher.serial")),
                             ("%s %s\n" % (serial[0], serial[0])).encode())
            self.assertIn("0 of 8 files to install", kit.check(manifest, install))

            # Nothing to do now: the second pass asks for the manifest only.
            self.assertEqual(kit.run_auto_pass(self, session, install, "up_to_date"),
                             [("GET", wd.MANIFEST_PATH, "200")])
            kit.stop_bot(self, install, 2)
            self.assertEqual(without_bot_logs(kit.tree_digests(install)), without_bot_logs(got))


if __name__ == "__main__":
    rc = kit.run_behind_nginx(os.path.abspath(__file__), "static_server")
    if rc is not None:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
