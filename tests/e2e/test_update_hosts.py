"""Several update hosts and mirrors with the real program under Wine.

The first test: the first host refuses connections, the second serves a signed manifest older
than the installation's record, the third the new release, but wrong bytes (of the right
size) for its file; of the release's mirrors the first refuses connections and the second,
on another port, serves the right bytes. An auto-mode run installs them and names every host
and place it left in the support log, each with its cause; the stale host is asked for
nothing but its manifest.

The second: the kept bytes of a file came from a mirror, under a validator that the host
serving the manifest gives for its own copy too (two static servers with the same file time
and size give the same ETag). The host sends the file from its start instead of the rest.

The build's hosts (its VORLANE_UPDATE_HOST, three or more) are pointed, in this test's own
namespace, at a closed address, at more test servers on 127.0.0.2 and at the runner's
server on 127.0.0.1. Skipped for a build with fewer hosts."""
import hashlib
import os
import re
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_driver as wd  # noqa: E402
from test_support_log import run_auto  # noqa: E402

HOSTS = os.environ.get("VORLANE_UPDATE_HOSTS", os.environ.get("VORLANE_UPDATE_HOST", "")).split(",")


def point_hosts(addresses):
    """Maps each host name of `addresses` to its address in this namespace's /etc/hosts."""
    with open("/etc/hosts") as f:
        kept = [line for line in f.read().splitlines() if not set(line.split()[1:]) & set(addresses)]
    with open("/etc/hosts", "w") as f:
        f.write("\n".join(kept + ["%s %s" % (address, host) for host, address in addresses.items()]) + "\n")


def start_server(work, address, port=443):
    """Another test server on `address`:`port` serving `work`/root. Returns (process, State)."""
    root, state = os.path.join(work, "root"), os.path.join(work, "state")
    os.makedirs(root)
    os.makedirs(os.path.join(state, "control"))
    ready = os.path.join(work, "ready")
    proc = subprocess.Popen([sys.executable, os.path.join(wd.SOURCE, "tests", "fixtures", "update_server.py"),
                             "--root", root, "--state", state, "--cert-dir", os.environ["VORLANE_CERT_DIR"],
                             "--bind", address, "--port", str(port), "--ready-file", ready,
                             "--parent-pid", str(os.getpid())])
    if not wd.wait_for(lambda: os.path.exists(ready) and os.path.getsize(ready) > 0, 10):
        proc.kill()
        raise AssertionError("the second server did not start")
    return proc, wd.update_server.State(state, root)


class UpdateHostsTest(unittest.TestCase):
    @unittest.skipIf(len(HOSTS) < 3, "the build has fewer than three update hosts")
    def test_a_host_down_and_a_stale_host_give_way_to_the_good_one(self):
        with wd.Session("update_hosts") as session:
            proc, stale_server = start_server(os.path.join(session.work, "stale"), "127.0.0.2")
            mirror_proc, mirror = start_server(os.path.join(session.work, "mirror"), "127.0.0.2", 8443)
            try:
                point_hosts({HOSTS[0]: "127.0.0.4", HOSTS[1]: "127.0.0.2", HOSTS[2]: "127.0.0.1"})
                now = int(time.time())
                accepted, stale, good = now - 7200, now - 3 * 86400, now - 60
                key = os.path.join(os.environ.get("VORLANE_DEV_KEY_DIR", os.path.join(wd.SOURCE, "build", "devkey")),
                                   "private.pem")
                old_text = ("VLR1\nserial=%d\nversion=2.5.9\ndate=2026-12-01\nnotes=Stare\n"
                            "file=Vorlane.exe|5|%s|0\n" % (stale, "0" * 64))
                stale_server.serve(wd.Release.MANIFEST, wd.vlsign.signed_manifest(old_text, key))
                bot = wd.read_bytes(wd.NEXT_BOT)
                release = wd.Release("2.6.0.1").add("Vorlane.exe", bot)
                down_mirror = "https://%s:8444/none" % HOSTS[0]
                good_mirror = "https://%s:8443/m/" % HOSTS[1]
                release.publish(records="serial=%d\nmirror=%s\nmirror=http://%s/plain\nmirror=%s\n"
                                % (good, down_mirror, HOSTS[1], good_mirror))
                # The host's copy has the right size and other bytes; the mirror's is right.
                release.server.serve("download/2.6.0.1/Vorlane.exe", bytes(b ^ 0x5A for b in bot))
                mirror.serve("m/download/2.6.0.1/Vorlane.exe", bot)
                folder = session.install("install")
                with open(os.path.join(folder, "VorlanePatcher.serial"), "w") as f:
                    f.write("%d %d\n" % (accepted, accepted))

                self.assertEqual(run_auto(session, folder), 0)
                self.assertEqual(wd.read_bytes(os.path.join(folder, "Vorlane.exe")), bot)
                self.assertEqual(release.requests("/download/"), ["/download/2.6.0.1/Vorlane.exe"])
                self.assertEqual([r["path"] for r in mirror.requests()], ["/m/download/2.6.0.1/Vorlane.exe"])
                self.assertEqual([r["path"] for r in stale_server.requests()], ["/" + wd.Release.MANIFEST])
                with open(os.path.join(folder, "VorlanePatcher.serial")) as f:
                    self.assertEqual(f.read(), "%d %d\n" % (good, good))

                with open(os.path.join(folder, "VorlanePatcher.log"), "rb") as f:
                    log = f.read().decode("ascii")
                lines = [line for line in log.split("\r\n") if " manifest " in line]
                print("\n".join(lines))
                self.assertEqual(len(lines), 3, lines)
                self.assertRegex(lines[0], r' status=0 .* blad="blad sieci \d+" serwer=%s$' % re.escape(HOSTS[0]))
                self.assertRegex(lines[1], r' status=200 .* blad="manifest starszy niz juz przyjety '
                                 r'\(numer wydania %d, przyjety byl %d\)" serwer=%s$'
                                 % (stale, accepted, re.escape(HOSTS[1])))
                self.assertRegex(lines[2], r" status=200 .* wersja=2\.6\.0\.1 serwer=%s$" % re.escape(HOSTS[2]))

                steps = [line.split(" ", 2)[2] for line in log.split("\r\n")
                         if re.search(r" (pobieranie|weryfikacja|mirror_pominiety) ", line)]
                print("\n".join(steps))
                host = re.escape("https://" + HOSTS[2])
                self.assertEqual(len(steps), 6, steps)
                self.assertEqual(steps[0], "mirror_pominiety wartosc=http://%s/plain" % HOSTS[1])
                self.assertRegex(steps[1], r"^pobieranie nazwa=Vorlane\.exe status=200 .* zrodlo=%s$" % host)
                self.assertRegex(steps[2], r"^weryfikacja nazwa=Vorlane\.exe suma=niezgodna .* zrodlo=%s$" % host)
                self.assertRegex(steps[3], r'^pobieranie nazwa=Vorlane\.exe status=0 .* blad="blad sieci \d+" '
                                 r"zrodlo=%s$" % re.escape(down_mirror))
                self.assertRegex(steps[4], r"^pobieranie nazwa=Vorlane\.exe status=200 .* od_bajtu=0 zrodlo=%s$"
                                 % re.escape(good_mirror[:-1]))
                self.assertRegex(steps[5], r"^weryfikacja nazwa=Vorlane\.exe suma=zgodna .* zrodlo=%s$"
                                 % re.escape(good_mirror[:-1]))
            finally:
                for server in (proc, mirror_proc):
                    server.terminate()
                    server.wait(timeout=10)

    @unittest.skipIf(len(HOSTS) < 3, "the build has fewer than three update hosts")
    def test_kept_bytes_from_another_place_are_not_continued(self):
        with wd.Session("update_hosts_kept") as session:
            point_hosts({HOSTS[0]: "127.0.0.1"})
            bot = wd.read_bytes(wd.NEXT_BOT)
            mirror_url = "https://%s:8444/m" % HOSTS[1]  # nothing listens there
            release = wd.Release("2.6.0.1").add("Vorlane.exe", bot)
            release.publish(records="mirror=%s\n" % mirror_url)
            folder = session.install("install")
            # The mirror's first 300 000 bytes, other than the host's, under the host's ETag.
            kept = bytes(b ^ 0x5A for b in bot[:300000])
            with open(os.path.join(folder, "Vorlane.exe.download"), "wb") as f:
                f.write(kept)
            with open(os.path.join(folder, "VorlanePatcher.partial"), "w", newline="\n") as f:
                f.write("VLPART2\nname=Vorlane.exe\nsize=%d\nsha256=%s\nbytes=%d\nvalidator=\"%s\"\nsource=%s\n"
                        % (len(bot), hashlib.sha256(bot).hexdigest(), len(kept),
                           hashlib.sha256(bot).hexdigest()[:16], mirror_url))

            self.assertEqual(run_auto(session, folder), 0)
            self.assertEqual(wd.read_bytes(os.path.join(folder, "Vorlane.exe")), bot)
            asked = [r for r in release.server.requests() if r["path"].startswith("/download/")]
            self.assertEqual(len(asked), 1)
            self.assertNotIn("Range:", asked[0]["headers"])
            self.assertFalse(os.path.exists(os.path.join(folder, "VorlanePatcher.partial")))
            with open(os.path.join(folder, "VorlanePatcher.log"), "rb") as f:
                log = f.read().decode("ascii")
            steps = [line for line in log.split("\r\n") if " pobieranie " in line]
            self.assertEqual(len(steps), 1, steps)
            self.assertRegex(steps[0], r" status=200 .* od_bajtu=0 zrodlo=%s$" % re.escape("https://" + HOSTS[0]))


if __name__ == "__main__":
    # Arguments (test names) are handed on to the run inside the server's namespace.
    rc = wd.run_with_server([os.path.abspath(__file__)] + sys.argv[1:], "update_hosts")
    if rc is not False:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
