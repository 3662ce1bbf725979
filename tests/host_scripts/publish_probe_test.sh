#!/usr/bin/env bash
# vorlane-release publish and probe end to end. publish, with whichever rsync is first on
# PATH: to a local folder and over a remote shell, the files first and the manifest last
# (watched at the destination itself), a changed version refused, a copy that arrived
# wrong caught before the manifest goes up, an interrupted upload repeated, odd local
# paths, a linked DEST, download/ and manifest folder written through, the copies synced
# before the manifest. probe:
# Debian's nginx, configured as docs/nginx-example.conf, serves the published tree as the
# update host; a correct server passes, and a missing file, a stale manifest, other
# content, an untrusted certificate and a server that takes "+" for a blank or breaks
# HTTP/1.1 each fail with their own line.
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

# The manifest's place under a document root, as this build has it.
manifest_rel=$("$T" publish --help | sed -n 's|^The manifest path of this build: DEST/||p')
[ -n "$manifest_rel" ] || { echo "publish --help does not name the manifest path" >&2; exit 1; }

# The rsync this run uses (the first on PATH); the stand-ins below call it.
real_rsync=$(command -v rsync)
echo "rsync: $("$real_rsync" --version | head -n 1)"

# watched DIR CMD...: runs the tool with a stand-in for rsync first on PATH that records
# DIR's files (links followed) and their SHA-256 before and after each rsync run, and the
# manifest's inode, in watch.log; the state after the tool ended comes last.
mkdir watch
cat >watch/rsync <<WATCH
#!/bin/sh
snap() {
    (cd "\$WATCH_DIR" && find -L . -type f -print0 | sort -z | xargs -0r sha256sum
     stat -L -c 'inode %i' "$manifest_rel" 2>/dev/null; echo --) >>"$work/watch.log"
}
snap
"$real_rsync" "\$@"
rc=\$?
snap
exit \$rc
WATCH
chmod +x watch/rsync
watched() {
    local dir=$1
    shift
    rm -f watch.log
    WATCH_DIR=$dir PATH="$work/watch:$PATH" run "$@"
    WATCH_DIR=$dir watch/rsync --version >/dev/null
}
# in_order WHAT STAGED: in watch.log the manifest of STAGED appeared in one step, by a new
# file (renamed into place, not rewritten), after every file of its version was in place
# with its content; until then the old manifest stayed as it was.
in_order() {
    python3 - "$manifest_rel" "$2" <<'PY' || fail "$1: not the files first, then the manifest by rename"
import hashlib, os, sys
rel, staged = sys.argv[1], sys.argv[2]
digest = lambda p: hashlib.sha256(open(p, "rb").read()).hexdigest()
want = {}
for top, _, names in os.walk(os.path.join(staged, "download")):
    for n in names:
        path = os.path.join(top, n)
        want[os.path.relpath(path, staged)] = digest(path)
new = digest(os.path.join(staged, rel))
states, cur, inode = [], {}, None
for line in open("watch.log").read().splitlines():
    if line == "--":
        states.append((cur, inode))
        cur, inode = {}, None
    elif line.startswith("inode "):
        inode = line[6:]
    else:
        sha, path = line.split("  ", 1)
        cur[os.path.normpath(path)] = sha
seen = [s.get(rel) for s, _ in states]
first = next((i for i, m in enumerate(seen) if m == new), None)
ok = (first is not None and first > 0
      and all(m == seen[0] for m in seen[:first]) and all(m == new for m in seen[first:])
      and all(states[first - 1][0].get(n) == sha for n, sha in want.items())
      and (seen[0] is None or states[first][1] != states[0][1]))
sys.exit(0 if ok else 1)
PY
}

# stage_release VERSION [EXPIRES [FROM]]: release files (a "+" and a blank in one name, a
# file larger than one transfer block), signed and staged into staged-VERSION/. With FROM,
# big.bin is FROM's with a few bytes changed and the release carries its delta from FROM.
stage_release() {
    local v=$1 deltas=()
    rm -rf "rel-$v"
    mkdir -p "rel-$v/data"
    echo "Vorlane $v" >"rel-$v/readme.txt"
    echo "plus and blank" >"rel-$v/data/a b+c.txt"
    if [ -n "${3:-}" ]; then
        cp "rel-$3/data/big.bin" "rel-$v/data/big.bin"
        printf 'changed' | dd of="rel-$v/data/big.bin" bs=1 seek=150000 conv=notrunc 2>/dev/null
    else
        head -c 300000 /dev/urandom >"rel-$v/data/big.bin"
    fi
    "$T" manifest --version "$v" --out "m-$v.txt" "rel-$v" 2>/dev/null
    if [ -n "${3:-}" ]; then
        rm -rf "d-$v"
        "$T" deltas --release-dir "rel-$v" --from "staged-$3" --out "d-$v" "m-$v.txt" >/dev/null
        deltas=(--deltas "d-$v")
    fi
    # Serials 100 and 200; 2.0 expires in 5 days, which probe warns of.
    "$T" sign --key "$keys/private.pem" --serial "${v%%.*}00" ${2:+--expires "$2"} "m-$v.txt" >/dev/null
    "$T" stage --release-dir "rel-$v" --signed "m-$v.txt" --out "staged-$v" "${deltas[@]}" >/dev/null
}
stage_release 1.0
stage_release 2.0 5d 1.0
[ -n "$(find staged-2.0/download/2.0/.delta -name big.bin.zst)" ] || fail "2.0 was staged without its delta"

# --- publish to a local folder -------------------------------------------------------
mkdir www
run publish --staged staged-1.0 --public "$keys/public.key" www
expect 0 "Published version 1.0" "local publish"
cmp -s "staged-1.0/$manifest_rel" "www/$manifest_rel" || fail "local publish: the manifest is not in place"
diff -r staged-1.0/download www/download >/dev/null || fail "local publish: the files differ"
# A web server running as another user must read them.
[ "$(stat -c %a www/download/1.0) $(stat -c %a www/download/1.0/data/big.bin)" = "755 644" ] ||
    fail "local publish: the version folder and its files are not 0755 and 0644"
ls -A "www/$(dirname "$manifest_rel")" | grep -q '^\.' && fail "local publish: a temporary file was left"
# An upload killed midway leaves rsync's temporary file beside a name; publishing the same
# version again completes it.
echo partial >"www/download/1.0/data/.a b+c.txt.Xy12Ab"
run publish --staged staged-1.0 www
expect 0 "1 temporary file(s) of an interrupted rsync" "publishing again after an interrupted upload"

# Local paths rsync would take for a host (a colon before the first "/") or an option, and
# a server whose document root is a link and whose download/ is a link to another disk:
# both are written through, and stay links.
cp -r staged-1.0 st:1
mkdir www-real store
ln -s www-real ./-www
ln -s ../store www-real/download
run publish --staged st:1 -- -www
expect 0 "Published version 1.0" "odd local paths and a linked download/"
cmp -s staged-1.0/download/1.0/data/big.bin store/1.0/data/big.bin || fail "the linked download/ was not written"
cmp -s "staged-1.0/$manifest_rel" "www-real/$manifest_rel" || fail "odd local paths: the manifest is not in place"
[ -L ./-www ] && [ -L www-real/download ] || fail "a linked DEST or download/ was replaced"
mkdir dest:1
run publish --staged staged-1.0 dest:1
expect 2 "write ./dest:1 for the folder" "a DEST that is a local folder and a host"
# rsync copies no links: one in the staged tree is refused before anything is copied.
cp -r staged-1.0 staged-link
ln -sf "$work/staged-1.0/download/1.0/readme.txt" staged-link/download/1.0/readme.txt
mkdir www-link
run publish --staged staged-link www-link
expect 1 "staged-link/download/1.0/readme.txt: a symbolic link" "a link in the staged tree"
[ -z "$(ls -A www-link)" ] || fail "a link in the staged tree: something was copied"

# A copy that arrives with other bytes of the same size (a shim over rsync damages it
# after the copy) is caught by its digest; the old manifest stays.
mkdir shim
cat >shim/rsync <<'SHIM'
#!/bin/sh
"$REAL_RSYNC" "$@" || exit $?
case " $* " in *" --ignore-existing "*) [ -z "${DAMAGE:-}" ] || sh -c "$DAMAGE" ;; esac
SHIM
chmod +x shim/rsync
export REAL_RSYNC=$real_rsync
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
watched www publish --staged staged-2.0 www
expect 0 "Published version 2.0" "local publish of 2.0"
in_order "local publish of 2.0" staged-2.0
cmp -s "staged-2.0/$manifest_rel" "www/$manifest_rel" || fail "local publish of 2.0: not the new manifest"
# Back to 1.0: installations that took serial 200 would refuse its serial 100.
run publish --staged staged-1.0 www
expect 1 "has serial 200 (version 2.0); installations that took it refuse this manifest's serial 100. Sign the unsigned manifest again with --serial 201" "publishing an older serial"
cmp -s "staged-2.0/$manifest_rel" "www/$manifest_rel" || fail "publishing an older serial replaced the manifest"
# prune: an old folder 0.5 goes, 1.0 stays while a channel's manifest names it, 2.0 is live.
mkdir -p www/download/0.5 "www/$(dirname "$manifest_rel")/beta"
echo old >www/download/0.5/readme.txt
cp "staged-1.0/$manifest_rel" "www/$(dirname "$manifest_rel")/beta/"
# A channel's manifest that cannot be read stops prune: which release it holds is unknown.
echo "not a manifest" >"www/$(dirname "$manifest_rel")/beta/$(basename "$manifest_rel")"
run prune --keep 1 www
expect 1 "which version it names is unknown (nothing was removed)" "prune with an unreadable channel manifest"
[ -d www/download/1.0 ] || fail "prune with an unreadable channel manifest removed 1.0"
cp "staged-1.0/$manifest_rel" "www/$(dirname "$manifest_rel")/beta/"
run prune --keep 1 --dry-run www
expect 0 "would remove www/download/0.5/" "local prune --dry-run"
[ -f www/download/0.5/readme.txt ] || fail "local prune --dry-run removed 0.5"
run prune --keep 1 www
expect 0 "Removed 1 version folder(s)" "local prune"
[ ! -e www/download/0.5 ] && cmp -s staged-1.0/download/1.0/data/big.bin www/download/1.0/data/big.bin &&
    diff -r staged-2.0/download/2.0 www/download/2.0 >/dev/null || fail "local prune: not only 0.5 removed"
rm -r "www/$(dirname "$manifest_rel")/beta"

# --- publish over a remote shell ---------------------------------------------------------
# rsh.sh stands in for ssh: it runs rsync's remote side here, logging each command. The
# server's document root is an absolute link to srv/root, whose download/ and manifest
# folder are links too (one relative, climbing above DEST, one absolute).
mkdir -p srv/root srv/store "srv/manifests"
ln -s "$work/srv/root" remote
ln -s ../store srv/root/download
ln -s "$work/srv/manifests" "srv/root/$(dirname "$manifest_rel")"
printf '#!/bin/sh\nshift\necho "$*" >>"%s/rsh.log"\nexec sh -c "$*"\n' "$work" >rsh.sh
chmod +x rsh.sh
export RSYNC_RSH=$work/rsh.sh
# A server whose rsync lacks --fsync (before 3.2.4): "sync" runs there instead, before the
# manifest goes up.
mkdir oldbin
cat >oldbin/rsync <<'OLD'
#!/bin/sh
for a in "$@"; do [ "$a" != --fsync ] || { echo "rsync: --fsync: unknown option" >&2; exit 1; }; done
exec "$REAL_RSYNC" "$@"
OLD
printf '#!/bin/sh\n[ -e "%s" ] && echo late >>"%s/sync.log" || echo early >>"%s/sync.log"\nexec /bin/sync\n' \
    "$work/remote/$manifest_rel" "$work" "$work" >oldbin/sync
printf '#!/bin/sh\nshift\nPATH="%s/oldbin:$PATH" exec sh -c "$*"\n' "$work" >rsh-old.sh
chmod +x oldbin/* rsh-old.sh
RSYNC_RSH=$work/rsh-old.sh run publish --staged staged-1.0 "fakehost:$work/remote"
expect 0 "the rsync on the server lacks --fsync: \"sync\" ran there" "remote publish, rsync without --fsync"
[ "$(cat sync.log 2>/dev/null)" = early ] || fail "remote publish without --fsync: sync before the manifest: $(cat sync.log)"
# A second release replaces the manifest; the copies carry --fsync.
watched remote publish --staged staged-2.0 "fakehost:$work/remote"
expect 0 "Published version 2.0" "remote publish"
expect 0 "Durability: the files were on disk (rsync --fsync)" "remote publish"
in_order "remote publish" staged-2.0
[ -f srv/store/2.0/data/big.bin ] && [ -f "srv/manifests/$(basename "$manifest_rel")" ] &&
    [ -L remote ] && [ -L srv/root/download ] || fail "remote publish: not written through the links"
cmp -s "staged-2.0/$manifest_rel" "remote/$manifest_rel" || fail "remote publish: the manifest of 1.0 stayed"
diff -r staged-2.0/download/2.0 remote/download/2.0 >/dev/null || fail "remote publish: the files differ"
[ "$(stat -c %a remote/download/2.0/readme.txt)" = 644 ] || fail "remote publish: a file is not 0644"
[ "$(grep -- '--server ' rsh.log | grep -v -- --sender | grep -vE -- ' -[a-zA-Z]*n' | grep -c -- --fsync)" -ge 2 ] ||
    fail "remote publish: the copies were made without --fsync: $(cat rsh.log)"
# "fakehost:" is the remote user's home folder, as rsync has it (rsh-home.sh runs there and
# refuses absolute remote paths).
mkdir home
printf '#!/bin/sh\nshift\ncase "$*" in *" /"*) echo "absolute: $*" >&2; exit 1 ;; esac\ncd "%s/home" && exec sh -c "$*"\n' \
    "$work" >rsh-home.sh
chmod +x rsh-home.sh
RSYNC_RSH=$work/rsh-home.sh run publish --staged staged-2.0 fakehost:
expect 0 "under fakehost:download/2.0/" "remote publish to the home folder"
cmp -s "staged-2.0/$manifest_rel" "home/$manifest_rel" || fail "remote publish to the home folder: no manifest there"
run publish --staged staged-1.0 "fakehost:$work/remote"
expect 1 "fakehost:$work/remote/$manifest_rel has serial 200" "remote publish of an older serial"
cmp -s "staged-2.0/$manifest_rel" "remote/$manifest_rel" || fail "remote publish of an older serial replaced the manifest"
# rollout over the remote shell: the live manifest is read and replaced through rsync alone,
# written through the linked manifest folder under a new name renamed into place.
run rollout "fakehost:$work/remote"
expect 0 "share: 100 % (no rollout record)" "remote rollout, shown"
inode=$(stat -L -c %i "remote/$manifest_rel")
run rollout --key "$keys/private.pem" --to 10 "fakehost:$work/remote"
expect 0 "share: 10 %" "remote rollout --to 10"
[ "$(sed -n 's/^serial=//p' "remote/$manifest_rel")" -gt 200 ] && grep -qx "rollout=100" "remote/$manifest_rel" &&
    [ "$(stat -L -c %i "remote/$manifest_rel")" != "$inode" ] && [ -L "srv/root/$(dirname "$manifest_rel")" ] ||
    fail "remote rollout --to 10: $(cat "remote/$manifest_rel")"
diff -r staged-2.0/download/2.0 remote/download/2.0 >/dev/null || fail "remote rollout: the files changed"
# prune over the remote shell, through the linked download/: 1.0 is named by no manifest.
run prune --keep 1 "fakehost:$work/remote"
expect 0 "remove  fakehost:$work/remote/download/1.0/" "remote prune"
[ ! -e srv/store/1.0 ] && [ -L srv/root/download ] && diff -r staged-2.0/download/2.0 srv/store/2.0 >/dev/null ||
    fail "remote prune: not 1.0 alone removed through the link"
# A copy cut short on the remote side is caught by its size.
rm -rf remote
mkdir remote
DAMAGE="truncate -s 100 $work/remote/download/2.0/data/big.bin" PATH="$work/shim:$PATH" \
    run publish --staged staged-2.0 "fakehost:$work/remote"
expect 1 "data/big.bin: 100 bytes arrived, the manifest says 300000" "remote copy cut short"
[ ! -e "remote/$manifest_rel" ] || fail "remote copy cut short: the manifest was published"
run publish --staged staged-2.0 "fakehost:$work/remote"
expect 1 "remote/download/2.0/data/big.bin: holds other content" "remote changed version folder"
# Other bytes of the same size and time are told apart by content.
head -c 300000 /dev/urandom >remote/download/2.0/data/big.bin
touch -r staged-2.0/download/2.0/data/big.bin remote/download/2.0/data/big.bin
run publish --staged staged-2.0 "fakehost:$work/remote"
expect 1 "remote/download/2.0/data/big.bin: holds other content" "remote version folder, same size and time"
unset RSYNC_RSH

# A beta release beside the default one: its manifest at the channel's path.
mkdir rel-beta
echo "Vorlane beta" >rel-beta/readme.txt
"$T" manifest --version 3.0-beta --out m-beta.txt rel-beta 2>/dev/null
"$T" sign --key "$keys/private.pem" --channel beta --rollout 2.5 --critical m-beta.txt >/dev/null
"$T" stage --release-dir rel-beta --signed m-beta.txt --out staged-beta --channel beta >/dev/null
beta_rel=$(dirname "$manifest_rel")/beta/$(basename "$manifest_rel")
run publish --staged staged-beta --channel beta www
expect 0 "then the manifest www/$beta_rel" "publish --channel beta"
cmp -s "staged-2.0/$manifest_rel" "www/$manifest_rel" || fail "publish --channel beta replaced the default manifest"

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
grep -qx "        serial: 200" out.txt && grep -qF "warning: the manifest expires within 7 days" out.txt ||
    fail "correct server: serial and expiry warning: $(cat out.txt)"
grep -qF "ok      ranges: an interrupted download continues where it ended" out.txt ||
    fail "correct server: no line for the ranges: $(cat out.txt)"
grep -qx "        channel: stable" out.txt && grep -qx "        critical: no" out.txt ||
    fail "correct server: channel and critical: $(cat out.txt)"
# The beta channel's manifest, as an installation that follows beta asks for it.
beta_rel=$(dirname "$manifest_rel")/beta/$(basename "$manifest_rel")
probe 0 "summary: all 1 files as the manifest says" "beta channel" --channel beta --signed "staged-beta/$beta_rel" \
    --ca-file "$VORLANE_CERT_DIR/ca.pem" --resolve "$VORLANE_UPDATE_HOST:443:127.0.0.1" "$url"
grep -qF "ok      manifest $url/$beta_rel: version 3.0-beta" out.txt && grep -qx "        channel: beta" out.txt &&
    grep -qx "        share: 2.5 %" out.txt && grep -qx "        critical: yes (installed everywhere, whatever the share)" out.txt ||
    fail "beta channel: $(cat out.txt)"
# The requests were the updater's: its manifest path and the encoded names.
grep -qF "GET /download/2.0/data/a%20b%2Bc.txt 200" "$VORLANE_SERVER_STATE/nginx-access.log" ||
    fail "the name was not requested as the updater encodes it: $(cat "$VORLANE_SERVER_STATE/nginx-access.log")"
# --ca-file trusts that CA, and only it: a server it did not certify fails.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout other-ca.key \
    -out other-ca.pem -subj /CN=other-ca -days 2 2>/dev/null
probe 1 "FAILED  manifest $url/$manifest_rel: no answer" "a CA that did not sign the server" \
    --ca-file other-ca.pem "$url"

mv "$www/download/2.0/data/big.bin" big.bin
probe 1 "FAILED  data/big.bin: HTTP 404 for /download/2.0/data/big.bin" "missing file" "$url"
grep -qF "summary: 1 of 3 files not as the manifest says" out.txt || fail "missing file: summary: $(cat out.txt)"
mv big.bin "$www/download/2.0/data/big.bin"

cp "$www/download/2.0/readme.txt" readme.txt
echo "Vorlane 2.X" >"$www/download/2.0/readme.txt"
probe 1 "FAILED  readme.txt: other content from /download/2.0/readme.txt" "other content" "$url"
cp readme.txt "$www/download/2.0/readme.txt"

# A server that serves the beta manifest at the default path switches nobody.
cp "$www/$beta_rel" "$www/$manifest_rel"
probe 1 "signed for the channel beta, not stable" "the beta manifest at the default path" "$url"
cp "staged-1.0/$manifest_rel" "$www/$manifest_rel"
probe 1 "the server serves version 1.0, not 2.0 of staged-2.0/$manifest_rel" "stale manifest" \
    --signed "staged-2.0/$manifest_rel" "$url"
# The same version signed again (another signature) is other bytes all the same.
sed '/^sig=/d' "staged-2.0/$manifest_rel" >text-2.0.txt
python3 "$src/tests/fixtures/vlsign.py" "$keys/private.pem" text-2.0.txt >"$www/$manifest_rel"
probe 1 "the server serves version 2.0 with other bytes than staged-2.0/$manifest_rel" \
    "same version, other bytes" --signed "staged-2.0/$manifest_rel" "$url"
# Two records of one name are each judged: the second does not match the file.
{ cat text-2.0.txt; echo "file=readme.txt|$(stat -c %s "$www/download/2.0/readme.txt")|$(printf x | sha256sum | cut -c1-64)|0"; } >twice.txt
python3 "$src/tests/fixtures/vlsign.py" "$keys/private.pem" twice.txt >"$www/$manifest_rel"
probe 1 "FAILED  readme.txt: other content" "two records of one name" "$url"
grep -qF "ok      readme.txt" out.txt || fail "two records of one name: the matching one not ok: $(cat out.txt)"
# A manifest of exactly the updater's limit is read whole.
python3 -c 'import sys; t = open(sys.argv[1], "rb").read(); pad = 524288 - len(t) - 5 - 133
open(sys.argv[2], "wb").write(t + b"pad=" + b"0" * pad + b"\n")' text-2.0.txt exact.txt
python3 "$src/tests/fixtures/vlsign.py" "$keys/private.pem" exact.txt >"$www/$manifest_rel"
[ "$(stat -c %s "$www/$manifest_rel")" = 524288 ] || fail "the manifest at the limit: $(stat -c %s "$www/$manifest_rel") bytes"
probe 0 "summary: all 3 files" "a manifest of exactly the limit" "$url"
probe 0 "summary: all 3 files" "the old release, still whole, without --signed" "$url"
# Signed by another key, and longer than the updater reads (though signed and whole).
"$T" keygen --out other >/dev/null
probe_key=other/public.key probe 1 "the updater reports \"podpis manifestu sie nie zgadza\"" "another key" "$url"
{ sed '/^sig=/d' "staged-2.0/$manifest_rel"; printf 'pad=%0600000d\n' 0; } >padded.txt
python3 "$src/tests/fixtures/vlsign.py" "$keys/private.pem" padded.txt >"$www/$manifest_rel"
probe 1 "longer than 524288 bytes; the updater reads no more" "manifest over the limit" "$url"
# Expired (more than a day ago): every updater refuses it.
sed -e '/^sig=/d' -e 's/^expires=.*/expires=2026-01-01T00:00:00Z/' "staged-2.0/$manifest_rel" >expired.txt
python3 "$src/tests/fixtures/vlsign.py" "$keys/private.pem" expired.txt >"$www/$manifest_rel"
probe 1 "the updater reports \"manifest wygasl (byl wazny do 2026-01-01 00:00:00 UTC)\"" "expired manifest" "$url"
cp "staged-2.0/$manifest_rel" "$www/$manifest_rel"

# A second nginx on port 8443, the same site but taking "+" for a blank in file paths,
# as some object stores do, and serving no ranges. It speaks HTTP/2 as well, but answers only
# HTTP/1.1 requests (the updater's) properly.
mkdir -p plus
bash "$src/tests/netns/nginx-conf.sh" "$www" "$VORLANE_CERT_DIR" "$work/plus" "$work/plus" |
    sed -e 's|listen 127.0.0.1:443 ssl;|listen 127.0.0.1:8443 ssl http2;\n        if ($server_protocol != "HTTP/1.1") { return 505; }|' \
        -e 's|location /download/ {|&\n        rewrite "^([^+]*)[+](.*)$" "$1 $2" last;\n        max_ranges 0;|' >plus/nginx.conf
grep -q 'listen 127.0.0.1:8443' plus/nginx.conf && grep -q 'rewrite' plus/nginx.conf || fail "the + server's configuration"
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
# Several hosts: a stale one on port 9443 serves release 1.0 (serial 100) with a manifest a
# cache may keep for an hour. Both pass, with a warning on each count.
cp -r staged-1.0 stale-www
mkdir -p stale
bash "$src/tests/netns/nginx-conf.sh" "$work/stale-www" "$VORLANE_CERT_DIR" "$work/stale" "$work/stale" |
    sed -e 's|listen 127.0.0.1:443 ssl;|listen 127.0.0.1:9443 ssl;|' -e 's|"no-cache"|"public, max-age=3600"|' >stale/nginx.conf
nginx -p "$work/stale" -e "$work/stale/nginx-error.log" -c "$work/stale/nginx.conf" &
stale_pid=$!
for _ in $(seq 1 50); do
    curl -s -o /dev/null --max-time 2 "$url:9443/" && break
    sleep 0.1
done
probe 0 "ok      host $url:9443: version 1.0, serial 100, signature good; data/a b+c.txt as the manifest says" \
    "a stale second host" "$url" "$url:9443"
grep -qF "warning: the hosts disagree on the serial: $url serial 200 (version 2.0), $url:9443 serial 100 (version 1.0)" out.txt ||
    fail "a stale second host: no warning on the serials: $(cat out.txt)"
grep -qF "warning host $url:9443: the manifest may be cached for 3600 s" out.txt ||
    fail "a stale second host: no warning on its cache lifetime: $(cat out.txt)"
grep -qE "^warning: the manifest (may be cached|is served with no cache)" out.txt && fail "the first host's no-cache manifest was warned of: $(cat out.txt)"
# A host that is down is a failure of its own; the first still passes whole.
probe 1 "FAILED  host $url:9444: manifest no answer" "a second host that is down" "$url" "$url:9444"
grep -qF "summary: all 3 files as the manifest says" out.txt || fail "a host down: the first not checked: $(cat out.txt)"
kill "$stale_pid"
wait "$stale_pid" 2>/dev/null
# Mirrors of the manifest, each by one file: the first host itself under its root (good), the
# "+" server (loses the name with "+"), and a record that is no https URL.
{ cat text-2.0.txt; printf 'mirror=%s\n' "$url/" "$url:8443" "http://$VORLANE_UPDATE_HOST"; } >mirrors.txt
python3 "$src/tests/fixtures/vlsign.py" "$keys/private.pem" mirrors.txt >"$www/$manifest_rel"
probe 1 "ok      mirror $url/: data/a b+c.txt of version 2.0 as the manifest says" "mirrors" "$url"
grep -qF "FAILED  mirror $url:8443: data/a b+c.txt: HTTP 404" out.txt && grep -qF "warning mirror http://" out.txt ||
    fail "mirrors: the bad ones not reported: $(cat out.txt)"
cp "staged-2.0/$manifest_rel" "$www/$manifest_rel"
kill "$plus_pid"
wait "$plus_pid" 2>/dev/null
exit $((failures > 0))
INSIDE
bash "$src/tests/netns/with-update-server.sh" --nginx --state "$work/state" "$work/www" -- \
    bash "$work/inside.sh" "$T" "$work" "$keys" "$manifest_rel" "$src" || fail "probe against nginx"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "publish and probe: all checks passed"
