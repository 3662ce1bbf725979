#!/usr/bin/env bash
# vorlane-release publish and probe end to end. publish: to a local folder and over a
# remote shell, the files first and the manifest last, a changed version refused, a copy
# that arrived wrong caught before the manifest goes up. probe: Debian's nginx, configured
# as docs/nginx-example.conf, serves the published tree as the update host; a correct
# server passes, and a missing file, a stale manifest, other content and a server that
# takes "+" for a blank each fail with their own line.
set -euo pipefail

src=$(cd "$(dirname "$0")/../.." && pwd)
keys=${VORLANE_DEV_KEY_DIR:-$src/build/devkey}
export VORLANE_BUILD_DIR=${VORLANE_BUILD_DIR:-$src/build}
unset WINEPREFIX
source "$src/tests/host_scripts/tool_test_lib.sh"

# expect RC TEXT WHAT: the last run exited RC and said TEXT (stdout or stderr).
expect() {
    [ "$rc" -eq "$1" ] || fail "$3: exit $rc, expected $1: $(cat out.txt err.txt)"
    grep -qF -- "$2" out.txt err.txt || fail "$3: no [$2] in: $(cat out.txt err.txt)"
}

# traced WHAT CMD...: runs the tool under strace, recording file creations and renames
# (rsync's too) in trace.txt.
traced() {
    set +e
    # LeakSanitizer cannot run under ptrace: a sanitizer build is traced without it.
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
        strace -f -qq -o trace.txt -e trace=open,openat,rename,renameat,renameat2 "$T" "$@" >out.txt 2>err.txt
    rc=$?
    set -e
}
# in_order WHAT: in trace.txt the manifest was never written under its own name, only
# renamed there from a temporary one, after the last file of the version was renamed
# into place.
in_order() {
    python3 - "$(basename "$manifest_rel")" <<'PY' || fail "$1: not the files first, then the manifest by rename"
import re, sys
base = sys.argv[1]
final = lambda p: p == base or p.endswith("/" + base)
lines = open("trace.txt").read().splitlines()
written = [l for l in lines if "open" in l and re.search(r"O_(WRONLY|RDWR|CREAT)", l)
           and final(re.search(r'"([^"]*)"', l).group(1))]
renamed = [(i, re.findall(r'"([^"]*)"', l)[-1]) for i, l in enumerate(lines) if "rename" in l and "= 0" in l]
manifest = [i for i, target in renamed if final(target)]
files = [i for i, target in renamed if "download/" in target]
sys.exit(0 if not written and len(manifest) == 1 and files and max(files) < manifest[0] else 1)
PY
}

# The manifest's place under a document root, as this build has it.
manifest_rel=$("$T" publish --help | sed -n 's|^The manifest path of this build: DEST/||p')
[ -n "$manifest_rel" ] || { echo "publish --help does not name the manifest path" >&2; exit 1; }

# stage_release VERSION: release files (a "+" and a blank in one name, a file larger than
# one transfer block), signed and staged into staged-VERSION/.
stage_release() {
    local v=$1
    rm -rf "rel-$v"
    mkdir -p "rel-$v/data"
    echo "Vorlane $v" >"rel-$v/readme.txt"
    echo "plus and blank" >"rel-$v/data/a b+c.txt"
    head -c 300000 /dev/urandom >"rel-$v/data/big.bin"
    "$T" manifest --version "$v" --out "m-$v.txt" "rel-$v" 2>/dev/null
    "$T" sign --key "$keys/private.pem" "m-$v.txt" >/dev/null
    "$T" stage --release-dir "rel-$v" --signed "m-$v.txt" --out "staged-$v" >/dev/null
}
stage_release 1.0
stage_release 2.0

# --- publish to a local folder -------------------------------------------------------
mkdir www
run publish --staged staged-1.0 --public "$keys/public.key" www
expect 0 "Published version 1.0" "local publish"
cmp -s "staged-1.0/$manifest_rel" "www/$manifest_rel" || fail "local publish: the manifest is not in place"
diff -r staged-1.0/download www/download >/dev/null || fail "local publish: the files differ"
[ "$(stat -c %a www/download/1.0)" = 755 ] || fail "local publish: the version folder is not 0755"
ls -A "www/$(dirname "$manifest_rel")" | grep -q '^\.' && fail "local publish: a temporary file was left"
run publish --staged staged-1.0 www
expect 0 "Published version 1.0" "publishing the same version again"

# A copy that arrives with other bytes of the same size (a shim over rsync damages it
# after the copy) is caught by its digest; the old manifest stays.
mkdir shim
cat >shim/rsync <<'SHIM'
#!/bin/sh
/usr/bin/rsync "$@" || exit $?
case " $* " in *" --ignore-existing "*) [ -z "${DAMAGE:-}" ] || sh -c "$DAMAGE" ;; esac
SHIM
chmod +x shim/rsync
DAMAGE="printf 'X' | dd of=$work/www/download/2.0/readme.txt bs=1 count=1 conv=notrunc 2>/dev/null" \
    PATH="$work/shim:$PATH" run publish --staged staged-2.0 www
expect 1 "www/download/2.0/readme.txt: its SHA-256 is not the manifest's" "damaged local copy"
grep -qF "the manifest was not published" err.txt || fail "damaged local copy: no word on the manifest"
cmp -s "staged-1.0/$manifest_rel" "www/$manifest_rel" || fail "damaged local copy: the manifest was replaced"
# That version folder now holds other files: refused, and the manifest still untouched.
run publish --staged staged-2.0 www
expect 1 "www/download/2.0/readme.txt: holds other content" "changed version folder"
expect 1 "a published version must not change" "changed version folder"
cmp -s "staged-1.0/$manifest_rel" "www/$manifest_rel" || fail "changed version folder: the manifest was replaced"
rm -rf www/download/2.0
echo extra >www/download/1.0/extra.txt
run publish --staged staged-1.0 www
expect 1 "www/download/1.0/extra.txt: not in the manifest of version 1.0" "extra file in the version folder"
rm www/download/1.0/extra.txt
traced publish --staged staged-2.0 www
expect 0 "Published version 2.0" "local publish of 2.0"
in_order "local publish of 2.0"
cmp -s "staged-2.0/$manifest_rel" "www/$manifest_rel" || fail "local publish of 2.0: not the new manifest"

# --- publish over a remote shell ---------------------------------------------------------
# rsh.sh stands in for ssh: it runs rsync's remote side here.
mkdir remote
printf '#!/bin/sh\nshift\nexec sh -c "$*"\n' >rsh.sh
chmod +x rsh.sh
export RSYNC_RSH=$work/rsh.sh
traced publish --staged staged-2.0 "fakehost:$work/remote"
expect 0 "Published version 2.0" "remote publish"
in_order "remote publish"
diff -r staged-2.0 remote >/dev/null || fail "remote publish: the tree differs from the staged one"
# A copy cut short on the remote side is caught by its size.
rm -rf remote
mkdir remote
DAMAGE="truncate -s 100 $work/remote/download/2.0/data/big.bin" PATH="$work/shim:$PATH" \
    run publish --staged staged-2.0 "fakehost:$work/remote"
expect 1 "data/big.bin: 100 bytes arrived, the manifest says 300000" "remote copy cut short"
[ ! -e "remote/$manifest_rel" ] || fail "remote copy cut short: the manifest was published"
run publish --staged staged-2.0 "fakehost:$work/remote"
expect 1 "remote/download/2.0/data/big.bin: holds other content" "remote changed version folder"
unset RSYNC_RSH

# --- probe against nginx --------------------------------------------------------------
cat >inside.sh <<'INSIDE'
set -u
T=$1 work=$2 keys=$3 manifest_rel=$4 src=$5
cd "$work"
url=https://$VORLANE_UPDATE_HOST
www=$VORLANE_SERVER_ROOT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# probe RC LINE WHAT ARGS...: probe must exit RC and print LINE.
probe() {
    local want=$1 line=$2 what=$3
    shift 3
    "$T" probe --public "${probe_key:-$keys/public.key}" "$@" >out.txt 2>err.txt
    local rc=$?
    [ "$rc" = "$want" ] || fail "$what: exit $rc, expected $want: $(cat out.txt err.txt)"
    grep -qF -- "$line" out.txt || fail "$what: no [$line] in: $(cat out.txt err.txt)"
}
probe 0 "summary: all 3 files as the manifest says" "correct server" --signed "staged-2.0/$manifest_rel" \
    --ca-file "$VORLANE_CERT_DIR/ca.pem" --resolve "$VORLANE_UPDATE_HOST:443:127.0.0.1" "$url"
grep -qF "ok      data/a b+c.txt (15 B)" out.txt || fail "correct server: no line for the odd name: $(cat out.txt)"
grep -qF "ok      ranges: an interrupted download continues where it ended" out.txt ||
    fail "correct server: no line for the ranges: $(cat out.txt)"
# The requests were the updater's: its manifest path and the encoded names.
grep -qF "GET /download/2.0/data/a%20b%2Bc.txt 200" "$VORLANE_SERVER_STATE/nginx-access.log" ||
    fail "the name was not requested as the updater encodes it: $(cat "$VORLANE_SERVER_STATE/nginx-access.log")"

mv "$www/download/2.0/data/big.bin" big.bin
probe 1 "FAILED  data/big.bin: HTTP 404 for /download/2.0/data/big.bin" "missing file" "$url"
grep -qF "summary: 1 of 3 files not as the manifest says" out.txt || fail "missing file: summary: $(cat out.txt)"
mv big.bin "$www/download/2.0/data/big.bin"

cp "$www/download/2.0/readme.txt" readme.txt
echo "Vorlane 2.X" >"$www/download/2.0/readme.txt"
probe 1 "FAILED  readme.txt: other content from /download/2.0/readme.txt" "other content" "$url"
cp readme.txt "$www/download/2.0/readme.txt"

cp "staged-1.0/$manifest_rel" "$www/$manifest_rel"
probe 1 "the server serves version 1.0, not 2.0 of staged-2.0/$manifest_rel" "stale manifest" \
    --signed "staged-2.0/$manifest_rel" "$url"
probe 0 "summary: all 3 files" "the old release, still whole, without --signed" "$url"
# Signed by another key, and longer than the updater reads (though signed and whole).
"$T" keygen --out other >/dev/null
probe_key=other/public.key probe 1 "the updater reports \"podpis manifestu sie nie zgadza\"" "another key" "$url"
{ sed '/^sig=/d' "staged-2.0/$manifest_rel"; printf 'pad=%0600000d\n' 0; } >padded.txt
python3 "$src/tests/fixtures/vlsign.py" "$keys/private.pem" padded.txt >"$www/$manifest_rel"
probe 1 "longer than 524288 bytes; the updater reads no more" "manifest over the limit" "$url"
cp "staged-2.0/$manifest_rel" "$www/$manifest_rel"

# A second nginx on port 8443, the same site but taking "+" for a blank in file paths,
# as some object stores do, and serving no ranges.
mkdir -p plus
bash "$src/tests/netns/nginx-conf.sh" "$www" "$VORLANE_CERT_DIR" "$work/plus" "$work/plus" |
    sed -e 's/listen 443 ssl;/listen 8443 ssl;/' \
        -e 's|location /download/ {|&\n        rewrite "^([^+]*)[+](.*)$" "$1 $2" last;\n        max_ranges 0;|' \
        >plus/nginx.conf
grep -q 'listen 8443' plus/nginx.conf && grep -q 'rewrite' plus/nginx.conf || fail "the + server's configuration"
nginx -p "$work/plus" -e "$work/plus/nginx-error.log" -c "$work/plus/nginx.conf" &
plus_pid=$!
for _ in $(seq 1 50); do
    curl -s -o /dev/null --max-time 2 "$url:8443/" && break
    sleep 0.1
done
probe 1 "FAILED  data/a b+c.txt: HTTP 404 for /download/2.0/data/a%20b%2Bc.txt; the name holds \"+\"" \
    "+ taken for a blank" "$url:8443"
grep -qF "note: the updater of this build asks $url; probing $url:8443" out.txt || fail "no note on the other port"
grep -qF "warning ranges: /download/2.0/" out.txt && grep -qF "answers HTTP 200 for its last byte, not 206" out.txt ||
    fail "no warning for a server without ranges: $(cat out.txt)"
kill "$plus_pid"
wait "$plus_pid" 2>/dev/null
exit $((failures > 0))
INSIDE
bash "$src/tests/netns/with-update-server.sh" --nginx --state "$work/state" "$work/www" -- \
    bash "$work/inside.sh" "$T" "$work" "$keys" "$manifest_rel" "$src" || fail "probe against nginx"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "publish and probe: all checks passed"
