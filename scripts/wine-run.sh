#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix named by WINEPREFIX (the build's own),
# making the prefix on first use. Every run is bounded by WINE_TIMEOUT seconds.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the prefix of the build}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        timeout 300 wineboot -i >/dev/null 2>&1 || true
        timeout 60 wineserver -w || true
    fi
) 9>"$WINEPREFIX.lock"
exec timeout --kill-after=10 "${WINE_TIMEOUT:-600}" wine "$@"
