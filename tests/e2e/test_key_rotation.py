"""A key rotation with the real updater under Wine and the real server (Debian's nginx),
three releases deep, done as the README's "Publishing safely" tells publishers:

  1  installed: the updater built with key A (this build's development key);
  2  signed with A, shipping an updater that trusts key B (`--next-key`): the updater
     installs it and the bot swaps the new updater in at its start;
  3  signed with B: the swapped-in updater installs it;
  then a manifest signed with A is refused by the updater.

Done wrong (release 2 signed with B while the installations still trust A), the tool
refuses it before it reaches the server. The updater trusting B is this build's
VorlanePatcher.exe with its two key texts replaced by B's: the bytes the configure step
puts in for -DVORLANE_PUBLIC_KEY_FILE, without a second Windows build."""
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import release_kit as kit  # noqa: E402
import window_driver as wd  # noqa: E402


def key_texts(key_dir):
    """The x= and y= texts of a public key file, as bytes."""
    with open(os.path.join(key_dir, "public.key")) as f:
        fields = dict(line.strip().split("=", 1) for line in f if "=" in line)
    return fields["x"].encode(), fields["y"].encode()


def updater_trusting(key_dir):
    """This build's updater with its key texts replaced by those of the key in key_dir."""
    data = wd.read_bytes(wd.PATCHER)
    for old, new in zip(key_texts(kit.DEV_KEY_DIR), key_texts(key_dir)):
        if data.count(old + b"\0") != 1:
            raise AssertionError("the updater does not hold its key text exactly once")
        data = data.replace(old + b"\0", new + b"\0")
    return data


class KeyRotationTest(unittest.TestCase):
    def release(self, session, name, files):
        folder = os.path.join(session.work, name)
        for path, data in files.items():
            kit.write_file(folder, path, data)
        return folder

    def test_rotation_three_releases_deep(self):
        root = os.environ["VORLANE_SERVER_ROOT"]
        with wd.Session("key_rotation") as session:
            key_a, key_b = kit.DEV_KEY_DIR, os.path.join(session.work, "key-b")
            kit.release_tool("keygen", "--out", key_b)
            updater_a, updater_b = wd.read_bytes(wd.PATCHER), updater_trusting(key_b)
            bot_1, bot_2 = wd.read_bytes(wd.BOT), wd.read_bytes(wd.NEXT_BOT)

            # Release 1, staged and installed: the updater trusts A.
            rel1 = self.release(session, "rel1", {"Vorlane.exe": bot_1, "VorlanePatcher.exe": updater_a,
                                                  "data/items.txt": "sword=1\n"})
            kit.publish(rel1, "1.0", os.path.join(session.work, "m1.txt"), root)
            install = os.path.join(session.work, "install")
            shutil.copytree(rel1, install)

            # Release 2 ships the updater that trusts B.
            rel2 = self.release(session, "rel2", {"Vorlane.exe": bot_2, "VorlanePatcher.exe": updater_b,
                                                  "data/items.txt": "sword=2\n"})
            m2 = os.path.join(session.work, "m2.txt")
            kit.release_tool("manifest", "--version", "2.0", "--out", m2, rel2)
            # Signed with A but no rotation declared: the tool says which keys are at odds.
            refused = kit.run_release_tool("sign", "--key", os.path.join(key_a, "private.pem"), "--release-dir",
                                           rel2, m2)
            self.assertEqual(refused.returncode, 1)
            self.assertIn("trusts the key x=%s..." % key_texts(key_b)[0][:16].decode(), refused.stderr)
            self.assertIn("signed with x=%s..." % key_texts(key_a)[0][:16].decode(), refused.stderr)
            # Done wrong: signed with B. Signing passes (the updater trusts B), staging
            # does not: the installations of release 1 trust A. The server is untouched.
            kit.release_tool("sign", "--key", os.path.join(key_b, "private.pem"), "--release-dir", rel2, m2)
            served_before = kit.tree_digests(root)
            wrong = kit.run_release_tool("stage", "--release-dir", rel2, "--signed", m2, "--out", root,
                                         "--public", os.path.join(key_b, "public.key"))
            self.assertEqual(wrong.returncode, 1, wrong.stdout)
            self.assertIn("installations updated to version 1.0", wrong.stderr)
            self.assertEqual(kit.tree_digests(root), served_before)

            # Done right: signed with A, the updater's next key declared.
            kit.publish(rel2, "2.0", m2, root, next_key=os.path.join(key_b, "public.key"))
            requests = kit.run_auto_pass(self, session, install, "release2")
            kit.stop_bot(self, install, 1)
            self.assertIn("swapped", wd.read_runs(install)[0])
            self.assertEqual(kit.sha256_file(os.path.join(install, "VorlanePatcher.exe")),
                             kit.tree_digests(rel2)["VorlanePatcher.exe"], "the updater trusting B is not in place")
            self.assertIn(("GET", "/download/2.0/VorlanePatcher.exe", "200"), requests)

            # Release 3, signed with B, reaches the swapped-in updater.
            rel3 = self.release(session, "rel3", {"Vorlane.exe": bot_2, "VorlanePatcher.exe": updater_b,
                                                  "data/items.txt": "sword=3\n"})
            kit.publish(rel3, "3.0", os.path.join(session.work, "m3.txt"), root, key_dir=key_b)
            requests = kit.run_auto_pass(self, session, install, "release3")
            kit.stop_bot(self, install, 2)
            self.assertEqual(requests[1:], [("GET", "/download/3.0/data/items.txt", "200")])
            self.assertEqual(kit.tree_digests(install)["data/items.txt"], kit.tree_digests(rel3)["data/items.txt"])

            # A manifest signed with A, put on the server past the tool, is refused.
            rel4 = self.release(session, "rel4", {"data/items.txt": "sword=4\n"})
            m4 = os.path.join(session.work, "m4.txt")
            kit.release_tool("manifest", "--version", "4.0", "--out", m4, rel4)
            kit.release_tool("sign", "--key", os.path.join(key_a, "private.pem"), m4)
            kit.write_file(root, "download/4.0/data/items.txt", "sword=4\n")
            kit.write_file(root, wd.MANIFEST_PATH[1:], wd.read_bytes(m4))
            before = kit.tree_digests(install)
            self.assertEqual(kit.run_pass_to(self, session, install, wd.FAILED, "old_key_refused"),
                             [("GET", wd.MANIFEST_PATH, "200")])
            self.assertEqual(kit.tree_digests(install), before)
            # The updater's own judgement of that manifest, through the same code in the tool.
            judged = kit.run_release_tool("verify", "--public", os.path.join(key_b, "public.key"), m4)
            self.assertIn("podpis manifestu sie nie zgadza", judged.stderr)


if __name__ == "__main__":
    rc = kit.run_behind_nginx(os.path.abspath(__file__), "key_rotation")
    if rc is not None:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
