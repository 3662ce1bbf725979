"""Drives the real VorlanePatcher.exe under Wine on a private X display (Xvfb), the way a
user would: xdotool for the mouse and keys, screenshots for what the window shows.

The phase is read from pixels that do not depend on glyphs: the left end of the main
button's gradient (its accent or the disabled fill), whether the "ZAMKNIJ" caption is bright
(enabled) or dim, and whether the status line holds the warning colour. Every wait is bounded.
"""
import hashlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

BUILD = os.environ.get("VORLANE_BUILD_DIR", "")
SOURCE = os.environ.get("VORLANE_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BASE_PREFIX = os.environ.get("WINEPREFIX", os.path.join(BUILD, "wineprefix"))
# The Wine loader of the build's word size, named by the build (never /usr/bin/wine's choice).
WINE = os.environ.get("VORLANE_WINE", "/usr/lib/wine/wine")
PATCHER = os.path.join(BUILD, "bin", "VorlanePatcher.exe")
BOT = os.path.join(BUILD, "tests", "bot", "Vorlane.exe")
NEXT_BOT = os.path.join(BUILD, "tests", "bot-2.6.0.1", "Vorlane.exe")
ARTIFACTS = os.path.join(BUILD, "test-artifacts", "e2e")
# The support log the updater appends beside itself on every run: not installation content.
UPDATER_LOGS = ("VorlanePatcher.log", "VorlanePatcher.old.log")

sys.path.insert(0, os.path.join(SOURCE, "tests", "fixtures"))
import update_server  # noqa: E402
import vlsign  # noqa: E402



def _manifest_path():
    """The manifest path this build was configured with: its ctest environment gives it
    (VORLANE_MANIFEST_PATH), else the build's generated tables."""
    if os.environ.get("VORLANE_MANIFEST_PATH"):
        return os.environ["VORLANE_MANIFEST_PATH"]
    shown = subprocess.run([sys.executable, os.path.join(SOURCE, "tools", "server_address.py"), "show"],
                           capture_output=True, text=True, timeout=30, check=True).stdout
    return shown.split("path=", 1)[1].strip()


MANIFEST_PATH = _manifest_path()  # "/vlr/latest.txt" by default

WINDOW_TITLE = "Vorlane Updater"
WIDTH, HEIGHT = 620, 430

# Client points, from the window layout.
MAIN_BUTTON = (333, 358)
CLOSE_BUTTON = (518, 358)
CLOSE_GLYPH = (592, 26)
BUTTON_GAP = (443, 358)  # between the two lower buttons: no button, so it drags
MAIN_SAMPLE = (234, 344)  # inside the main button, left of its caption

# Left end of the main button: the accent darkened by 30 %, 10 % when hovered, or the disabled fill.
MAIN_LOOKS = {
    "accent": [(0x40, 0x7B, 0xB2), (0x52, 0x9E, 0xE5)],
    "success": [(0x3A, 0x97, 0x62), (0x4A, 0xC3, 0x7E)],
    "warning": [(0xA9, 0x7E, 0x35), (0xD9, 0xA2, 0x44)],
    "disabled": [(0x1C, 0x20, 0x2B)],
}
WARNING = (0xF2, 0xB5, 0x4C)

# The phases as the window shows them. UpToDate and Updated look alike at these pixels.
CHECKING, FINISHED, OFFERED, OFFERED_BOT_RUNNING, DOWNLOADING, FAILED = (
    "Checking", "UpToDate/Updated", "UpdateAvailable", "UpdateAvailable+botRunning", "Downloading", "Failed")


def _distance(a, b):
    return max(abs(x - y) for x, y in zip(a, b))


class Shot:
    """One screenshot of the root window, read as RGB (from a binary PPM)."""

    def __init__(self, ppm, origin):
        parts = []
        at = 0
        while len(parts) < 4:  # magic, width, height, maxval, skipping comments
            while ppm[at:at + 1].isspace():
                at += 1
            if ppm[at:at + 1] == b"#":
                at = ppm.index(b"\n", at)
                continue
            end = at
            while not ppm[end:end + 1].isspace():
                end += 1
            parts.append(ppm[at:end])
            at = end
        if parts[0] != b"P6":
            raise ValueError("not a binary PPM")
        self.width, self.height, maxval = int(parts[1]), int(parts[2]), int(parts[3])
        self.step = 2 if maxval > 255 else 1
        self.data = ppm[at + 1:]
        self.origin = origin

    def pixel(self, x, y):
        """RGB of the window's client point (x, y)."""
        sx, sy = self.origin[0] + x, self.origin[1] + y
        at = (sy * self.width + sx) * 3 * self.step
        return tuple(self.data[at + i * self.step] for i in range(3))

    def count(self, rect, test):
        left, top, right, bottom = rect
        return sum(1 for y in range(top, bottom) for x in range(left, right) if test(self.pixel(x, y)))

    def region(self, rect):
        left, top, right, bottom = rect
        return [self.pixel(x, y) for y in range(top, bottom) for x in range(left, right)]

    def main_look(self):
        colour = self.pixel(*MAIN_SAMPLE)
        best = min((_distance(colour, ref), name) for name, refs in MAIN_LOOKS.items() for ref in refs)
        return best[1] if best[0] <= 24 else "unknown %02x%02x%02x" % colour

    def close_caption_bright(self):
        return self.count((460, 345, 576, 371), lambda p: min(p) >= 0xC0) > 0

    def status_in_warning(self):
        return self.count((34, 248, 588, 272), lambda p: _distance(p, WARNING) <= 40) > 0

    def phase(self):
        look = self.main_look()
        if look == "success":
            return FINISHED
        if look == "accent":
            return OFFERED
        if look == "warning":
            return FAILED
        if look == "disabled":
            if not self.close_caption_bright():
                return DOWNLOADING
            return OFFERED_BOT_RUNNING if self.status_in_warning() else CHECKING
        return look


class Session:
    """A private X display, a private copy of the build's Wine prefix and a scratch folder;
    everything started in it is ended when the session closes."""

    def __init__(self, name, screen="1024x768"):
        self.name = name
        self.screen = screen
        self.work = tempfile.mkdtemp(prefix="vorlane-e2e-%s-" % name, dir=os.path.join(BUILD, "tests"))
        self.artifacts = os.path.join(ARTIFACTS, name)
        shutil.rmtree(self.artifacts, ignore_errors=True)
        os.makedirs(self.artifacts)
        self.prefix = os.path.join(self.work, "wineprefix")
        self.xvfb = None
        self.processes = []
        self.env = dict(os.environ)

    def __enter__(self):
        if os.environ.get("VORLANE_SERVER_STATE"):
            # Inside the server's namespace the runner hands over a prefix copy of this run's own.
            self.prefix = os.environ["WINEPREFIX"]
        else:
            ensure_base_prefix()
            # A copy of its own: no wineserver of another test (or outside this network
            # namespace) serves this prefix.
            subprocess.run(["cp", "-a", BASE_PREFIX, self.prefix], check=True, timeout=300)
        self.xvfb, display = start_xvfb(self.screen)
        self.env.update(DISPLAY=display, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        return self

    def __exit__(self, *exc):
        for proc in self.processes:
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait(timeout=10)
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=30, check=False)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=30, check=False)
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait(timeout=10)
        shutil.rmtree(self.work, ignore_errors=True)
        return False

    # --- processes -----------------------------------------------------------------------
    def install(self, folder, bot=BOT, patcher=PATCHER):
        """An installation folder below the scratch area with the updater and the bot."""
        path = os.path.join(self.work, folder)
        os.makedirs(path, exist_ok=True)
        shutil.copy2(patcher, os.path.join(path, "VorlanePatcher.exe"))
        if bot:
            shutil.copy2(bot, os.path.join(path, "Vorlane.exe"))
        return path

    def start(self, exe, *args, timeout=300):
        proc = subprocess.Popen(["timeout", "--kill-after=10", str(timeout), WINE, exe, *args], env=self.env,
                                cwd=self.work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                start_new_session=True)
        proc.started = time.monotonic()
        self.processes.append(proc)
        return proc

    def xdotool(self, *args, check=True):
        return subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True, text=True,
                              timeout=30, check=check).stdout

    def search(self):
        """Ids of the updater's windows. A search can stall while Wine holds the X server
        (seen at the first start in a fresh prefix), so one that takes too long counts as
        nothing found and the caller's bounded loop asks again."""
        try:
            return subprocess.run(["xdotool", "search", "--name", "^%s$" % WINDOW_TITLE], env=self.env,
                                  capture_output=True, text=True, timeout=5).stdout.split()
        except subprocess.TimeoutExpired:
            return []

    # --- the window ----------------------------------------------------------------------
    def find_window(self, timeout=60.0):
        """The updater's window id, or None when it does not appear within `timeout` s."""
        deadline = time.monotonic() + timeout
        while True:
            found = self.search()
            if found:
                return found[0]
            if time.monotonic() > deadline:
                return None
            time.sleep(0.05)

    def window_exists(self):
        return bool(self.search())

    def wait_gone(self, timeout):
        deadline = time.monotonic() + timeout
        while self.window_exists():
            if time.monotonic() > deadline:
                return False
            time.sleep(0.05)
        return True

    def origin(self, window):
        out = self.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in out.split())
        return int(values["X"]), int(values["Y"])

    def shot(self, window, save_as=None):
        """A screenshot of the whole screen, read at the window's place; saved as PNG if named."""
        origin = self.origin(window)
        ppm = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], env=self.env,
                             capture_output=True, timeout=30, check=True).stdout
        if save_as:
            path = os.path.join(self.artifacts, save_as + ".png")
            subprocess.run(["convert", "ppm:-", "-crop", "%dx%d+%d+%d" % (WIDTH, HEIGHT, *origin), "+repage",
                            path], input=ppm, timeout=30, check=True)
        return Shot(ppm, origin)

    def phase(self, window):
        return self.shot(window).phase()

    def wait_phase(self, window, wanted, timeout, save_as=None):
        """Polls the window until it shows one of `wanted`; returns that phase, or the last
        one seen (so a failing assertion names it)."""
        wanted = {wanted} if isinstance(wanted, str) else set(wanted)
        deadline = time.monotonic() + timeout
        seen = None
        while time.monotonic() < deadline:
            if not self.window_exists():
                return "window gone (last seen %s)" % seen
            shot = self.shot(window)
            seen = shot.phase()
            if seen in wanted:
                # Two frames in a row, so a phase is not read from a half-copied screen.
                shot = self.shot(window, save_as)
                if shot.phase() == seen:
                    return seen
            time.sleep(0.1)
        return seen

    def click(self, window, point):
        self.xdotool("mousemove", "--window", window, point[0], point[1], "click", "1")
        self.park_pointer()

    def park_pointer(self):
        # Off the window (it is centred on a 1024 x 768 screen), so no hover look remains.
        self.xdotool("mousemove", 2, 2)

    def key(self, window, name):
        self.xdotool("key", "--window", window, name)

    def drag(self, window, start, by, steps=4):
        """Presses at client point `start`, moves the pointer by `by` in steps and releases."""
        self.xdotool("mousemove", "--window", window, start[0], start[1], "mousedown", "1")
        for _ in range(steps):
            time.sleep(0.1)
            self.xdotool("mousemove_relative", "--sync", "--", by[0] // steps, by[1] // steps)
        time.sleep(0.2)
        self.xdotool("mouseup", "1")
        self.park_pointer()


def ensure_base_prefix():
    """Makes the build's Wine prefix once (scripts/wine-run.sh, under its lock)."""
    env = dict(os.environ, WINEPREFIX=BASE_PREFIX)
    subprocess.run(["bash", os.path.join(SOURCE, "scripts", "wine-run.sh"), "--make-prefix"], env=env, timeout=400,
                   check=True)


def wait_exit(proc, timeout):
    """The exit code, or None when the process is still running after `timeout` s."""
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


def wine_process(proc, name="VorlanePatcher.exe"):
    """The pid of the Wine process below `proc` (started by Session.start) that runs the
    Windows program `name`, or None."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                continue
            children.setdefault(ppid, []).append(int(entry))
    pending = list(children.get(proc.pid, []))
    while pending:
        pid = pending.pop()
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                if name.encode() in f.read():
                    return pid
        except OSError:
            pass
        pending.extend(children.get(pid, []))
    return None


def read_runs(folder):
    """The bot's start and stop log (the test bot appends one line per start)."""
    try:
        with open(os.path.join(folder, "Vorlane.runs")) as f:
            return f.read().splitlines()
    except FileNotFoundError:
        return []


def wait_for(predicate, timeout, interval=0.1):
    deadline = time.monotonic() + timeout
    while True:
        if predicate():
            return True
        if time.monotonic() > deadline:
            return False
        time.sleep(interval)


def windows_path(path):
    """How Wine names a Linux path (its Z: drive)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def start_xvfb(screen):
    """Starts a private Xvfb of `screen` ("WxH") at 24 bits; returns (process, DISPLAY).
    Xvfb picks a free display number itself and reports it on a pipe."""
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", screen + "x24", "-nolisten", "tcp"],
                            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    deadline = time.monotonic() + 20
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        chunk = os.read(read_fd, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_fd)
    if not number.strip():
        xvfb.kill()
        xvfb.wait(timeout=10)
        raise RuntimeError("Xvfb did not start")
    return xvfb, ":" + number.decode().strip()


def _rerun(command, env, timeout):
    """Runs the test again in its namespace, bounded; the whole process group ends with it."""
    proc = subprocess.Popen(command, env=env, start_new_session=True)
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        print("timed out after %d s" % timeout)
        return 1


def run_with_server(script, name, timeout=900):
    """Runs the calling test again inside tests/netns/with-update-server.sh: a private network
    namespace where the program's update host is a local HTTPS server serving a folder of
    this test's own. `script` is the test's path, or a list of it and its arguments.
    Returns the exit status outside, False inside."""
    if os.environ.get("VORLANE_SERVER_STATE"):
        return False
    ensure_base_prefix()
    base = os.path.join(BUILD, "tests", "e2e-server", name)
    shutil.rmtree(base, ignore_errors=True)
    os.makedirs(base)
    env = dict(os.environ, WINEPREFIX=BASE_PREFIX)
    runner = os.path.join(SOURCE, "tests", "netns", "with-update-server.sh")
    args = script if isinstance(script, list) else [script]
    return _rerun(["bash", runner, "--state", os.path.join(base, "server"), os.path.join(base, "root"), "--",
                   sys.executable, *args], env, timeout)


def run_isolated(script):
    """Runs the calling test again inside a private network namespace with only a loopback
    device (no server): the program's request fails at once and touches nothing outside."""
    if os.environ.get("VORLANE_E2E_ISOLATED") == "1":
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True, timeout=10)
        return False
    env = dict(os.environ, VORLANE_E2E_ISOLATED="1")
    return _rerun(["unshare", "-n", "--", sys.executable, script], env, 600)


def channel_manifest(channel=None):
    """The served path (without its leading "/") of a channel's manifest: the program's
    manifest path D/F for the default channel, D/<channel>/F for another."""
    folder, name = MANIFEST_PATH[1:].rpartition("/")[::2]
    if not channel:
        return MANIFEST_PATH[1:]
    return "%s/%s/%s" % (folder, channel, name) if folder else "%s/%s" % (channel, name)


class Release:
    """A release on the test server: its files under /download/<version>/ and its manifest,
    signed with the build's development key, at the program's manifest path."""

    MANIFEST = MANIFEST_PATH[1:]

    def __init__(self, version, notes="Poprawki\\nNowe funkcje"):
        self.server = update_server.State(os.environ["VORLANE_SERVER_STATE"], os.environ["VORLANE_SERVER_ROOT"])
        self.server.clear_requests()  # the log of an earlier test in the same run
        self.version = version
        self.notes = notes
        self.files = []

    def add(self, name, content):
        self.files.append((name, len(content), hashlib.sha256(content).hexdigest()))
        self.server.serve("download/%s/%s" % (self.version, name), content)
        return self

    def publish(self, *rules, records="", at_channel=None):
        """Signs and serves the manifest; `records` (lines with their LF) stand after the magic line.
        With `at_channel` it is served at that channel's manifest path (D/<channel>/F) instead;
        the channel record, if any, is part of `records`."""
        text = "VLR1\n%sversion=%s\ndate=2026-12-09\nnotes=%s\n" % (records, self.version, self.notes)
        text += "".join("file=%s|%d|%s|0\n" % entry for entry in self.files)
        key = os.path.join(os.environ.get("VORLANE_DEV_KEY_DIR", os.path.join(SOURCE, "build", "devkey")),
                           "private.pem")
        self.server.serve(channel_manifest(at_channel), vlsign.signed_manifest(text, key))
        self.server.set_rules(*rules)
        return self

    def requests(self, prefix="/"):
        return [r["path"] for r in self.server.requests() if r["path"].startswith(prefix)]


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()
