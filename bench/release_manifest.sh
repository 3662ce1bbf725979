#!/usr/bin/env bash
# `vorlane-release manifest` over a release of 2,000 files and 1 GiB, next to sha256sum
# and `openssl dgst -sha256` over the same cached files in the same run. Prints figures;
# asserts nothing.
#   bench/release_manifest.sh [host build dir] [rounds]
# The data is kept under $VORLANE_BENCH_DATA (default: <build>/bench-data).
set -euo pipefail
build=$(realpath "${1:-build/host}")
rounds=${2:-3}
tool="$build/vorlane-release"
[ -x "$tool" ] || { echo "build $tool first (cmake --build $build --target vorlane-release)"; exit 1; }
data="${VORLANE_BENCH_DATA:-$build/bench-data}/release-manifest"
rel="$data/release"

# 2,000 files in 40 folders, sizes from a few bytes to tens of MiB (log-normal, fixed
# seed), 1 GiB in all; made once and kept for later runs.
if [ "$(find "$rel" -type f 2>/dev/null | wc -l)" != 2000 ]; then
    rm -rf "$data"
    mkdir -p "$rel"
    python3 - "$rel" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(20261209)
weights = [rng.lognormvariate(0, 1.6) for _ in range(2000)]
total = 1 << 30
sizes = [int(w * total / sum(weights)) for w in weights]
sizes[0] += total - sum(sizes)
for i, size in enumerate(sizes):
    folder = f"{root}/dir{i % 40:02}"
    os.makedirs(folder, exist_ok=True)
    with open(f"{folder}/file {i:04}.bin", "wb") as out:
        while size:
            n = min(size, 1 << 20)
            out.write(os.urandom(n))
            size -= n
PY
fi
cd "$rel"
find . -type f -printf '%P\0' | sort -z >"$data/names"
xargs -0 cat <"$data/names" >/dev/null  # into the page cache
echo "$(tr -cd '\0' <"$data/names" | wc -c) files, $(du -sb . | cut -f1) bytes, $(nproc) cores"

# timed LABEL STDIN CMD...: one run; wall time, MB/s over the bytes, and the CPU time
# of the command (user + system), which other load on the machine does not inflate.
timed() {
    python3 - "$@" <<'PY'
import os, resource, subprocess, sys, time
label, stdin, cmd = sys.argv[1], sys.argv[2], sys.argv[3:]
before = resource.getrusage(resource.RUSAGE_CHILDREN)
start = time.monotonic()
with open(stdin, "rb") as inp:
    subprocess.run(cmd, stdin=inp, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
wall = time.monotonic() - start
after = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
print(f"  {label:<26} wall {wall:6.2f} s {1073741824 / wall / 1e6:6.0f} MB/s   cpu {cpu:6.2f} s")
PY
}

for round in $(seq "$rounds"); do
    echo "round $round (load average $(cut -d' ' -f1 /proc/loadavg))"
    timed "sha256sum" "$data/names" xargs -0 sha256sum
    timed "openssl dgst -sha256" "$data/names" xargs -0 openssl dgst -sha256
    timed "vorlane-release manifest" /dev/null "$tool" manifest --version bench --out "$data/manifest.txt" "$rel"
done
