#!/usr/bin/env bash
# Runs the Windows network tests (winnet_tests.exe, built from tests/winnet/*.cpp) under
# Wine inside a private namespace with the local update server; see
# tests/netns/with-update-server.sh and tests/winnet/test_server.h. CTest calls it with the
# executable; extra arguments go to the executable (e.g. --gtest_filter=HttpsFetch.*).
# Needs WINEPREFIX and VORLANE_BUILD_DIR (CTest sets both).
set -euo pipefail
exe=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix of the build}"
: "${VORLANE_BUILD_DIR:?VORLANE_BUILD_DIR must name the build tree}"
work=$VORLANE_BUILD_DIR/winnet
rm -rf "$work"
mkdir -p "$work/root" "$work/files"
# Stalls are closed by the server after 20 s at the latest; the whole run is bounded too.
exec bash "$here/../netns/with-update-server.sh" --state "$work/server" --stall-limit 20 "$work/root" -- \
    timeout --kill-after=10 "${WINNET_TIMEOUT:-900}" "${VORLANE_WINE:-/usr/lib/wine/wine}" "$exe" "$@"
