#!/usr/bin/env bash
# The network test harness itself, driven with curl: the namespace maps the update host to
# the local server, rules steer the answers, signed manifests verify with the key's public
# half, and the request log records what was asked.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export VORLANE_BUILD_DIR=${VORLANE_BUILD_DIR:-$src/build}
unset WINEPREFIX
mkdir -p "$tmp/root/download/1.0" "$tmp/state/control"
printf 'VLR1\nversion=1.0\n' >"$tmp/root/text.txt"
printf 'blank' >"$tmp/root/download/1.0/my file.txt"
printf 'e9' >"$tmp/root/download/1.0/caf$(printf '\351').txt"
head -c 200000 /dev/zero >"$tmp/root/zero.bin"
cat >"$tmp/state/control/rules" <<'RULES'
/text.txt sign=other
/zero.bin cut=1000 times=1
/teapot status=500
RULES

cat >"$tmp/inside.sh" <<'INSIDE'
set -u
url=https://$VORLANE_UPDATE_HOST
check() { [ "$1" = "$2" ] || { echo "FAILED: $3: got '$1', expected '$2'" >&2; exit 1; }; }
check "$(curl -sS "$url/download/1.0/my%20file.txt")" blank "percent-decoded name"
check "$(curl -sS "$url/download/1.0/caf%E9.txt")" e9 "byte 0xE9 in a name"
check "$(curl -sS -o /dev/null -w '%{http_code}' "$url/teapot")" 500 "status rule"
check "$(curl -sS -o /dev/null -w '%{http_code}' "$url/none")" 404 "missing file"
check "$(curl -s -o /dev/null -w '%{size_download}' "$url/zero.bin")" 1000 "cut body"
check "$(curl -s -o /dev/null -w '%{size_download}' "$url/zero.bin")" 200000 "times=1 used up"
curl -sS "$url/text.txt" >"$VORLANE_SERVER_STATE/signed.txt"
echo untrusted >"$VORLANE_SERVER_STATE/control/tls"
if curl -sS -o /dev/null "$url/text.txt" 2>/dev/null; then echo "FAILED: untrusted CA accepted" >&2; exit 1; fi
echo wronghost >"$VORLANE_SERVER_STATE/control/tls"
if curl -sS -o /dev/null "$url/text.txt" 2>/dev/null; then echo "FAILED: wrong host accepted" >&2; exit 1; fi
exit 0
INSIDE
bash "$src/tests/netns/with-update-server.sh" --state "$tmp/state" "$tmp/root" -- bash "$tmp/inside.sh"

# The signature that the server added verifies with the public half of the "other" key.
signed=$tmp/state/signed.txt
head -n 2 "$signed" >"$tmp/text"
sig=$(sed -n 's/^sig=//p' "$signed")
[ "${#sig}" = 128 ]
python3 - "$sig" "$tmp/sig.der" <<'PY'
import sys
raw = bytes.fromhex(sys.argv[1])
def integer(b):
    b = b.lstrip(b"\0")
    b = b"\0" + b if b[0] & 0x80 else b
    return b"\x02" + bytes([len(b)]) + b
body = integer(raw[:32]) + integer(raw[32:])
open(sys.argv[2], "wb").write(b"\x30" + bytes([len(body)]) + body)
PY
openssl ec -in "$VORLANE_BUILD_DIR/netns/certs/other-signing.pem" -pubout -out "$tmp/other.pub" 2>/dev/null
openssl dgst -sha256 -verify "$tmp/other.pub" -signature "$tmp/sig.der" "$tmp/text" >/dev/null

# Every request is in the log, with its path as sent; the refused TLS connections are not.
log=$tmp/state/requests.jsonl
[ "$(wc -l <"$log")" = 7 ]
grep -q '"path":"/download/1.0/caf%E9.txt"' "$log"
host=$(python3 "$src/tools/server_address.py" show | sed -n 's/^host=//p')
grep -q "\"headers\":\"Host: $host" "$log"
echo "update_server_test: ok"
