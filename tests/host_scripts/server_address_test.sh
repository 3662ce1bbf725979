#!/usr/bin/env bash
# The update servers' hosts and manifest path as a build input: the configured build's
# tables decode to what it was configured with, tables for other names (shorter ones and
# lists too) decode back to them, and the configure step refuses names the updater cannot use.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tool="$here/../../tools/server_address.py"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

build=${VORLANE_BUILD_DIR:?VORLANE_BUILD_DIR must name the build tree}
[ "$(python3 "$tool" show --tables "$build/generated/net/server_address_tables.h")" = \
  "host=${VORLANE_UPDATE_HOST:?}"$'\n'"path=${VORLANE_MANIFEST_PATH:?}" ]
for seed in 1 2 3; do
    python3 "$tool" write --seed "$seed" --tables "$tmp/t.h" upd.example.test /rel/manifest.1 >/dev/null
    [ "$(python3 "$tool" show --tables "$tmp/t.h")" = $'host=upd.example.test\npath=/rel/manifest.1' ]
done
python3 "$tool" write --tables "$tmp/t.h" a.example.com /m >/dev/null
[ "$(python3 "$tool" show --tables "$tmp/t.h")" = $'host=a.example.com\npath=/m' ]
# The longest host name the updater holds, 64 characters, is taken whole.
longest=$(printf 'a%.0s' {1..60}).com
python3 "$tool" write --tables "$tmp/long.h" "$longest" /m >/dev/null
[ "$(python3 "$tool" show --tables "$tmp/long.h")" = "host=$longest"$'\npath=/m' ]
# Several hosts, in the order given: the table holds the list.
python3 "$tool" write --tables "$tmp/list.h" upd.example.com,b.example.net,"$longest" /m >/dev/null
[ "$(python3 "$tool" show --tables "$tmp/list.h")" = "host=upd.example.com,b.example.net,$longest"$'\npath=/m' ]
grep -q 'kHostCount = 3U;' "$tmp/list.h"
# Unchanged names keep their constants, so a new configure rebuilds nothing.
cp "$tmp/t.h" "$tmp/before.h"
python3 "$tool" write --keep-if-same --tables "$tmp/t.h" a.example.com /m >/dev/null
cmp -s "$tmp/t.h" "$tmp/before.h"

# refused HOST PATH MESSAGE [configure]: the names are refused with MESSAGE and nothing is
# written; with "configure", through the configure step itself.
refused() {
    local out
    local command=(python3 "$tool" write --tables "$tmp/bad.h" -- "$1" "$2")
    [ "${4:-}" = configure ] && command=(cmake -DVORLANE_UPDATE_HOST="$1" -DVORLANE_MANIFEST_PATH="$2"
        -DOUT="$tmp/bad.h" -P "$here/../../cmake/server_address.cmake")
    if out=$("${command[@]}" 2>&1); then
        echo "accepted host [$1] path [$2]" >&2
        exit 1
    fi
    grep -qF -- "$3" <<<"$(tr -s ' \n' '  ' <<<"$out")" || { echo "no [$3] in: $out" >&2; exit 1; }
    [ ! -e "$tmp/bad.h" ]
}
refused Upd.Example.com /m "lowercase letters" configure
refused upd.example.com /a/manifest.txt1 "2 to 15 characters" configure
refused localhost /m "a DNS name"
refused a.example.com,Upd.example.com /m '"Upd.example.com": the host name must be a DNS name' configure
refused a.example.com, /m '"": the host name must be a DNS name'
refused "a.example.com;b.example.com" /m "a DNS name"
refused a.example.com,b.example.com,a.example.com /m '"a.example.com" is listed twice'
refused "$(printf 'h%d.example.com,' 1 2 3 4 5 6 7 8)h9.example.com" /m "at most 8 update hosts"
refused "upd.example.com:8443" /m "a DNS name"
refused "$(printf 'a%.0s' {1..61}).com" /m "at most 64 characters"
refused upd.example.com m.txt 'begin with "/"'
refused upd.example.com "/a b" 'begin with "/"'
refused upd.example.com /a/../b 'segments'
refused upd.example.com /a//b 'segments'
refused upd.example.com /m%20 'begin with "/"'
echo "server_address_test: ok"
