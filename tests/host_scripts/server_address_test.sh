#!/usr/bin/env bash
# tools/server_address.py: the committed tables decode to the chosen server, new tables
# for another server decode back to it, and texts of the wrong length are refused.
set -euo pipefail
tool="$(dirname "$0")/../../tools/server_address.py"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

[ "$(python3 "$tool" show)" = $'host=upd.vorlane.test\npath=/vlr/latest.txt' ]
for seed in 1 2 3; do
    python3 "$tool" write --seed "$seed" --tables "$tmp/t.h" upd.example.test /rel/manifest.1 >/dev/null
    [ "$(python3 "$tool" show --tables "$tmp/t.h")" = $'host=upd.example.test\npath=/rel/manifest.1' ]
done
if python3 "$tool" write --tables "$tmp/bad.h" short.example /rel/manifest.1 2>/dev/null; then
    echo "a 13-character host name was accepted" >&2
    exit 1
fi
[ ! -e "$tmp/bad.h" ]
echo "server_address_test: ok"
