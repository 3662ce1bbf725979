"""The support log beside the program: an auto-mode update leaves one stamped line per step,
in order, from the start to the exit; a log the updater may not write changes nothing about
the next update, which installs as before and leaves the log as it was."""
import os
import re
import stat
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_driver as wd  # noqa: E402

STAMP = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}Z ")


def read_log(folder):
    with open(os.path.join(folder, "VorlanePatcher.log"), "rb") as f:
        return f.read()


def count_runs(folder, word):
    return len([line for line in wd.read_runs(folder) if line.startswith(word + " ")])


def run_auto(session, folder):
    """One auto-mode run; the bot it launches is stopped before the next."""
    starts = count_runs(folder, "start")
    proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), "--auto", timeout=120)
    code = wd.wait_exit(proc, 110)
    # The bot deletes a stop request it finds at its start: ask only once it runs.
    if wd.wait_for(lambda: count_runs(folder, "start") > starts, 20):
        with open(os.path.join(folder, "Vorlane.stop"), "w"):
            pass
        wd.wait_for(lambda: count_runs(folder, "stop") > starts, 20)
    return code


class SupportLogTest(unittest.TestCase):
    def test_an_update_logs_each_step_and_a_read_only_log_changes_nothing(self):
        with wd.Session("support_log") as session:
            data = b"items v2\n" * 1000
            patcher = wd.read_bytes(wd.PATCHER) + b"\0next"
            wd.Release("2.6.0.1").add("Vorlane.exe", wd.read_bytes(wd.NEXT_BOT)).add(
                "data/new items.txt", data).add("VorlanePatcher.exe", patcher).publish()
            folder = session.install("install")
            self.assertEqual(run_auto(session, folder), 0)
            self.assertEqual(wd.read_bytes(os.path.join(folder, "data", "new items.txt")), data)

            text = read_log(folder).decode("ascii")
            lines = text.split("\r\n")
            self.assertEqual(lines[-1], "", "every line ends in CRLF")
            lines = lines[:-1]
            for line in lines:
                self.assertRegex(line, STAMP)
            steps = [STAMP.sub("", line) for line in lines]
            print("\n".join(steps))
            expected = [
                "start wersja=2.5.17 tryb=auto folder=%s\\" % wd.windows_path(folder),
                "manifest status=200 bajty=",
                "plik nazwa=Vorlane.exe decyzja=\"instaluje (inna suma)\"",
                "plik nazwa=\"data/new items.txt\" decyzja=\"instaluje (brak pliku)\"",
                "plik nazwa=VorlanePatcher.exe decyzja=\"instaluje (inna suma)\"",
                "wydanie udzial_promile=1000 koszyk=- kanal=stable krytyczne=nie decyzja=oferuje",
                "bot dziala=nie",
                "czekanie_koniec czas_ms=",
                "pobieranie nazwa=Vorlane.exe status=200 bajty=%d " % os.path.getsize(wd.NEXT_BOT),
                "weryfikacja nazwa=Vorlane.exe suma=zgodna",
                "przeniesienie nazwa=Vorlane.exe cel=",
                "pobieranie nazwa=\"data/new items.txt\" status=200 bajty=%d " % len(data),
                "weryfikacja nazwa=\"data/new items.txt\" suma=zgodna",
                "przeniesienie nazwa=\"data/new items.txt\" cel=",
                "pobieranie nazwa=VorlanePatcher.exe status=200 bajty=%d " % len(patcher),
                "weryfikacja nazwa=VorlanePatcher.exe suma=zgodna",
                "przeniesienie nazwa=VorlanePatcher.exe cel=",
                "nowy_aktualizator VorlanePatcher.new.exe=tak",
                "koniec_przebiegu faza=Updated status=\"Zaktualizowano do wersji 2.6.0.1\"",
                "uruchomienie_bota udane=tak",
                "wyjscie faza=Updated kod=0",
            ]
            self.assertEqual(len(steps), len(expected), steps)
            for step, start in zip(steps, expected):
                self.assertTrue(step.startswith(start), "%r does not begin with %r" % (step, start))
            self.assertIn("wersja=2.6.0.1", steps[1])
            self.assertIn("VorlanePatcher.new.exe udane=tak", steps[16])

            # A log the updater cannot open for writing: the next update installs all the same.
            # Wine run as root (as the tests are) writes through a read-only attribute, so the
            # file is also made read-only as on read-only media, in this test's mount namespace.
            before = read_log(folder)
            log = os.path.join(folder, "VorlanePatcher.log")
            os.chmod(log, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
            subprocess.run(["mount", "--bind", log, log], check=True, timeout=10)
            try:
                subprocess.run(["mount", "-o", "remount,ro,bind", log], check=True, timeout=10)
                data3 = b"items v3\n" * 1000
                wd.Release("2.6.0.2").add("Vorlane.exe", wd.read_bytes(wd.NEXT_BOT)).add(
                    "data/new items.txt", data3).publish()
                self.assertEqual(run_auto(session, folder), 0)
                self.assertEqual(wd.read_bytes(os.path.join(folder, "data", "new items.txt")), data3)
                self.assertEqual(read_log(folder), before)
            finally:
                subprocess.run(["umount", log], check=False, timeout=10)


if __name__ == "__main__":
    # Arguments (test names) are handed on to the run inside the server's namespace.
    rc = wd.run_with_server([os.path.abspath(__file__)] + sys.argv[1:], "support_log")
    if rc is not False:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
