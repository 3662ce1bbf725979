"""The release order of a publisher who also code-signs the executables: Authenticode
first (osslsigncode, with a code-signing certificate made here by a test CA), then the
manifest, so that its digests are those of the signed files. Signing after the manifest
changes the executables' bytes and every installation would download them again.

The code-signed VorlanePatcher.exe, installed as the publisher ships it, runs under Wine
against the staged release on nginx and finds nothing to do: "Masz najnowsza wersje",
no download asked for, no file touched."""
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import release_kit as kit  # noqa: E402
import window_driver as wd  # noqa: E402

VERSION = "2.6.0.1"
EXECUTABLES = ("VorlanePatcher.exe", "Vorlane.exe")


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, timeout=60, capture_output=True)


def make_code_signing_cert(folder):
    """A test CA and a code-signing certificate issued by it (what a publisher buys)."""
    os.makedirs(folder)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "30", "-subj", "/CN=Vorlane Test Code Signing CA",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
            "-subj", "/CN=Vorlane Test Publisher", cwd=folder)
    with open(os.path.join(folder, "signer.ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
    openssl("x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-days", "30", "-sha256", "-extfile", "signer.ext", "-out", "signer.pem", cwd=folder)


def osslsigncode(*args):
    return subprocess.run(["osslsigncode", *args], check=False, timeout=120, capture_output=True, text=True)


class CodeSignedReleaseTest(unittest.TestCase):
    def code_sign(self, certs, unsigned, signed):
        done = osslsigncode("sign", "-certs", os.path.join(certs, "signer.pem"), "-key",
                            os.path.join(certs, "signer.key"), "-n", "Vorlane", "-h", "sha256",
                            "-in", unsigned, "-out", signed)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        verified = osslsigncode("verify", "-CAfile", os.path.join(certs, "ca.pem"), "-in", signed)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn("Signature verification: ok", verified.stdout)

    def test_sign_binaries_then_make_the_manifest(self):
        with wd.Session("code_signed") as session:
            certs = os.path.join(session.work, "certs")
            make_code_signing_cert(certs)
            unsigned = os.path.join(session.work, "unsigned")
            release = os.path.join(session.work, "release")
            os.makedirs(unsigned)
            os.makedirs(release)
            shutil.copy2(wd.PATCHER, os.path.join(unsigned, "VorlanePatcher.exe"))
            shutil.copy2(wd.NEXT_BOT, os.path.join(unsigned, "Vorlane.exe"))
            for name in EXECUTABLES:
                self.code_sign(certs, os.path.join(unsigned, name), os.path.join(release, name))
            for folder in (unsigned, release):
                kit.write_file(folder, "data/items.txt", "sword=3\n")

            # The wrong order: a manifest of the unsigned files does not match what ships.
            early = os.path.join(session.work, "early", "latest.txt")
            os.makedirs(os.path.dirname(early))
            kit.release_tool("manifest", "--version", VERSION, "--out", early, unsigned)
            kit.release_tool("sign", "--key", os.path.join(kit.DEV_KEY_DIR, "private.pem"), "--release-dir", unsigned,
                             early)
            self.assertIn("2 of 3 files to install", kit.check(early, release))

            # The right order: the manifest of the signed files. An installation made from
            # the release folder (as the publisher's installer lays it out) is current.
            manifest = kit.publish(release, VERSION, os.path.join(session.work, "latest.txt"),
                                   os.environ["VORLANE_SERVER_ROOT"], notes="Podpisane pliki\n")
            install = os.path.join(session.work, "install")
            shutil.copytree(release, install)
            report = kit.check(manifest, install)
            self.assertIn("0 of 3 files to install", report)
            self.assertIn("updater: Masz najnowsza wersje", report)
            before = kit.tree_digests(install)

            # The signed updater itself runs and agrees.
            self.assertEqual(kit.run_pass_to(self, session, install, wd.FINISHED, "signed_up_to_date"),
                             [("GET", wd.MANIFEST_PATH, "200")])
            # Nothing changed but the record of the serial it accepted.
            after = kit.tree_digests(install)
            self.assertIn("VorlanePatcher.serial", after)
            del after["VorlanePatcher.serial"]
            self.assertEqual(after, before)


if __name__ == "__main__":
    rc = kit.run_behind_nginx(os.path.abspath(__file__), "code_signed")
    if rc is not None:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
