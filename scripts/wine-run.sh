#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix named by WINEPREFIX (the build's own),
# making the prefix on first use. Every run is bounded by WINE_TIMEOUT seconds.
#   wine-run.sh PROGRAM [ARG...]      wine-run.sh --make-prefix   (only make the prefix)
# The loader is named, never left to /usr/bin/wine (which picks the 32-bit one whenever it is
# installed): VORLANE_WINE, set by the build for its word size (/usr/lib/wine/wine for the
# 32-bit build, /usr/lib/wine/wine64 with WINEARCH=win64 for the 64-bit one).
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the prefix of the build}"
loader=${VORLANE_WINE:-/usr/lib/wine/wine}
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        timeout "${WINE_BOOT_TIMEOUT:-300}" "$loader" wineboot -i >/dev/null 2>&1 || true
        timeout 60 wineserver -w || true
    fi
) 9>"$WINEPREFIX.lock"
[ "${1:-}" != --make-prefix ] || exit 0
exec timeout --kill-after=10 "${WINE_TIMEOUT:-600}" "$loader" "$@"
