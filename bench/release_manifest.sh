#!/usr/bin/env bash
# `vorlane-release manifest` over a release of 2,000 files and 1 GiB, next to sha256sum
# and `openssl dgst -sha256` over the same cached files in the same run. Prints figures;
# asserts nothing.
#   bench/release_manifest.sh [host build dir] [rounds]
set -euo pipefail
build=$(realpath "${1:-build/host}")
rounds=${2:-3}
tool="$build/vorlane-release"
[ -x "$tool" ] || { echo "build $tool first (cmake --build $build --target vorlane-release)"; exit 1; }
data="$build/bench-data/release-manifest"
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

# timed LABEL CMD...: one run, wall time in seconds and MB/s over 1 GiB.
timed() {
    local label=$1
    shift
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    python3 -c "import sys; t=float(sys.argv[2])-float(sys.argv[1]); print(f'  {sys.argv[3]:<34} {t:6.2f} s  {1073741824/t/1e6:6.0f} MB/s')" \
        "$start" "$end" "$label"
}

for round in $(seq "$rounds"); do
    echo "round $round"
    timed "sha256sum" xargs -0 sha256sum <"$data/names"
    timed "openssl dgst -sha256" xargs -0 openssl dgst -sha256 <"$data/names"
    timed "vorlane-release manifest" "$tool" manifest --version bench --out "$data/manifest.txt" "$rel"
done
