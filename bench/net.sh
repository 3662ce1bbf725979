#!/usr/bin/env bash
# The network side next to the bare platform under Wine and native tools, in one run:
#   - SHA-256 of a cached 512 MiB file: Sha256FileHex, a bare CNG loop, sha256sum;
#   - a 256 MiB download from the local server (tests/netns, HTTPS on loopback):
#     DownloadReleaseFile, a bare WinHTTP loop, curl;
#   - the resident memory of the Wine process during a 1 GiB download.
# Prints figures; asserts nothing. Needs root (the namespace) and about 2 GiB of disk.
#   bench/net.sh [win32 build dir] [rounds]
# Environment: VORLANE_BENCH_DATA, where the data is kept (default: <build>/bench-data);
# VORLANE_BENCH_NGINX=1 serves the downloads with nginx instead of the Python server;
# VORLANE_BENCH_SKIP_DIGEST=1 leaves out the SHA-256 part.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build/win32}")
rounds=${2:-3}
exe="$build/bench/net_bench.exe"
[ -f "$exe" ] || { echo "build $exe first (cmake --build $build --target net_bench)"; exit 1; }
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
export VORLANE_BUILD_DIR=$build
data="${VORLANE_BENCH_DATA:-$build/bench-data}/net"
root="$data/root"
mkdir -p "$root/download/bench" "$data/out"

skip_digest=${VORLANE_BENCH_SKIP_DIGEST:-0}
server_option=()
[ "${VORLANE_BENCH_NGINX:-0}" = 1 ] && server_option=(--nginx)

# The data is made once and kept: random bytes (the content does not change the cost).
[ "$skip_digest" = 1 ] || [ "$(stat -c %s "$data/digest.bin" 2>/dev/null)" = 536870912 ] ||
    head -c 536870912 /dev/urandom >"$data/digest.bin"
[ "$(stat -c %s "$root/download/bench/file256.bin" 2>/dev/null)" = 268435456 ] ||
    head -c 268435456 /dev/urandom >"$root/download/bench/file256.bin"
[ "$(stat -c %s "$root/download/bench/file1g.bin" 2>/dev/null)" = 1073741824 ] ||
    head -c 1073741824 /dev/urandom >"$root/download/bench/file1g.bin"
cat "$root/download/bench/file256.bin" >/dev/null  # into the page cache

if [ "$skip_digest" != 1 ]; then
    cat "$data/digest.bin" >/dev/null
    echo "== SHA-256 of a cached 512 MiB file"
    for r in $(seq 1 "$rounds"); do
        TIMEFORMAT="round $r: sha256sum (native) %R s wall, %U+%S s CPU"
        time sha256sum "$data/digest.bin" >/dev/null
    done
    wine_path() { echo "Z:$(echo "$1" | tr / '\\')"; }
    WINE_TIMEOUT=900 "$here/../scripts/wine-run.sh" "$exe" digest "$(wine_path "$data/digest.bin")" "$rounds"
    timeout 30 wineserver -k 2>/dev/null || true
fi

echo "== 256 MiB over HTTPS from the local ${server_option:+nginx }server, then 1 GiB for the resident memory"
cat >"$data/inside.sh" <<'INSIDE'
set -euo pipefail
exe=$1 out=$2 rounds=$3
wine_path() { echo "Z:$(echo "$1" | tr / '\\')"; }
for r in $(seq 1 "$rounds"); do
    TIMEFORMAT="round $r: curl (native) %R s wall, %U+%S s CPU"
    time curl -sS -o "$out/curl.bin" "https://$VORLANE_UPDATE_HOST/download/bench/file256.bin"
    rm -f "$out/curl.bin"
done
timeout 900 "${VORLANE_WINE:-/usr/lib/wine/wine}" "$exe" download bench file256.bin 268435456 "$(wine_path "$out/file256.bin.download")" "$rounds"

# The resident size of the Wine process, seen from Linux every 0.2 s during 1 GiB.
timeout 900 "${VORLANE_WINE:-/usr/lib/wine/wine}" "$exe" memory bench file1g.bin 1073741824 "$(wine_path "$out/file1g.bin.download")" &
wine_pid=$!
peak=0 samples=0 pid=""
while kill -0 "$wine_pid" 2>/dev/null; do
    # The Windows process itself (Wine names it after the executable), not its launchers.
    pid=${pid:-$(pgrep -x net_bench.exe | head -n 1 || true)}
    if [ -n "$pid" ] && [ -r "/proc/$pid/status" ]; then
        rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
        [ "${rss:-0}" -gt "$peak" ] && peak=$rss
        samples=$((samples + 1))
    fi
    sleep 0.2
done
wait "$wine_pid"
echo "peak VmRSS of the Wine process over $samples samples: $((peak / 1024)) MiB"
INSIDE
bash "$here/../tests/netns/with-update-server.sh" --state "$data/server" "${server_option[@]}" "$root" -- \
    bash "$data/inside.sh" "$exe" "$data/out" "$rounds"
