#!/usr/bin/env bash
# The update check over an installation of 2,000 files and 1 GiB that all match the
# manifest: our check under Wine, a bare CNG loop under Wine, and sha256sum natively,
# in one run over the same (cached) files. Prints figures; asserts nothing.
#   bench/check_half.sh [win32 build dir] [rounds]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build/win32}")
rounds=${2:-3}
exe="$build/bench/check_half_bench.exe"
[ -x "$exe" ] || { echo "build $exe first (cmake --build $build --target check_half_bench)"; exit 1; }
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
data="$build/bench-data/check-half"
inst="$data/inst"

# 2,000 files of 512 KiB in 20 folders, made once and kept for later runs.
if [ "$(find "$inst" -type f 2>/dev/null | wc -l)" != 2000 ]; then
    rm -rf "$data"
    mkdir -p "$inst"
    python3 - "$inst" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(20):
    os.makedirs(f"{root}/d{d:02}", exist_ok=True)
    for f in range(100):
        with open(f"{root}/d{d:02}/f{f:03}.bin", "wb") as out:
            out.write(os.urandom(524288))
PY
fi
cd "$inst"
find . -type f -printf '%P\n' | sort >"$data/names"
cat $(cat "$data/names") >/dev/null  # into the page cache

echo "== sha256sum (native), $(wc -l <"$data/names") files"
for round in $(seq "$rounds"); do
    start=$(date +%s.%N)
    xargs sha256sum <"$data/names" >"$data/sums"
    end=$(date +%s.%N)
    python3 -c "import sys; t=float(sys.argv[2])-float(sys.argv[1]); print(f'round {sys.argv[3]}: {t:.2f} s ({1073741824/t/1e6:.0f} MB/s)')" \
        "$start" "$end" "$round"
done

# The manifest's signed text (the check reads it already parsed; no signature needed here).
{
    printf 'VLR1\nversion=bench\n'
    while read -r sum name; do
        printf 'file=%s|524288|%s|0\n' "$name" "$sum"
    done <"$data/sums"
} >"$data/manifest.txt"

echo "== under Wine: our check half, then a bare CNG loop, per round"
wine_inst="Z:$(echo "$inst" | tr / '\\')\\"
wine_manifest="Z:$(echo "$data/manifest.txt" | tr / '\\')"
WINE_TIMEOUT=900 "$here/../scripts/wine-run.sh" "$exe" "$wine_inst" "$wine_manifest" "$rounds"
timeout 30 wineserver -k 2>/dev/null || true
