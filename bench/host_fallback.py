#!/usr/bin/env python3
"""What a first update host that is down costs a whole update: the real VorlanePatcher.exe
--auto under Wine over the installation and release of bench/whole_update.py (300 files /
512 MiB, 40 files / 200 MiB changed, served by nginx), in three set-ups that take turns:
  - good:    the build's first host is the server;
  - refused: the first host's address refuses connections, the second host is the server;
  - black hole: the first host's address answers nothing (its SYNs are dropped), the second
             host is the server.
Each run is timed from the start of the process to the last file moved into place. The time
lost on the first host is also read from the updater's own support log: the time of its
manifest attempt on that host (the "manifest ... serwer=<first host>" line).

The black hole is a listener on 127.0.0.9:443 that never accepts, its queue filled: the kernel
then drops every further SYN to it, as for a host whose packets go nowhere. The connection
attempt ends at the client's connect time-out (kConnectTimeoutMs, net/https_client_win32.cpp).

    python3 bench/host_fallback.py BUILD_DIR [ROUNDS]      (root; a build with 2+ update hosts)

Environment: VORLANE_BENCH_DATA, as bench/whole_update.py (its data is shared). Prints
figures; asserts nothing."""
import os
import re
import socket
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import whole_update as wu  # noqa: E402  (first: it sets up the environment window_driver reads)
import window_driver as wd  # noqa: E402

HOSTS = os.environ.get("VORLANE_UPDATE_HOSTS", os.environ.get("VORLANE_UPDATE_HOST", "")).split(",")
SERVER, DOWN = "127.0.0.1", "127.0.0.9"
SETUPS = ("good", "refused")


def point_hosts(addresses):
    """Maps each host name of `addresses` to its address in this namespace's /etc/hosts."""
    with open("/etc/hosts") as f:
        kept = [line for line in f.read().splitlines() if not set(line.split()[1:]) & set(addresses)]
    with open("/etc/hosts", "w") as f:
        f.write("\n".join(kept + ["%s %s" % (address, host) for host, address in addresses.items()]) + "\n")


def setup(name):
    if name == "good":
        point_hosts({HOSTS[0]: SERVER, HOSTS[1]: "127.0.0.2"})
    else:
        point_hosts({HOSTS[0]: DOWN, HOSTS[1]: SERVER})


def black_hole():
    """A listener on DOWN:443 whose queue is full: later SYNs are dropped. Returns its sockets."""
    listener = socket.socket()
    listener.bind((DOWN, 443))
    listener.listen(0)
    held = [listener]
    for _ in range(3):
        s = socket.socket()
        s.setblocking(False)
        try:
            s.connect((DOWN, 443))
        except BlockingIOError:
            pass
        held.append(s)
    time.sleep(0.5)
    probe = socket.socket()
    probe.settimeout(2)
    try:
        probe.connect((DOWN, 443))
        raise SystemExit("the black hole accepted a connection")
    except (TimeoutError, socket.timeout):
        pass
    finally:
        probe.close()
    return held


def first_host_ms(install):
    """The time of the manifest attempt on the first host, from the support log, or None."""
    try:
        log = open(os.path.join(install, "VorlanePatcher.log"), "rb").read().decode("ascii", "replace")
    except OSError:
        return None
    for line in log.split("\r\n"):
        m = re.search(r" manifest .*czas_ms=(\d+) .*serwer=%s$" % re.escape(HOSTS[0]), line)
        if m:
            return int(m.group(1))
    return None


def one(name, env, key):
    setup(name)
    install = wu.reset_installation()
    got = wu.run_arm("ours", env, install, key)
    first = first_host_ms(install)
    if got is None:
        return None
    return got[0], got[1], first


def inside(rounds):
    results = {"good": [], "refused": [], "black hole": []}
    with wu.wine_desktop() as (env, key):
        one("good", env, key)  # one-off work of the first start in this prefix
        for r in range(1, rounds + 1):
            line = []
            for name in (SETUPS if r % 2 else SETUPS[::-1]):
                got = one(name, env, key)
                results[name].append(got)
                line.append("%s %s" % (name, "FAILED" if got is None else "%.2f s wall, %.2f s CPU, first host "
                                       "%s ms" % got))
            print("round %d: %s" % (r, " | ".join(sorted(line))), flush=True)
        held = black_hole()
        try:
            for r in range(1, rounds + 1):
                got = one("refused", env, key)
                results["black hole"].append(got)
                print("black hole %d: %s" % (r, "FAILED" if got is None else
                                             "%.2f s wall, %.2f s CPU, first host %s ms" % got), flush=True)
        finally:
            for s in held:
                s.close()
    report(results)


def report(results):
    def med(name, i):
        values = [g[i] for g in results[name] if g and g[i] is not None]
        return statistics.median(values) if values else None

    print("\nwhole update, first host down, medians of %d rounds" % len(results["good"]))
    for name in ("good", "refused", "black hole"):
        if med(name, 0) is not None:
            print("  %-10s wall %.2f s  cpu %.2f s  first host's manifest attempt %s ms" %
                  (name, med(name, 0), med(name, 1), med(name, 2)))
    pairs = [(b, g) for b, g in zip(results["refused"], results["good"]) if b and g]
    if pairs:
        print("  refused/good per round, wall: %s" % " ".join("%.3f" % (b[0] / g[0]) for b, g in pairs))
        print("  refused/good, medians: %.3f (goal at most 1.05)" % (med("refused", 0) / med("good", 0)))
    if med("black hole", 0) is not None and med("refused", 0) is not None:
        print("  black hole: %.2f s lost on the first host (its attempt, from the log); whole update %.2f s "
              "longer than with the host refusing" % (med("black hole", 2) / 1000.0,
                                                       med("black hole", 0) - med("refused", 0)))


def main():
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    if os.environ.get("VORLANE_SERVER_STATE"):
        if len(HOSTS) < 2:
            print("the build has one update host: nothing to fall back to (configure it with two or more)")
            return 2
        inside(rounds)
        return 0
    for exe in (wd.PATCHER, wd.BOT):
        if not os.path.isfile(exe):
            print("build %s first (cmake --build %s --target VorlanePatcher test_bot)" % (exe, wu.BUILD))
            return 1
    began = time.monotonic()
    wu.make_data()
    wu.publish()
    print("data ready in %.0f s under %s" % (time.monotonic() - began, wu.DATA), flush=True)
    wd.ensure_base_prefix()
    runner = os.path.join(wu.SOURCE, "tests", "netns", "with-update-server.sh")
    env = dict(os.environ, WINEPREFIX=wd.BASE_PREFIX)
    return subprocess.run(["bash", runner, "--nginx", "--state", os.path.join(wu.DATA, "server"),
                           os.path.join(wu.DATA, "root"), "--", sys.executable, os.path.abspath(__file__)] + sys.argv[1:],
                          env=env, timeout=3000).returncode


if __name__ == "__main__":
    sys.exit(main())
