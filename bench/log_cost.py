#!/usr/bin/env python3
"""What the support log costs a whole update: the update of whole_update.py (300 files, 40
changed, 200 MiB, served by nginx), run by the real VorlanePatcher.exe --auto with its log on
(as shipped: the pass writes about 450 lines) and off (a folder named VorlanePatcher.log stands
where the log would be, so the program cannot open it and writes nothing). The two take turns
at going first; each is timed from its start to the last file moved into place. The machine's
noise between two such runs is far above the log's cost, so the cost of one line is also
measured on its own (bench/win/log_write_bench.cpp: 5,000 lines under Wine) and multiplied by
the lines of a pass.

    python3 bench/log_cost.py BUILD_DIR [ROUNDS]      (root; the win32 build)

Prints figures; asserts nothing."""
import os
import re
import statistics
import subprocess
import sys
import time

import whole_update as wu  # sets up the environment from the same arguments

wd = wu.wd


def run_once(with_log, env, key):
    install = wu.reset_installation()
    if not with_log:
        os.mkdir(os.path.join(install, "VorlanePatcher.log"))
    got = wu.run_arm("ours", env, install, key)
    lines = 0
    log = os.path.join(install, "VorlanePatcher.log")
    if with_log and os.path.isfile(log):
        lines = open(log, "rb").read().count(b"\n")
    return got, lines


def line_cost(env):
    """Microseconds of wall time per line, from log_write_bench.exe in a scratch folder."""
    folder = os.path.join(wu.DATA, "log-bench")
    os.makedirs(folder, exist_ok=True)
    out = subprocess.run(["timeout", "120", wd.WINE, os.path.join(wu.BUILD, "bench", "log_write_bench.exe"),
                          wd.windows_path(folder), "5000"], env=env, capture_output=True, text=True).stdout
    print(out.strip(), flush=True)
    m = re.search(r"([\d.]+) us wall", out)
    return float(m.group(1)) if m else None


def inside(rounds):
    results = {True: [], False: []}
    lines_seen = []
    with wu.wine_desktop() as (env, key):
        per_line = line_cost(env)
        run_once(True, env, key)  # one-off work of the first start in this prefix
        for r in range(1, rounds + 1):
            order = (True, False) if r % 2 else (False, True)
            line = []
            for with_log in order:
                got, lines = run_once(with_log, env, key)
                name = "log on" if with_log else "log off"
                if got is None or got[6] < 0.2:  # failed, or its window never painted (see whole_update.py)
                    results[with_log].append(None)
                    line.append("%s: left out" % name)
                    continue
                results[with_log].append(got)
                if with_log:
                    lines_seen.append(lines)
                line.append("%s %.2f s wall, %.2f s CPU%s" % (name, got[0], got[1],
                                                              ", %d lines" % lines if with_log else ""))
            print("round %d: %s" % (r, " | ".join(line)), flush=True)
    pairs = [(on, off) for on, off in zip(results[True], results[False]) if on and off]
    if not pairs:
        print("no round with both arms")
        return
    print("\nwhole update with the support log, medians of %d rounds:" % len(pairs))
    for name, i in (("log on", 0), ("log off", 1)):
        print("  %-8s wall %.2f s  cpu %.2f s" % (name, statistics.median(p[i][0] for p in pairs),
                                                   statistics.median(p[i][1] for p in pairs)))
    print("  on/off per round, wall: %s; CPU: %s" % (" ".join("%.3f" % (on[0] / off[0]) for on, off in pairs),
                                                      " ".join("%.3f" % (on[1] / off[1]) for on, off in pairs)))
    print("  on/off of the medians, wall: %.3f" % (statistics.median(on[0] for on, _ in pairs) /
                                                   statistics.median(off[0] for _, off in pairs)))
    if per_line and lines_seen:
        lines = statistics.median(lines_seen)
        cost = lines * per_line / 1000.0
        print("  the log's own cost: %d lines a pass x %.1f us = %.1f ms, %.3f %% of the median pass with the log off"
              % (lines, per_line, cost, cost / 10.0 / statistics.median(off[0] for _, off in pairs)))


def main():
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    if os.environ.get("VORLANE_SERVER_STATE"):
        inside(rounds)
        return 0
    if not os.path.isfile(wd.PATCHER) or not os.path.isfile(wd.BOT):
        print("build the win32 preset first (VorlanePatcher, test_bot)")
        return 1
    wu.make_data()
    wu.publish()
    wd.ensure_base_prefix()
    runner = os.path.join(wu.SOURCE, "tests", "netns", "with-update-server.sh")
    env = dict(os.environ, WINEPREFIX=wd.BASE_PREFIX)
    return subprocess.run(["bash", runner, "--nginx", "--state", os.path.join(wu.DATA, "server"),
                           os.path.join(wu.DATA, "root"), "--", sys.executable, os.path.abspath(__file__)] + sys.argv[1:],
                          env=env, timeout=3000).returncode


if __name__ == "__main__":
    sys.exit(main())
