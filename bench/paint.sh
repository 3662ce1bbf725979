#!/usr/bin/env bash
# The time of one window paint under Wine, on a real window in a virtual X display
# (xvfb-run) and off-screen. Prints figures; asserts nothing.
#   bench/paint.sh [win32 build dir] [paints]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build/win32}")
paints=${2:-300}
exe="$build/bench/paint_bench.exe"
[ -x "$exe" ] || { echo "build $exe first (cmake --build $build --target paint_bench)"; exit 1; }
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
if command -v xvfb-run >/dev/null; then
    WINE_TIMEOUT=300 xvfb-run -a -s "-screen 0 1280x1024x24" "$here/../scripts/wine-run.sh" "$exe" "$paints"
else
    WINE_TIMEOUT=300 "$here/../scripts/wine-run.sh" "$exe" "$paints"
fi
timeout 30 wineserver -k 2>/dev/null || true
