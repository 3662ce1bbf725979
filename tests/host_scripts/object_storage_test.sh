#!/usr/bin/env bash
# vorlane-release publish and prune to object storage through Debian's rclone, against a
# real S3-compatible server (npm's s3rver, installed by scripts/bootstrap.sh into
# build/s3server) on 127.0.0.1 in a network namespace of the test's own, path-style as R2
# and most S3 clones are reached. A release lands with the files first and the manifest
# last, each object with its Cache-Control as served; a second publish killed halfway
# leaves the old manifest served and its files whole, and a repeat completes it; prune
# --dry-run lists and keeps, prune removes only what no live manifest names (the default
# one and a channel's) and is older than the last N in dotted-numeric order.
set -euo pipefail

src=$(cd "$(dirname "$0")/../.." && pwd)
keys=${VORLANE_DEV_KEY_DIR:-$src/build/devkey}
s3server=${VORLANE_S3SERVER_DIR:-$src/build/s3server}/node_modules/.bin/s3rver
command -v rclone >/dev/null && [ -e "$s3server" ] ||
    { echo "object_storage_test: needs rclone and $s3server (run scripts/bootstrap.sh)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "object_storage_test: needs root for its network namespace" >&2; exit 77; }
if [ "${1:-}" != --inside ]; then
    exec unshare --net -- bash "$0" --inside
fi
ip link set lo up
source "$src/tests/host_scripts/tool_test_lib.sh"

expect() {
    [ "$rc" -eq "$1" ] || fail "$3: exit $rc, expected $1: $(cat out.txt err.txt)"
    grep -qF -- "$2" out.txt err.txt || fail "$3: no [$2] in: $(cat out.txt err.txt)"
}
manifest_rel=$("$T" publish --help | sed -n 's|^The manifest path of this build: DEST/||p')
[ -n "$manifest_rel" ] || { echo "publish --help does not name the manifest path" >&2; exit 1; }

# The server, on a port of its choosing, its objects under data/.
mkdir data
node "$s3server" -d data -a 127.0.0.1 -p 0 --no-vhost-buckets --configure-bucket vorlane >s3.log 2>&1 &
s3_pid=$!
trap 'kill "$s3_pid" 2>/dev/null; wait "$s3_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
port=
for _ in $(seq 1 100); do
    port=$(sed -n 's/^S3rver listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' s3.log)
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "s3rver did not start: $(cat s3.log)" >&2; exit 1; }
site=http://127.0.0.1:$port/vorlane/site

# rclone reaches it as any S3 remote, from the environment alone. (rclone 1.60 refuses to
# start an S3 remote while AWS_CA_BUNDLE is set for a plain-HTTP endpoint.)
unset AWS_CA_BUNDLE AWS_PROFILE AWS_ACCESS_KEY_ID AWS_SECRET_ACCESS_KEY
export RCLONE_CONFIG=$work/rclone.conf RCLONE_CONFIG_S3_TYPE=s3 RCLONE_CONFIG_S3_PROVIDER=Other \
    RCLONE_CONFIG_S3_ENDPOINT=http://127.0.0.1:$port RCLONE_CONFIG_S3_FORCE_PATH_STYLE=true \
    RCLONE_CONFIG_S3_ACCESS_KEY_ID=S3RVER RCLONE_CONFIG_S3_SECRET_ACCESS_KEY=S3RVER
: >rclone.conf
dest=rclone:s3:vorlane/site

# stage_release VERSION SERIAL [FROM]: three files (a "+" and a blank in one name, one of
# 300 kB), signed and staged into staged-VERSION/. With FROM, big.bin is FROM's with a few
# bytes changed, and the release carries its delta from FROM.
stage_release() {
    mkdir -p "rel-$1/data"
    echo "Vorlane $1" >"rel-$1/readme.txt"
    echo "plus and blank" >"rel-$1/data/a b+c.txt"
    local deltas=()
    if [ -n "${3:-}" ]; then
        cp "rel-$3/data/big.bin" "rel-$1/data/big.bin"
        printf 'changed' | dd of="rel-$1/data/big.bin" bs=1 seek=150000 conv=notrunc 2>/dev/null
    else
        head -c 300000 /dev/urandom >"rel-$1/data/big.bin"
    fi
    "$T" manifest --version "$1" --out "m-$1.txt" "rel-$1" 2>/dev/null
    if [ -n "${3:-}" ]; then
        "$T" deltas --release-dir "rel-$1" --from "staged-$3" --out "d-$1" "m-$1.txt" >/dev/null
        deltas=(--deltas "d-$1")
    fi
    "$T" sign --key "$keys/private.pem" --serial "$2" "m-$1.txt" >/dev/null
    "$T" stage --release-dir "rel-$1" --signed "m-$1.txt" --out "staged-$1" "${deltas[@]}" >/dev/null
}
stage_release 1.9 100
stage_release 1.10 200 1.9
stage_release 2.0 300

# header URL: the Cache-Control the server answers with for URL.
header() {
    curl -sI --max-time 10 "$1" | tr -d '\r' | sed -n 's/^[Cc]ache-[Cc]ontrol: //p'
}
# served_whole WHAT VERSION: the server serves the manifest of VERSION and every one of its
# files with the staged bytes.
served_whole() {
    curl -sf --max-time 10 -o served.txt "$site/$manifest_rel" && cmp -s served.txt "staged-$2/$manifest_rel" ||
        fail "$1: the manifest served is not that of $2"
    local f
    for f in readme.txt "data/a%20b%2Bc.txt" data/big.bin; do
        curl -sf --max-time 10 -o file.bin "$site/download/$2/$f" &&
            cmp -s file.bin "staged-$2/download/$2/$(printf '%b' "${f//%/\\x}")" ||
            fail "$1: download/$2/$f is not served whole"
    done
    for f in $(cd "staged-$2/download/$2" && find .delta -type f 2>/dev/null); do
        curl -sf --max-time 10 -o file.bin "$site/download/$2/$f" && cmp -s file.bin "staged-$2/download/$2/$f" ||
            fail "$1: the delta download/$2/$f is not served whole"
    done
}

# A stand-in for rclone first on PATH records, before and after each run, every object the
# server holds and its SHA-256 (snap.log); with KILL_AFTER=K it slows an upload of files down
# and kills the publish, and rclone, once K objects of that version are stored whole (s3rver
# writes an object's metadata once all its bytes are in).
real_rclone=$(command -v rclone)
mkdir bin
cat >bin/rclone <<WRAP
#!/bin/bash
snap() {
    (cd "$work/data/vorlane" && find . -name '*._S3rver_object' -print0 | sort -z | xargs -0r sha256sum; echo --) >>"$work/snap.log"
}
snap
if [ -n "\${KILL_AFTER:-}" ] && [ "\$1" = copy ] && [[ "\${@: -1}" == s3:* ]]; then
    "$real_rclone" "\$1" --transfers 1 --bwlimit 200k "\${@:2}" &
    for _ in \$(seq 1 200); do
        [ "\$(find "$work/data/vorlane/site/download/\$KILL_VERSION" -name '*._S3rver_metadata.json' 2>/dev/null | wc -l)" -ge "\$KILL_AFTER" ] && break
        sleep 0.05
    done
    kill -9 \$! "\$PPID"
    exit 137
fi
"$real_rclone" "\$@"
rc=\$?
snap
exit \$rc
WRAP
chmod +x bin/rclone

# --- publish ---------------------------------------------------------------------------
run publish --staged staged-1.9 --public "$keys/public.key" "$dest"
expect 0 "Published version 1.9: 3 files" "publish 1.9"
served_whole "publish 1.9" 1.9
PATH="$work/bin:$PATH" run publish --staged staged-1.10 --manifest-max-age 120 "$dest"
expect 0 "Published version 1.10" "publish 1.10"
served_whole "publish 1.10" 1.10
[ -n "$(find staged-1.10/download/1.10/.delta -name big.bin.zst)" ] || fail "1.10 was staged without its delta"
# Every file immutable for a year, the manifest for the time asked.
for f in readme.txt "data/a%20b%2Bc.txt" data/big.bin; do
    [ "$(header "$site/download/1.10/$f")" = "public, max-age=31536000, immutable" ] ||
        fail "download/1.10/$f: Cache-Control [$(header "$site/download/1.10/$f")]"
done
[ "$(header "$site/$manifest_rel")" = "public, max-age=120" ] ||
    fail "the manifest's Cache-Control with --manifest-max-age 120: [$(header "$site/$manifest_rel")]"
# The manifest of 1.10 appeared only after every file of 1.10 was stored with its bytes, and
# until then the manifest of 1.9 stayed.
python3 - "$manifest_rel" staged-1.10 staged-1.9 <<'PY' || fail "publish 1.10: not the files first, then the manifest"
import hashlib, os, sys
rel, new, old = sys.argv[1:4]
digest = lambda p: hashlib.sha256(open(p, "rb").read()).hexdigest()
files = {}
for top, _, names in os.walk(os.path.join(new, "download")):
    for n in names:
        p = os.path.join(top, n)
        files["site/" + os.path.relpath(p, new)] = digest(p)
states, cur = [], {}
for line in open("snap.log").read().splitlines():
    if line == "--":
        states.append(cur)
        cur = {}
    else:
        sha, path = line.split("  ", 1)
        cur[os.path.normpath(path)[: -len("._S3rver_object")]] = sha
key = "site/" + rel
seen = [s.get(key) for s in states]
want, was = digest(os.path.join(new, rel)), digest(os.path.join(old, rel))
first = next((i for i, m in enumerate(seen) if m == want), None)
ok = (first is not None and first > 0 and all(m == was for m in seen[:first])
      and all(states[first - 1].get(n) == sha for n, sha in files.items()))
sys.exit(0 if ok else 1)
PY

# The refusals of every form: an older serial, and a published version that changed.
run publish --staged staged-1.9 "$dest"
expect 1 "has serial 200 (version 1.10); installations that took it refuse this manifest's serial 100" "older serial"
echo other >other.txt
rclone copyto -q other.txt s3:vorlane/site/download/2.0/readme.txt
run publish --staged staged-2.0 "$dest"
expect 1 "s3:vorlane/site/download/2.0/readme.txt: holds other content" "a version with other content"
expect 1 "a published version must not change" "a version with other content"
rclone deletefile -q s3:vorlane/site/download/2.0/readme.txt
run publish --staged staged-2.0 --manifest-max-age 301 "$dest"
expect 2 "give whole seconds from 0 to 300" "a manifest lifetime over 300 s"

# Killed after the first file of 2.0 is stored: 1.10 is still served, whole.
rm -f snap.log
KILL_AFTER=1 KILL_VERSION=2.0 PATH="$work/bin:$PATH" run publish --staged staged-2.0 "$dest"
[ "$rc" -ne 0 ] || fail "the killed publish ended well: $(cat out.txt err.txt)"
[ -n "$(find data/vorlane/site/download/2.0 -name '*._S3rver_object')" ] ||
    fail "the publish was killed before any file of 2.0 was stored"
served_whole "after a killed publish" 1.10
# s3rver writes an object as its bytes arrive, where S3 and R2 keep nothing of a cut PUT: the
# object cut short (the one without metadata) is dropped, as those would have.
while IFS= read -r -d '' o; do
    [ -e "${o%_object}_metadata.json" ] || rm -f "$o" "$o.md5"
done < <(find data/vorlane/site/download/2.0 -name '*._S3rver_object' -print0)
# Publishing again keeps what arrived and completes the rest, with the manifest last.
run publish --staged staged-2.0 "$dest"
expect 0 "Published version 2.0" "publish 2.0 again"
grep -qE "\(([12]) uploaded, ([12]) there already\)" out.txt || fail "publish 2.0 again: $(cat out.txt)"
served_whole "publish 2.0 again" 2.0
[ "$(header "$site/$manifest_rel")" = no-cache ] || fail "the manifest's Cache-Control: [$(header "$site/$manifest_rel")]"

# --- prune ---------------------------------------------------------------------------
# 1.9, 1.10 and 2.0 there, 2.0 live. The newest two by number are 2.0 and 1.10 (by text they
# would be 2.0 and 1.9).
objects() { find "data/vorlane/site/download/$1" -name '*._S3rver_object' 2>/dev/null | wc -l; }
run prune --keep 2 --dry-run "$dest"
expect 0 "would remove s3:vorlane/site/download/1.9/" "prune --dry-run"
grep -qF "download/1.10/" out.txt && ! grep -q "would remove.*1\.10" out.txt || fail "prune --dry-run: 1.10: $(cat out.txt)"
[ "$(objects 1.9)" = 3 ] || fail "prune --dry-run removed something"
# A channel's manifest names 1.9: it stays, though older than the newest one kept.
rclone copyto -q "staged-1.9/$manifest_rel" "s3:vorlane/site/$(dirname "$manifest_rel")/beta/$(basename "$manifest_rel")"
run prune --keep 1 "$dest"
expect 0 "Removed 1 version folder(s)" "prune"
[ "$(objects 1.10)" = 0 ] || fail "prune: 1.10 is still there"
served_whole "after prune" 2.0
for f in readme.txt "data/a%20b%2Bc.txt" data/big.bin; do
    curl -sf --max-time 10 -o file.bin "$site/download/1.9/$f" || fail "prune removed download/1.9/$f, which a channel names"
done

# A rollout step on object storage: only the manifest changes, with a higher serial, no-cache.
before=$(curl -sf --max-time 10 "$site/$manifest_rel" | sed -n 's/^serial=//p')
run rollout --key "$keys/private.pem" --to 25 "$dest"
expect 0 "share: 25 %" "rollout --to 25 on object storage"
curl -sf --max-time 10 -o served.txt "$site/$manifest_rel" || fail "no manifest after the rollout"
grep -qx "rollout=250" served.txt && [ "$(sed -n 's/^serial=//p' served.txt)" -gt "$before" ] ||
    fail "rollout --to 25 on object storage: $(cat served.txt)"
[ "$(header "$site/$manifest_rel")" = no-cache ] || fail "the rolled-out manifest's Cache-Control: [$(header "$site/$manifest_rel")]"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "object storage: all checks passed"
