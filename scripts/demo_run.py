"""The watched part of scripts/demo.sh, run inside its private network namespace (nginx
already serves the staged release on the update host): starts VorlanePatcher.exe of the
demo installation under Wine, saves a screenshot of each phase the window shows, lets the
launched bot swap in the staged updater and stops it, then starts the updater once more
to show the up-to-date path. Prints what changed in the installation folder and writes
the same to <demo>/summary.txt. Everything it starts is ended before it returns.

  demo_run.py DEMO_DIR [--prefix WINEPREFIX] [--program TEXT] [--manual]

The Wine loader is VORLANE_WINE (the one of the build's word size); VORLANE_TIME_SCALE
multiplies every wait (under emulation every start is several times slower).
"""
import argparse
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import release_kit as kit  # noqa: E402
import window_driver as wd  # noqa: E402

BOT_FILES = ("Vorlane.runs", "Vorlane.stop")  # the test bot's own log and stop request
WINE = os.environ.get("VORLANE_WINE", "/usr/lib/wine/wine")
SCALE = int(os.environ.get("VORLANE_TIME_SCALE", "1"))
# The demo's own limit (VORLANE_DEMO_RUN_LIMIT s): no start of Wine outlives it, so a run that is
# too slow ends with everything it started ended, before demo.sh's outer bound.
DEADLINE = time.monotonic() + float(os.environ.get("VORLANE_DEMO_RUN_LIMIT", "1e9"))


def bounded(seconds):
    """`seconds`, or what is left before the demo's limit when that is less (at least 1)."""
    return max(1, int(min(seconds, DEADLINE - time.monotonic())))


class Display:
    """The user's display when it can be reached from here, else a private Xvfb."""

    def __init__(self, env, manual):
        self.env = env
        self.xvfb = None
        user = env.get("DISPLAY", "")
        if user and self.reachable():
            self.description = "your display " + user
            return
        if user:
            print("demo: display %s cannot be reached from the private namespace; using Xvfb" % user)
        if manual:
            raise RuntimeError("--manual needs a display that can be reached; %s cannot" % (user or "none is set"))
        self.xvfb, env["DISPLAY"] = wd.start_xvfb("1024x768")
        self.description = "a private Xvfb display " + env["DISPLAY"]

    def reachable(self):
        try:
            return subprocess.run(["xdotool", "getdisplaygeometry"], env=self.env, capture_output=True,
                                  timeout=10).returncode == 0
        except subprocess.TimeoutExpired:
            return False

    def close(self):
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
            self.xvfb = None


class Watcher:
    """Polls the updater's window and saves a screenshot the first time each phase shows."""

    def __init__(self, env, shots, prefix):
        self.env = env
        self.shots = shots
        self.prefix = prefix
        self.seen = []

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                              timeout=30).stdout

    def find_window(self):
        # A search can stall while Wine holds the X server (at a first start, and often under
        # emulation): one that takes too long counts as nothing found, and the loop asks again.
        try:
            found = self.xdotool("search", "--name", "^%s$" % wd.WINDOW_TITLE).split()
        except subprocess.TimeoutExpired:
            return None
        return found[0] if found else None

    def grab(self, window):
        values = dict(line.split("=", 1) for line in self.xdotool("getwindowgeometry", "--shell", window).split())
        origin = int(values["X"]), int(values["Y"])
        ppm = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], env=self.env,
                             capture_output=True, timeout=30, check=True).stdout
        return ppm, origin

    def save(self, ppm, origin, name):
        path = os.path.join(self.shots, "%s-%d-%s.png" % (self.prefix, len(self.seen) + 1, name))
        subprocess.run(["convert", "ppm:-", "-crop", "%dx%d+%d+%d" % (wd.WIDTH, wd.HEIGHT, *origin), "+repage",
                        path], input=ppm, timeout=30, check=True)
        return path

    def watch(self, proc, finished_name, timeout, on_tick):
        """Until the program ends (or `timeout` s): each new phase, seen on two frames in
        a row, is saved once. Returns the list of (phase, screenshot path)."""
        deadline = time.monotonic() + timeout
        window = None
        last = None
        while time.monotonic() < deadline and proc.poll() is None:
            on_tick()
            window = window or self.find_window()
            if not window:
                time.sleep(0.05)
                continue
            try:
                ppm, origin = self.grab(window)
                phase = wd.Shot(ppm, origin).phase()
            except (subprocess.SubprocessError, ValueError, KeyError, IndexError):
                # The window went away between the search and the capture.
                window = None if not self.find_window() else window
                continue
            if phase.startswith("unknown"):
                last = None
                continue
            name = finished_name if phase == wd.FINISHED else phase.replace("+botRunning", "-BotRunning")
            if phase == last and not any(seen == name for seen, _ in self.seen):
                self.seen.append((name, self.save(ppm, origin, name)))
                print("  %5.1f s  %s" % (time.monotonic() - proc.started, name), flush=True)
            last = phase
        return self.seen


def digests(folder):
    return {name: d for name, d in kit.tree_digests(folder).items() if name not in BOT_FILES}


def runs(folder):
    return wd.read_runs(folder)


def manifest_files(path):
    """{name: (digest, only if missing)} from the file records of a manifest."""
    files = {}
    with open(path, encoding="latin-1") as f:
        for line in f:
            if line.startswith("file="):
                name, _, digest, flag = line[5:].rstrip("\n").split("|")
                files[name] = (digest, flag == "1")
    return files


class Demo:
    def __init__(self, demo, manual, prefix, program):
        self.demo = demo
        self.manual = manual
        self.install = os.path.join(demo, "install")
        self.shots = os.path.join(demo, "screenshots")
        os.makedirs(self.shots, exist_ok=True)
        self.env = dict(os.environ, WINEPREFIX=prefix or os.path.join(demo, "wineprefix"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.lines = ["Program: " + program] if program else []

    def say(self, text=""):
        print(text, flush=True)
        self.lines.append(text)

    def wine(self, *args, timeout):
        # No pipes: a wineserver that stays in the background would hold them open.
        return subprocess.run(["timeout", "--kill-after=10", str(timeout), *args], env=self.env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)

    def prepare_prefix(self):
        if not os.path.isfile(os.path.join(self.env["WINEPREFIX"], "system.reg")):
            print("demo: making the Wine prefix (once, about half a minute%s)"
                  % (", longer under emulation" if SCALE > 1 else ""), flush=True)
            self.wine(WINE, "wineboot", "-i", timeout=bounded(300 * SCALE))
            # Until the prefix's set-up has ended: under emulation it goes on well after
            # wineboot returns, and an updater started meanwhile waits behind it.
            self.wine("wineserver", "-w", timeout=bounded(300 * SCALE))
        # One wineserver for the demo, started here, inside the namespace.
        self.wine("wineserver", "-p", timeout=30)

    def run_updater(self, label, finished_name):
        """One start of the updater; returns (exit code, phases seen, staged updater digest)."""
        args = [WINE, os.path.join(self.install, "VorlanePatcher.exe")] + ([] if self.manual else ["--auto"])
        limit = bounded((900 if self.manual else 300) * SCALE)
        # Wine's own messages (with WINEDEBUG=-all only those of a start that fails) are kept, to
        # name the cause when no window showed.
        errors = open(os.path.join(self.demo, "%s-wine.log" % label), "w+", errors="replace")
        proc = subprocess.Popen(["timeout", "--kill-after=10", str(limit), *args], env=self.env, cwd=self.install,
                                stdout=subprocess.DEVNULL, stderr=errors, start_new_session=True)
        proc.started = time.monotonic()
        print("%s: %s%s" % (label, "VorlanePatcher.exe", "" if self.manual else " --auto"), flush=True)
        if self.manual:
            print("  the window is yours: confirm the update, then launch the bot or close the window", flush=True)
        staged = {}

        # Looked for while the window is watched: the bot swaps the staged updater in soon
        # after the updater has launched it.
        def spot_staged():
            path = os.path.join(self.install, "VorlanePatcher.new.exe")
            if not staged and os.path.isfile(path):
                try:
                    staged["digest"] = kit.sha256_file(path)
                except OSError:
                    pass

        seen = Watcher(self.env, self.shots, label).watch(proc, finished_name, limit, spot_staged)
        try:
            code = proc.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, 9)
            code = proc.wait(timeout=10)
        spot_staged()
        if not seen:
            self.say("%s: no window was seen; exit code %d%s; %s" % (
                label, code, " (out of time)" if code in (124, 137) else "", self.start_failure(errors)))
        errors.close()
        return code, seen, staged.get("digest")

    def start_failure(self, errors):
        """Why Wine did not show the program: the loader's own message when it cannot be
        started at all (the kernel's "Exec format error" where 32-bit code does not run; sh
        gives it plainly, where the exec of `timeout` falls back to reading the file as a
        script), else the last lines Wine wrote."""
        probe = subprocess.run(["sh", "-c", 'exec "$0" --version', WINE], env=self.env, capture_output=True,
                               text=True, errors="replace", timeout=60 * SCALE)
        if probe.returncode != 0:
            return "Wine's loader cannot start: " + (probe.stderr.strip() or "exit status %d" % probe.returncode)
        errors.seek(0)
        said = [line.strip() for line in errors.read().splitlines() if line.strip().isprintable()]
        return "Wine said: " + (" / ".join(said[-3:]) if said else "nothing")

    def stop_bot(self, starts_before, wait=None):
        """Lets a launched bot start (and swap), then stops it. Returns its start line, or
        None when no bot started within `wait` s (a user may close without launching it)."""
        wait = wait or (5 if self.manual else 30 * SCALE)
        started = wd.wait_for(lambda: len([r for r in runs(self.install) if r.startswith("start")]) > starts_before,
                              wait)
        if not started:
            return None
        start_line = [r for r in runs(self.install) if r.startswith("start")][-1]
        kit.write_file(self.install, "Vorlane.stop", "")
        if wd.wait_for(lambda: len([r for r in runs(self.install) if r.startswith("stop")]) > starts_before,
                       30 * SCALE):
            os.remove(os.path.join(self.install, "Vorlane.stop"))
        return start_line

    def report_changes(self, before, after, release):
        self.say("What changed in %s:" % self.install)
        width = max(len(n) for n in set(before) | set(after))
        short = lambda d: d[:16] + "..." if d else "(none)".ljust(19)  # noqa: E731
        same = []
        for name in sorted(set(before) | set(after)):
            old, new = before.get(name), after.get(name)
            if old == new:
                same.append(name)
                continue
            self.say("  %-*s  %s -> %s" % (width, name, short(old), short(new)))
        if same:
            self.say("  unchanged: " + ", ".join(same))
        kept = [n for n in same if release.get(n, ("", False))[1]]
        if kept:
            self.say("  kept as the user has it (only-if-missing in the release): " + ", ".join(kept))
        differs = sorted(n for n, (digest, _) in release.items() if digest != after.get(n) and n not in kept)
        self.say("  every file now has the release's digest" if not differs
                 else "  NOT the release's digest: " + ", ".join(differs))
        with open(os.path.join(self.demo, "changes.txt"), "w") as f:
            for name in sorted(set(before) | set(after)):
                f.write("%s\t%s\t%s\n" % (name, before.get(name, "-"), after.get(name, "-")))
        return not differs

    def run(self):
        display = Display(self.env, self.manual)
        try:
            self.say("Showing the updater on %s." % display.description)
            self.prepare_prefix()
            release = manifest_files(os.path.join(self.demo, "release", "latest.txt"))
            before = digests(self.install)

            code, seen, staged = self.run_updater("run1", "Updated")
            bot = self.stop_bot(0)
            launcher = "The updater launched the bot"
            if not bot and os.path.isfile(os.path.join(self.install, "VorlanePatcher.new.exe")):
                # Closed without launching the bot: its next start, which swaps the updater in.
                print("The bot was not launched; starting it as its next start would.", flush=True)
                started = subprocess.Popen(["timeout", "--kill-after=10", str(60 * SCALE), WINE,
                                            os.path.join(self.install, "Vorlane.exe")], env=self.env,
                                           cwd=self.install, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                bot = self.stop_bot(0, wait=30 * SCALE)
                launcher = "The demo started the bot"
                started.wait(timeout=80 * SCALE)
            after = digests(self.install)
            self.say()
            installed = self.report_changes(before, after, release)
            same = False
            if staged:
                same = staged == release.get("VorlanePatcher.exe", ("",))[0]
                self.say("VorlanePatcher.new.exe was staged (%s..., %s the release's VorlanePatcher.exe)"
                         % (staged[:16], "the same as" if same else "NOT the same as"))
            else:
                self.say("VorlanePatcher.new.exe was not seen")
            if bot:
                self.say("%s: Vorlane.runs says \"%s\"%s" % (
                    launcher, bot, " (it swapped the staged updater in)" if bot.endswith("swapped") else ""))
            self.say("Updater exit code: %d; phases seen: %s" % (code, ", ".join(n for n, _ in seen) or "none"))
            if not self.manual:
                self.say("(With --auto, UpdateAvailable lasts one look at the bot; --manual shows it.)")

            self.say()
            starts = len([r for r in runs(self.install) if r.startswith("start")])
            code2, seen2, _ = self.run_updater("run2", "UpToDate")
            self.stop_bot(starts)
            unchanged = digests(self.install) == after
            self.say("Second run: exit code %d; phases seen: %s; %s" % (
                code2, ", ".join(n for n, _ in seen2) or "none", "no file changed" if unchanged else "FILES CHANGED"))
            self.say()
            self.say("Screenshots in %s:" % self.shots)
            for _, path in seen + seen2:
                self.say("  " + os.path.basename(path))
            # The whole road, not only the phases: the release's files, the staged updater and
            # the bot's start (a manual run may close without launching it).
            ok = (code == 0 and code2 == 0 and any(n == "Updated" for n, _ in seen)
                  and any(n == "UpToDate" for n, _ in seen2) and installed and same and unchanged
                  and (bot is not None or self.manual))
            return 0 if ok else 1
        finally:
            self.wine("wineserver", "-k", timeout=30)
            self.wine("wineserver", "-w", timeout=30)
            display.close()
            with open(os.path.join(self.demo, "summary.txt"), "w") as f:
                f.write("\n".join(self.lines) + "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("demo")
    parser.add_argument("--manual", action="store_true")
    parser.add_argument("--prefix")
    parser.add_argument("--program")
    args = parser.parse_args()
    try:
        return Demo(os.path.abspath(args.demo), args.manual, args.prefix, args.program).run()
    except RuntimeError as problem:
        print("demo: %s" % problem, file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print("demo: interrupted; everything it started is ended", file=sys.stderr)
        return 130


if __name__ == "__main__":
    sys.exit(main())
