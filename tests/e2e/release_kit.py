"""A publisher's release made the way the README tells publishers to make it, served by
nginx inside a private network namespace: the pieces the static-server and code-signing
tests share with scripts/demo.sh.

  tool()                 the host build's vorlane-release
  publish(...)           manifest, sign, verify and stage a release folder
  run_auto_pass(...)     one start of the updater with --auto, to its end; stop_bot(...)
  run_pass_to(...)       one start without --auto, to a phase, closed with Escape
  tree_digests(folder)   {name with "/": SHA-256} of every file below a folder but the
                         updater's own log
  run_behind_nginx(...)  runs the calling test again inside tests/netns/with-update-server.sh
                         --nginx; inside, nginx_log() reads what nginx answered
"""
import hashlib
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_driver as wd  # noqa: E402

BUILD = os.environ.get("VORLANE_BUILD_DIR", "")
SOURCE = os.environ.get("VORLANE_SOURCE_DIR",
                        os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
DEV_KEY_DIR = os.environ.get("VORLANE_DEV_KEY_DIR", os.path.join(SOURCE, "build", "devkey"))


def tool():
    """vorlane-release of the host build that goes with this Windows build: VORLANE_RELEASE_TOOL,
    else the sibling tree (build/x-win32 -> build/x-host), else build/host."""
    candidates = [os.environ.get("VORLANE_RELEASE_TOOL", "")]
    if BUILD:
        parent, name = os.path.split(os.path.abspath(BUILD))
        head, found, tail = name.rpartition("win32")
        if found:
            candidates.append(os.path.join(parent, head + "host" + tail, "vorlane-release"))
    candidates.append(os.path.join(SOURCE, "build", "host", "vorlane-release"))
    for path in candidates:
        if path and os.access(path, os.X_OK):
            return path
    raise RuntimeError("no vorlane-release: build the host preset first (looked at %s)"
                       % ", ".join(p for p in candidates if p))


def run_release_tool(*args, **kwargs):
    """Runs vorlane-release; the finished process (exit code, stdout, stderr as text)."""
    return subprocess.run([tool(), *args], capture_output=True, text=True, timeout=120, **kwargs)


def release_tool(*args, **kwargs):
    """Runs vorlane-release; its output as text. Fails the caller on a non-zero exit."""
    done = run_release_tool(*args, **kwargs)
    if done.returncode != 0:
        raise RuntimeError("vorlane-release %s failed (%d):\n%s%s"
                           % (" ".join(args), done.returncode, done.stdout, done.stderr))
    return done.stdout


_last_serial = 0


def next_serial():
    """The signing time as sign takes it by default, but above the last one given: releases
    signed within one second must still follow each other."""
    global _last_serial
    _last_serial = max(int(time.time()), _last_serial + 1)
    return str(_last_serial)


def publish(release_dir, version, manifest, server_root, notes=None, only_if_missing=(), key_dir=DEV_KEY_DIR,
            next_key=None):
    """The publisher's steps over a finished release folder (code-signing, if any, is
    done before): the manifest, its signature by the key in `key_dir` (the build's
    development key unless told), the check the updater makes of it, and the server tree.
    `next_key` (a public key file) makes it a key rotation. Returns the signed manifest's path."""
    args = ["manifest", "--version", version, "--date", "2026-12-09", "--out", manifest]
    if notes:
        notes_file = manifest + ".notes"
        with open(notes_file, "w") as f:
            f.write(notes)
        args += ["--notes-file", notes_file]
    for pattern in only_if_missing:
        args += ["--only-if-missing", pattern]
    release_tool(*args, release_dir)
    rotation = ["--next-key", next_key] if next_key else []
    release_tool("sign", "--key", os.path.join(key_dir, "private.pem"), "--release-dir", release_dir, *rotation,
                 "--serial", next_serial(), manifest)
    public = os.path.join(key_dir, "public.key")
    release_tool("verify", "--public", public, manifest)
    release_tool("stage", "--release-dir", release_dir, "--signed", manifest, "--out", server_root,
                 "--public", public, *rotation)
    return manifest


def check(manifest, install_dir):
    """What `vorlane-release check` says the updater would do with an installation."""
    return release_tool("check", "--public", os.path.join(DEV_KEY_DIR, "public.key"), manifest, install_dir)


def sha256_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def tree_digests(folder):
    found = {}
    for parent, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(parent, name)
            if parent == folder and name in wd.UPDATER_LOGS:
                continue
            found[os.path.relpath(path, folder).replace(os.sep, "/")] = sha256_file(path)
    return found


def write_file(folder, name, data):
    path = os.path.join(folder, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())
    return path


def run_auto_pass(test, session, install, shot_name):
    """One start with --auto: it ends on its own, launching the bot. Returns the requests
    nginx answered during it."""
    before = len(nginx_log())
    proc = session.start(os.path.join(install, "VorlanePatcher.exe"), "--auto", timeout=180)
    window = session.find_window(60)
    test.assertIsNotNone(window, "no window")
    test.assertEqual(session.wait_phase(window, wd.FINISHED, 120, save_as=shot_name), wd.FINISHED)
    test.assertTrue(session.wait_gone(30), "auto mode did not close the window")
    test.assertEqual(wd.wait_exit(proc, 30), 0)
    return nginx_log()[before:]


def run_pass_to(test, session, install, phase, shot_name):
    """One start without --auto that must end in `phase` (the window then waits for the
    user, who closes it with Escape). Returns the requests nginx answered during it."""
    before = len(nginx_log())
    proc = session.start(os.path.join(install, "VorlanePatcher.exe"), timeout=120)
    window = session.find_window(60)
    test.assertIsNotNone(window, "no window")
    test.assertEqual(session.wait_phase(window, phase, 60, save_as=shot_name), phase)
    session.key(window, "Escape")
    test.assertTrue(session.wait_gone(15))
    test.assertEqual(wd.wait_exit(proc, 15), 0)
    return nginx_log()[before:]


def stop_bot(test, install, starts):
    """Waits for the bot's start number `starts` (the updater launched it), then stops it."""
    def count(what):
        return len([r for r in wd.read_runs(install) if r.startswith(what)])
    test.assertTrue(wd.wait_for(lambda: count("start") >= starts, 30),
                    "the bot was not launched: %s" % wd.read_runs(install))
    write_file(install, "Vorlane.stop", "")
    test.assertTrue(wd.wait_for(lambda: count("stop") >= starts, 30), "the bot did not stop")
    os.remove(os.path.join(install, "Vorlane.stop"))


def run_behind_nginx(script, name, timeout=600):
    """Outside the namespace: runs `script` again inside tests/netns/with-update-server.sh
    --nginx, nginx serving <build>/tests/<name>/root, and returns its exit status. Inside:
    returns None; VORLANE_SERVER_ROOT names the served tree (empty; the test stages into it).

    The runner gets the build's prefix and hands the test a network copy of it whose
    wineserver lives in the namespace (window_driver.Session then uses that copy)."""
    if os.environ.get("VORLANE_SERVER_STATE"):
        return None
    wd.ensure_base_prefix()
    work = os.path.join(BUILD, "tests", name)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, "root"))
    env = dict(os.environ, WINEPREFIX=wd.BASE_PREFIX)
    command = ["bash", os.path.join(SOURCE, "tests", "netns", "with-update-server.sh"), "--nginx", "--state",
               os.path.join(work, "server"), os.path.join(work, "root"), "--", sys.executable, script]
    return wd._rerun(command, env, timeout)


def nginx_log():
    """The requests nginx answered so far in this run: (method, uri as sent, status)."""
    path = os.path.join(os.environ["VORLANE_SERVER_STATE"], "nginx-access.log")
    with open(path) as f:
        return [tuple(line.split()[:3]) for line in f if line.strip()]
