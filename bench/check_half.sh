#!/usr/bin/env bash
# The update check over an installation of 2,000 files and 1 GiB that all match the
# manifest: our check under Wine, a bare CNG loop under Wine, and sha256sum natively,
# in one run over the same (cached) files. Prints figures; asserts nothing.
#   bench/check_half.sh [win32 build dir] [rounds]
# The data is kept under $VORLANE_BENCH_DATA (default: <build>/bench-data).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build/win32}")
rounds=${2:-3}
exe="$build/bench/check_half_bench.exe"
[ -x "$exe" ] || { echo "build $exe first (cmake --build $build --target check_half_bench)"; exit 1; }
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
data="${VORLANE_BENCH_DATA:-$build/bench-data}/check-half"
inst="$data/inst"

# 2,000 files of 536,871 bytes (1 GiB together) in 20 folders, made once and kept.
size=536871
if [ "$(find "$inst" -type f -size ${size}c 2>/dev/null | wc -l)" != 2000 ]; then
    rm -rf "$data"
    mkdir -p "$inst"
    python3 - "$inst" "$size" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(20):
    os.makedirs(f"{root}/d{d:02}", exist_ok=True)
    for f in range(100):
        with open(f"{root}/d{d:02}/f{f:03}.bin", "wb") as out:
            out.write(os.urandom(int(sys.argv[2])))
PY
fi
cd "$inst"
find . -type f -printf '%P\n' | sort >"$data/names"
cat $(cat "$data/names") >/dev/null  # into the page cache

echo "== sha256sum (native), $(wc -l <"$data/names") files"
python3 - "$data/names" "$data/sums" "$rounds" "$((size * 2000))" <<'PY'
import resource, subprocess, sys, time
names, sums, rounds, total = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
for r in range(1, rounds + 1):
    before, start = resource.getrusage(resource.RUSAGE_CHILDREN), time.monotonic()
    with open(names) as i, open(sums, "w") as o:
        subprocess.run(["xargs", "sha256sum"], stdin=i, stdout=o, check=True)
    wall, after = time.monotonic() - start, resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    print(f"round {r}: {wall:.2f} s wall, {cpu:.2f} s CPU ({total / wall / 1e6:.0f} MB/s)")
PY

# The manifest's signed text (the check reads it already parsed; no signature needed here).
{
    printf 'VLR1\nversion=bench\n'
    while read -r sum name; do
        printf 'file=%s|%s|%s|0\n' "$name" "$size" "$sum"
    done <"$data/sums"
} >"$data/manifest.txt"

echo "== under Wine: our check half, then a bare CNG loop, per round"
wine_inst="Z:$(echo "$inst" | tr / '\\')\\"
wine_manifest="Z:$(echo "$data/manifest.txt" | tr / '\\')"
WINE_TIMEOUT=900 "$here/../scripts/wine-run.sh" "$exe" "$wine_inst" "$wine_manifest" "$rounds"
timeout 30 wineserver -k 2>/dev/null || true
