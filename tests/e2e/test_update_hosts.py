"""Several update hosts with the real program under Wine: the first refuses connections, the
second serves a signed manifest older than the installation's record, the third the new
release. An auto-mode run installs it from the third and names the other two, each with its
cause, in the support log; the stale host is asked for nothing but its manifest.

The build's hosts (its VORLANE_UPDATE_HOST, three or more) are pointed, in this test's own
namespace, at a closed address, at a second test server on 127.0.0.2 and at the runner's
server on 127.0.0.1. Skipped for a build with fewer hosts."""
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


def start_server(work, address):
    """A second test server on `address`:443 serving `work`/root. Returns (process, State)."""
    root, state = os.path.join(work, "root"), os.path.join(work, "state")
    os.makedirs(root)
    os.makedirs(os.path.join(state, "control"))
    ready = os.path.join(work, "ready")
    proc = subprocess.Popen([sys.executable, os.path.join(wd.SOURCE, "tests", "fixtures", "update_server.py"),
                             "--root", root, "--state", state, "--cert-dir", os.environ["VORLANE_CERT_DIR"],
                             "--bind", address, "--port", "443", "--ready-file", ready,
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
            try:
                point_hosts({HOSTS[0]: "127.0.0.4", HOSTS[1]: "127.0.0.2", HOSTS[2]: "127.0.0.1"})
                now = int(time.time())
                accepted, stale, good = now - 7200, now - 3 * 86400, now - 60
                key = os.path.join(os.environ.get("VORLANE_DEV_KEY_DIR", os.path.join(wd.SOURCE, "build", "devkey")),
                                   "private.pem")
                old_text = ("VLR1\nserial=%d\nversion=2.5.9\ndate=2026-12-01\nnotes=Stare\n"
                            "file=Vorlane.exe|5|%s|0\n" % (stale, "0" * 64))
                stale_server.serve(wd.Release.MANIFEST, wd.vlsign.signed_manifest(old_text, key))
                release = wd.Release("2.6.0.1").add("Vorlane.exe", wd.read_bytes(wd.NEXT_BOT))
                release.publish(records="serial=%d\n" % good)
                folder = session.install("install")
                with open(os.path.join(folder, "VorlanePatcher.serial"), "w") as f:
                    f.write("%d %d\n" % (accepted, accepted))

                self.assertEqual(run_auto(session, folder), 0)
                self.assertEqual(wd.read_bytes(os.path.join(folder, "Vorlane.exe")), wd.read_bytes(wd.NEXT_BOT))
                self.assertEqual(release.requests("/download/"), ["/download/2.6.0.1/Vorlane.exe"])
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
            finally:
                proc.terminate()
                proc.wait(timeout=10)


if __name__ == "__main__":
    # Arguments (test names) are handed on to the run inside the server's namespace.
    rc = wd.run_with_server([os.path.abspath(__file__)] + sys.argv[1:], "update_hosts")
    if rc is not False:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
