#!/usr/bin/env bash
# vorlane-release from the command line: a release round trip, every refusal with its
# message and no output left behind, help texts, exit codes and the progress line.
set -euo pipefail

source "$(dirname "$0")/tool_test_lib.sh"

# refused WHAT MESSAGE OUTPUT CMD...: the tool must exit 1, say MESSAGE on stderr, print
# nothing on stdout and leave no OUTPUT (nor a temporary file beside it).
refused() {
    local what=$1 message=$2 output=$3
    shift 3
    run "$@"
    [ "$rc" -eq 1 ] || fail "$what: exit code $rc, expected 1"
    grep -qF -- "$message" err.txt || fail "$what: stderr lacks [$message]: $(cat err.txt)"
    grep -qF -- "refused; nothing was written" err.txt || fail "$what: no refusal line: $(cat err.txt)"
    [ ! -s out.txt ] || fail "$what: wrote to stdout"
    [ ! -e "$output" ] || fail "$what: $output was written"
    if ls -a "$(dirname "$output")" | grep -q '\.tmp-'; then
        fail "$what: a temporary file was left"
    fi
}

# release DIR NAME...: a release folder holding the given files (and one good file).
release() {
    local dir=$1
    shift
    rm -rf "$dir"
    mkdir -p "$dir"
    echo good >"$dir/good.txt"
    local name
    for name in "$@"; do
        mkdir -p "$dir/$(dirname "$name")"
        echo "$name" >"$dir/$name"
    done
}

# updater KEYDIR FILE: a stand-in updater that trusts the key in KEYDIR, built in as the
# updater holds it (two NUL-terminated texts of 64 hex digits); without KEYDIR, no key.
updater() {
    { printf 'MZ updater\0'; [ -z "$1" ] || printf '%s\0%s\0' "$(sed -n 's/^x=//p' "$1/public.key")" \
        "$(sed -n 's/^y=//p' "$1/public.key")"; } >"$2"
}
short() { echo "x=$(sed -n 's/^x=//p' "$1/public.key" | cut -c1-16)..."; }

# --- help and usage ------------------------------------------------------------------
run --help
[ "$rc" -eq 0 ] || fail "--help exit $rc"
cp out.txt help.txt
for cmd in keygen manifest deltas sign verify check stage publish probe rollout; do
    grep -q "^  $cmd " help.txt || fail "--help does not list $cmd"
    run "$cmd" --help
    [ "$rc" -eq 0 ] && grep -q "^Usage: vorlane-release $cmd" out.txt || fail "$cmd --help"
done
run
[ "$rc" -eq 2 ] && grep -q "Usage:" err.txt || fail "no arguments: exit $rc"
run frobnicate
[ "$rc" -eq 2 ] && grep -q "unknown command frobnicate" err.txt || fail "unknown command: exit $rc"
run manifest --verison 1 rel
[ "$rc" -eq 2 ] && grep -q "unknown option --verison" err.txt && [ ! -s out.txt ] || fail "unknown option: exit $rc"
run sign latest.txt
[ "$rc" -eq 2 ] && grep -q -- "--key is required" err.txt || fail "sign without --key: exit $rc"

# --- round trip ------------------------------------------------------------------------
mkdir -p rel/data/deep/er rel/config
printf 'MZ bot' >rel/Vorlane.exe
printf 'blank in the name' >"rel/data/my file.txt"
head -c 300000 /dev/urandom >rel/data/deep/er/x.dat
printf 'user settings' >rel/config/user.ini
printf 'Nowa wersja\r\nPoprawki\n' >notes.txt

run keygen --out keys
[ "$rc" -eq 0 ] || fail "keygen: $(cat err.txt)"
[ "$(stat -c %a keys/private.pem)" = 600 ] || fail "private.pem mode $(stat -c %a keys/private.pem)"
grep -q "no further update" err.txt || fail "keygen gives no warning about losing the key"
grep -qx "x=$(sed -n 's/^x=//p' keys/public.key)" out.txt || fail "keygen does not print x"
updater keys rel/VorlanePatcher.exe
cp keys/private.pem key.copy
run keygen --out keys
[ "$rc" -eq 1 ] && grep -q "exists already" err.txt || fail "keygen overwrote: exit $rc"
cmp -s keys/private.pem key.copy || fail "keygen changed the existing private key"

run manifest --version 2.0.1 --date 2026-12-09 --notes-file notes.txt --only-if-missing 'config/*.ini' --out latest.txt rel
[ "$rc" -eq 0 ] || fail "manifest: $(cat err.txt)"
run manifest --version 2.0.1 --date 2026-12-09 --notes-file notes.txt --only-if-missing 'config/*.ini' rel
cmp -s out.txt latest.txt || fail "manifest on stdout differs from --out"
[ "$(grep -c $'\r' latest.txt)" = 0 ] || fail "the manifest holds CR"
grep -qx 'notes=Nowa wersja\\n' latest.txt && grep -qx 'notes=Poprawki' latest.txt || fail "notes records: $(grep notes latest.txt)"
cp latest.txt unsigned.txt

run sign --key keys/private.pem latest.txt
[ "$rc" -eq 1 ] && grep -q "give its folder with --release-dir" err.txt && cmp -s latest.txt unsigned.txt ||
    fail "sign of a release with an updater, without --release-dir: exit $rc $(cat err.txt)"
signed_from=$(date +%s)
run sign --key keys/private.pem --release-dir rel latest.txt
[ "$rc" -eq 0 ] || fail "sign: $(cat err.txt)"
# The serial goes after the magic line: the signing time unless told.
serial=$(sed -n 's/^serial=\([0-9]*\)$/\1/p' latest.txt)
[ -n "$serial" ] && [ "$(sed -n 2p latest.txt)" = "serial=$serial" ] && [ "$serial" -ge "$signed_from" ] &&
    [ "$serial" -le "$(date +%s)" ] || fail "sign wrote no serial of the signing time: $(head -n 3 latest.txt)"
grep -qF "updater: VorlanePatcher.exe trusts the key $(short keys), which signs this release" out.txt ||
    fail "sign does not say which key the updater trusts: $(cat out.txt)"
[ "$(tail -n 1 latest.txt | grep -cE '^sig=[0-9a-f]{128}$')" = 1 ] || fail "no sig= line"
[ "$(head -c -134 latest.txt | sed 2d)" = "$(head -c -1 unsigned.txt)" ] || fail "sign changed the signed text"
cp unsigned.txt stdin-signed.txt
"$T" sign --key - --release-dir rel stdin-signed.txt <keys/private.pem >/dev/null 2>&1 || fail "sign --key - failed"
openssl_ok=$(head -n -1 stdin-signed.txt | sed 2d | cmp -s - unsigned.txt && echo yes || echo no)
[ "$openssl_ok" = yes ] || fail "signing from standard input changed the text"

run verify --public keys/public.key latest.txt
[ "$rc" -eq 0 ] || fail "verify: $(cat err.txt)"
[ ! -s err.txt ] || fail "verify warns about the tool's own manifest: $(cat err.txt)"
# The files the updater reads back are exactly the folder's, digests from sha256sum.
(cd rel && find . -type f -printf '%P\n' | LC_ALL=C sort | while IFS= read -r name; do
    printf '  %s %s %s\n' "$(sha256sum "$name" | cut -c1-64)" "$(stat -c %s "$name")" "$name"
done) >expected.txt
sed -n 's/  (only if missing)$//; /^  [0-9a-f]\{64\} /p' out.txt >listed.txt
diff -u expected.txt listed.txt >&2 || fail "verify lists other files than the folder holds"
grep -q "config/user.ini  (only if missing)" out.txt || fail "only-if-missing not shown"
grep -qx "  | Nowa wersja" out.txt || fail "notes not shown"
grep -qx "serial: $serial" out.txt && grep -qx "expires: never" out.txt || fail "verify: serial and expiry: $(cat out.txt)"

run stage --release-dir rel --signed latest.txt --out www --public keys/public.key
[ "$rc" -eq 0 ] || fail "stage: $(cat err.txt)"
cmp -s "www${VORLANE_MANIFEST_PATH:-/vlr/latest.txt}" latest.txt || fail "the staged manifest differs"
# A web server running as another user must be able to read the version folder.
[ "$(stat -c %a www/download/2.0.1)" = 755 ] || fail "version folder mode $(stat -c %a www/download/2.0.1)"
(cd rel && find . -type f -printf '%P\n') | while IFS= read -r name; do
    cmp -s "rel/$name" "www/download/2.0.1/$name" || fail "staged $name differs"
done
[ "$(find www -type f | wc -l)" = 6 ] || fail "stage wrote other files: $(find www -type f)"
[ -z "$(find www -name '.stage-*')" ] || fail "stage left its work folder"

mkdir -p inst/config
printf 'MZ bot' >inst/Vorlane.exe
printf 'MZ updater, old' >inst/VorlanePatcher.exe
printf 'mine' >inst/config/user.ini
run check --public keys/public.key latest.txt inst
[ "$rc" -eq 0 ] || fail "check: $(cat err.txt)"
grep -q "^current  digest matches  6  Vorlane.exe$" out.txt || fail "check: Vorlane.exe"
grep -q "^install  digest differs  141  VorlanePatcher.exe$" out.txt || fail "check: updater entry"
grep -q "^skip     present, only if missing  13  config/user.ini$" out.txt || fail "check: only if missing"
grep -q "^install  missing  17  data/my file.txt$" out.txt || fail "check: missing file"
grep -q "^3 of 5 files to install, 300158 bytes" out.txt || fail "check total: $(tail -n 2 out.txt)"
grep -qx "updater: Dostepna aktualizacja" out.txt || fail "check status"
grep -qF "installed updater: inst/VorlanePatcher.exe holds no recognisable publisher key" out.txt ||
    fail "check: the installed updater's key: $(tail -n 1 out.txt)"
# The serial the installation has accepted: a higher one makes the updater refuse the
# manifest; the same one, or a damaged record, does not.
printf '%s %s\n' $((serial + 1)) $((serial + 1)) >inst/VorlanePatcher.serial
run check --public keys/public.key latest.txt inst
[ "$rc" -eq 1 ] && grep -qx "accepted serial: $((serial + 1))" out.txt &&
    grep -qF "updater: Serwer aktualizacji: manifest starszy niz juz przyjety (numer wydania $serial, przyjety byl $((serial + 1)))" out.txt ||
    fail "check against a higher accepted serial: exit $rc $(cat out.txt)"
for record in "$serial $serial" "$((serial + 1)) $serial"; do
    printf '%s\n' "$record" >inst/VorlanePatcher.serial
    run check --public keys/public.key latest.txt inst
    [ "$rc" -eq 0 ] && grep -qx "updater: Dostepna aktualizacja" out.txt || fail "check with the record [$record]: exit $rc"
done
rm inst/VorlanePatcher.serial
"$T" keygen --out other >/dev/null 2>&1
updater other inst/VorlanePatcher.exe
run check --public keys/public.key --release-dir rel latest.txt inst
grep -qxF "installed updater: trusts the key $(short other), not the key that signs this manifest" out.txt &&
    grep -qxF "release updater: trusts the key $(short keys), which signs this manifest" out.txt ||
    fail "check: which keys the updaters trust: $(tail -n 2 out.txt)"

# --- what the updater says about bad manifests -----------------------------------------
run verify --public keys/public.key unsigned.txt
[ "$rc" -eq 1 ] && grep -q "manifest bez podpisu" err.txt && [ ! -s out.txt ] || fail "unsigned: exit $rc $(cat err.txt)"
sed 's/^version=2.0.1$/version=2.0.2/' latest.txt >tampered.txt
run verify --public keys/public.key tampered.txt
[ "$rc" -eq 1 ] && grep -q "podpis manifestu sie nie zgadza" err.txt || fail "tampered: exit $rc $(cat err.txt)"
run verify --public other/public.key latest.txt
[ "$rc" -eq 1 ] && grep -q "podpis manifestu sie nie zgadza" err.txt || fail "other key: exit $rc"
run check --public other/public.key latest.txt inst
[ "$rc" -eq 1 ] && grep -q "podpis manifestu sie nie zgadza" err.txt && [ ! -s out.txt ] || fail "check, other key"

# --- refusals of the manifest command --------------------------------------------------
refuse_name() {
    local name=$1 message=$2
    release bad "$name"
    refused "name [$name]" "$message" outdir/m.txt manifest --version 1 --out outdir/m.txt bad
}
mkdir -p outdir
refuse_name 'a|b' 'field separator'
refuse_name 'x:y' 'holds ":"'
refuse_name 'a..b' 'holds ".."'
refuse_name '\lead' 'begins with a backslash'
refuse_name 'dir\file' 'holds a backslash'
refuse_name 'name.' 'ends in a dot'
refuse_name 'name ' 'ends in a blank'
refuse_name 'dir./f' 'ends in a dot'
refuse_name $'caf\xc3\xa9.txt' 'outside printable ASCII'
refuse_name $'tab\tname' '0x09'
refuse_name 'CON' 'reserved Windows device name'
refuse_name 'sub/aux.txt' '"aux.txt" is a reserved Windows device name'
refuse_name 'Lpt3.dat' 'reserved Windows device name'
refuse_name 'what?.txt' 'does not allow'
refuse_name 'vorlanePatcher.SERIAL' 'where the updater records the serial'
refuse_name 'VorlanePatcher.serial.new' 'where the updater records the serial'
release bad 'Data/x.dll' 'data/X.DLL'
refused "case clash" "differ only in letter case" outdir/m.txt manifest --version 1 --out outdir/m.txt bad
release bad 'a.txt'
refused "empty version" "the version is empty" outdir/m.txt manifest --version '' --out outdir/m.txt bad
refused "blank in version" "may not stand unencoded in a URL path" outdir/m.txt manifest --version '1 0' --out outdir/m.txt bad
refused "slash in version" "may not stand unencoded" outdir/m.txt manifest --version '1/0' --out outdir/m.txt bad
refused "version .." "relative folder" outdir/m.txt manifest --version '..' --out outdir/m.txt bad
printf 'Fixed the path\nC:\\new\\bot\n' >badnotes.txt
refused "backslash-n in notes" "line 2 holds a backslash followed by \"n\"" outdir/m.txt \
    manifest --version 1 --notes-file badnotes.txt --out outdir/m.txt bad
mkdir -p emptyrel/sub
refused "empty folder" "holds no files" outdir/m.txt manifest --version 1 --out outdir/m.txt emptyrel
head -c 530000 /dev/zero | tr '\0' 'n' >bignotes.txt
refused "over the limit" "the updater reads at most 524288" outdir/m.txt \
    manifest --version 1 --notes-file bignotes.txt --out outdir/m.txt bad
refused "output inside the release" "inside the release folder" bad/m.txt manifest --version 1 --out bad/m.txt bad
refused "no such folder" "not a folder" outdir/m.txt manifest --version 1 --out outdir/m.txt nosuchdir
# Several problems are all named at once.
release bad 'a|b' 'c:d'
run manifest --version 1 --out outdir/m.txt bad
[ "$(grep -c 'bad: "' err.txt)" = 2 ] || fail "not every bad name is named: $(cat err.txt)"
# A refused run leaves an existing output as it was.
echo previous >outdir/keep.txt
release bad 'a|b'
run manifest --version 1 --out outdir/keep.txt bad
[ "$rc" -eq 1 ] && [ "$(cat outdir/keep.txt)" = previous ] || fail "a refusal touched the old output"
# A name that is accepted: the updater's own file, whatever its letter case.
release ok 'vorlanePATCHER.EXE'
run manifest --version 1 --out outdir/ok.txt ok
[ "$rc" -eq 0 ] && grep -q '^file=vorlanePATCHER.EXE|' outdir/ok.txt || fail "updater entry refused: $(cat err.txt)"

# --- refusals of sign: hand-made manifests the updater would misread --------------------
digest=$(printf x | sha256sum | cut -c1-64)
refuse_sign() {
    local what=$1 message=$2 text=$3
    printf '%s' "$text" >hand.txt
    cp hand.txt hand.orig
    run sign --key keys/private.pem hand.txt
    [ "$rc" -eq 1 ] && grep -qF -- "$message" err.txt || fail "sign $what: exit $rc $(cat err.txt)"
    cmp -s hand.txt hand.orig || fail "sign $what changed the file"
}
refuse_sign "leading slash" 'begins with "/"' $'VLR1\nversion=1\nfile=/abs|1|'"$digest"$'|0\n'
refuse_sign "CR LF" "ends in CR" $'VLR1\nversion=1\r\nfile=a|1|'"$digest"$'|0\n'
refuse_sign "unknown key" "the updater skips it" $'VLR1\nVersion=1\nversion=1\nfile=a|1|'"$digest"$'|0\n'
refuse_sign "upper-case digest" "64 lowercase" $'VLR1\nversion=1\nfile=a|1|'"${digest^^}"$'|0\n'
refuse_sign "signed twice" "signed already" "$(cat latest.txt)"$'\n'
refuse_sign "serial by hand" "holds a serial or expires record already" $'VLR1\nserial=5\nversion=1\nfile=a|1|'"$digest"$'|0\n'
refuse_sign "malformed serial" "the serial is not 1 to 18 decimal digits" $'VLR1\nserial=5x\nversion=1\nfile=a|1|'"$digest"$'|0\n'
refuse_sign "malformed expiry" "the expiry is not YYYY-MM-DDTHH:MM:SSZ" $'VLR1\nexpires=2030-02-30T00:00:00Z\nversion=1\nfile=a|1|'"$digest"$'|0\n'
# Mirrors: each --mirror a record after the serial, in the order given, as the updater reads
# it; one the updater would skip (not https, a query, twice) refuses the signing.
printf 'VLR1\nversion=1\nfile=a|1|%s|0\n' "$digest" >mirrored.txt
run sign --key keys/private.pem --mirror https://m1.example.net/rel/ --mirror=https://cdn.example.com:8443 \
    mirrored.txt
[ "$rc" -eq 0 ] && [ "$(sed -n 3,4p mirrored.txt)" = $'mirror=https://m1.example.net/rel\nmirror=https://cdn.example.com:8443' ] &&
    "$T" verify --public keys/public.key mirrored.txt >/dev/null 2>&1 || fail "sign --mirror: exit $rc $(cat err.txt) $(cat mirrored.txt)"
for mirrors in "http://m1.example.net" "https://m1.example.net/r?x=1" "https://m1.example.net https://m1.example.net/"; do
    printf 'VLR1\nversion=1\nfile=a|1|%s|0\n' "$digest" >mirrored.txt
    cp mirrored.txt mirrored.orig
    run sign --key keys/private.pem $(printf -- '--mirror %s ' $mirrors) mirrored.txt
    [ "$rc" -eq 1 ] && grep -q "the updater skips it" err.txt && cmp -s mirrored.txt mirrored.orig ||
        fail "sign --mirror $mirrors: exit $rc $(cat err.txt)"
done
refuse_sign "malformed mirror" "a mirror must be an https://" $'VLR1\nmirror=https://u@m.example.net\nversion=1\nfile=a|1|'"$digest"$'|0\n'
printf 'not a key\n' >badkey.pem
cp unsigned.txt u2.txt
run sign --key badkey.pem --release-dir rel u2.txt
[ "$rc" -eq 1 ] && grep -q "not a P-256 private key" err.txt && cmp -s u2.txt unsigned.txt || fail "bad key: exit $rc"

# --- refusals of stage -------------------------------------------------------------------
cp -r rel rel2
printf 'changed after the manifest' >rel2/config/user.ini
refused "changed file" "config/user.ini: its SHA-256 is not the manifest's" www2 \
    stage --release-dir rel2 --signed latest.txt --out www2
rm rel2/config/user.ini
refused "missing file" "cannot copy" www2 stage --release-dir rel2 --signed latest.txt --out www2
refused "staged already" "is staged already" www/download/.stage-none \
    stage --release-dir rel --signed latest.txt --out www
sed 's/^file=Vorlane.exe|6|/file=Vorlane.exe|7|/' unsigned.txt >wrongsize.txt
"$T" sign --key keys/private.pem --release-dir rel wrongsize.txt >/dev/null
refused "wrong size" "Vorlane.exe: its size is not the manifest's 7" www3 \
    stage --release-dir rel --signed wrongsize.txt --out www3
run stage --release-dir rel --signed unsigned.txt --out www3
[ "$rc" -eq 1 ] && grep -q "manifest bez podpisu" err.txt && [ ! -e www3 ] || fail "stage of an unsigned manifest"

# --- the updater a release ships must trust the key that signs it -------------------------
# sign_refused WHAT MESSAGE MANIFEST ARGS...: sign refuses and leaves a copy of MANIFEST unsigned.
sign_refused() {
    local what=$1 message=$2 manifest=$3
    shift 3
    cp "$manifest" k.txt
    run sign --key keys/private.pem "$@" k.txt
    [ "$rc" -eq 1 ] && grep -qF -- "$message" err.txt && cmp -s k.txt "$manifest" ||
        fail "sign, $what: exit $rc $(cat err.txt)"
}
# A serial is a promise to every installation, an expiry must lie ahead.
sign_refused "serial ahead of the clock" "more than a day ahead of this machine's clock" unsigned.txt \
    --release-dir rel --serial $(($(date +%s) + 90000))
sign_refused "expiry passed" "has passed already" unsigned.txt --release-dir rel --expires 2020-01-01
sign_refused "expiry unreadable" "give days (30d)" unsigned.txt --release-dir rel --expires 30x
cp unsigned.txt fresh.txt
run sign --key keys/private.pem --release-dir rel --serial 42 --expires 30d fresh.txt
run verify --public keys/public.key fresh.txt
[ "$rc" -eq 0 ] && grep -qx "serial: 42" out.txt &&
    grep -qx "expires: $(date -u -d @$(($(date +%s) + 30 * 86400)) +%Y-%m-%dT%H:%M):[0-9][0-9]Z (in 30 days)" out.txt ||
    fail "sign --serial 42 --expires 30d: $(cat out.txt err.txt)"
cp unsigned.txt fresh.txt
"$T" sign --key keys/private.pem --release-dir rel --expires 2099-01-01 fresh.txt >/dev/null
grep -qx "expires=2099-01-01T00:00:00Z" fresh.txt || fail "sign --expires DATE: $(head -n 3 fresh.txt)"
# stage: ROOT's manifest has the signing time as its serial; 42 would be refused by every
# installation that took it.
"$T" manifest --version 2.0.3 --out low.txt rel 2>/dev/null
"$T" sign --key keys/private.pem --release-dir rel --serial 42 low.txt >/dev/null
refused "stage of a lower serial" "has serial $serial (version 2.0.1); installations that took it refuse this manifest's serial 42. Sign the unsigned manifest again with --serial $((serial + 1))" \
    www/download/2.0.3 stage --release-dir rel --signed low.txt --out www
# A release signed where the clock ran a year fast: --serial cannot outrun its serial (sign
# refuses one so far ahead and points to --serial-above), so stage names the sign command
# that can, and that command, run as named, lets today's release through.
ahead=$(($(date +%s) + 365 * 86400))
manifest_rel=$("$T" publish --help | sed -n 's|^The manifest path of this build: DEST/||p')
"$T" manifest --version 2.0.4 --out fast.txt rel 2>/dev/null
"$T" manifest --version 2.0.5 --out today.txt rel 2>/dev/null
cp today.txt today-unsigned.txt
run sign --key keys/private.pem --release-dir rel --serial-above $((ahead - 1)) fast.txt
grep -qx "serial: $ahead (365 days ahead of this machine's clock)" out.txt ||
    fail "sign --serial-above a year ahead: exit $rc $(cat out.txt err.txt)"
"$T" stage --release-dir rel --signed fast.txt --out www-fast >/dev/null
"$T" sign --key keys/private.pem --release-dir rel today.txt >/dev/null
refused "stage after a fast clock" "www-fast/$manifest_rel has serial $ahead (version 2.0.4, 365 days ahead of this machine's clock)" \
    www-fast/download/2.0.5 stage --release-dir rel --signed today.txt --out www-fast
way_out=$(grep -o "vorlane-release sign --key PRIVATE_KEY .* UNSIGNED_MANIFEST" err.txt) ||
    fail "stage after a fast clock names no sign command: $(cat err.txt)"
sign_refused "--serial past a fast clock" "give --serial-above that serial" today-unsigned.txt \
    --release-dir rel --serial $((ahead + 1))
cp today-unsigned.txt today.txt
# shellcheck disable=SC2086  # the named command, split into its words
$(echo "$way_out" | sed -e "s|^vorlane-release|$T|" -e 's|PRIVATE_KEY|keys/private.pem|' \
    -e 's|RELEASE_DIR|rel|' -e 's|UNSIGNED_MANIFEST|today.txt|') >/dev/null
run stage --release-dir rel --signed today.txt --out www-fast
[ "$rc" -eq 0 ] && cmp -s today.txt "www-fast/$manifest_rel" || fail "stage with the named command's serial: exit $rc $(cat err.txt)"
run verify --public keys/public.key today.txt
grep -qx "serial: $((ahead + 1)) (365 days ahead of this machine's clock)" out.txt ||
    fail "verify of a serial ahead of the clock: $(cat out.txt err.txt)"

cp -r rel relB
updater other relB/VorlanePatcher.exe
sign_refused "updater changed after the manifest" "its SHA-256 is not the manifest's" unsigned.txt --release-dir relB
"$T" manifest --version 2.0.1 --out unsignedB.txt relB 2>/dev/null
sign_refused "updater with another key" \
    "relB/VorlanePatcher.exe trusts the key $(short other), but this release is signed with $(short keys)" \
    unsignedB.txt --release-dir relB
sign_refused "next key is the signing key" "signed with the next key $(short keys)" unsignedB.txt \
    --release-dir relB --next-key keys/public.key
"$T" keygen --out third >/dev/null 2>&1
sign_refused "next key not the updater's" "not the next key $(short third)" unsignedB.txt \
    --release-dir relB --next-key third/public.key
# A rotation: signed with the current key, the updater trusts exactly the next one.
cp unsignedB.txt rot.txt
run sign --key keys/private.pem --release-dir relB --next-key other/public.key rot.txt
[ "$rc" -eq 0 ] && grep -qF "key rotation: VorlanePatcher.exe trusts the next key $(short other)" out.txt ||
    fail "sign of a rotation: exit $rc $(cat err.txt)"
refused "stage of a rotation without --next-key" \
    "trusts the key $(short other), but this release is signed with $(short keys)" wwwB \
    stage --release-dir relB --signed rot.txt --out wwwB --public keys/public.key
run stage --release-dir relB --signed rot.txt --out wwwB --public keys/public.key --next-key other/public.key
[ "$rc" -eq 0 ] && grep -qF "key rotation" out.txt || fail "stage of a rotation: exit $rc $(cat err.txt)"
# An updater marked only-if-missing is never installed (every installation has one): the
# installations would keep the old key for good. Refused by sign, stage, check and publish.
"$T" manifest --version 2.0.3 --only-if-missing VorlanePatcher.exe --out oim.txt relB 2>/dev/null
sign_refused "rotation through an only-if-missing updater" "relB/VorlanePatcher.exe: marked only-if-missing" \
    oim.txt --release-dir relB --next-key other/public.key
python3 "$(dirname "$0")/../fixtures/vlsign.py" keys/private.pem oim.txt >oim-signed.txt
refused "stage of a rotation through an only-if-missing updater" "marked only-if-missing" wwwC \
    stage --release-dir relB --signed oim-signed.txt --out wwwC --public keys/public.key --next-key other/public.key
run check --public keys/public.key --release-dir relB oim-signed.txt inst
[ "$rc" -eq 1 ] && grep -qF "relB/VorlanePatcher.exe: marked only-if-missing" err.txt ||
    fail "check of an only-if-missing updater with another key: exit $rc $(cat err.txt)"
mkdir -p "stC/download" "$(dirname "stC${VORLANE_MANIFEST_PATH:-/vlr/latest.txt}")" wwwC
cp -r relB stC/download/2.0.3
cp oim-signed.txt "stC${VORLANE_MANIFEST_PATH:-/vlr/latest.txt}"
run publish --staged stC wwwC
[ "$rc" -eq 1 ] && grep -qF "stC/download/2.0.3/VorlanePatcher.exe: marked only-if-missing" err.txt &&
    [ -z "$(ls -A wwwC)" ] || fail "publish of an only-if-missing updater with another key: exit $rc $(cat err.txt)"
# The point (x, -y) shares X with the signing key but is another key.
mkdir mirror
printf 'x=%s\ny=%s\n' "$(sed -n 's/^x=//p' keys/public.key)" "$(python3 -c 'import sys
p = 2**256 - 2**224 + 2**192 + 2**96 - 1
print("%064x" % (p - int(sys.argv[1], 16)))' "$(sed -n 's/^y=//p' keys/public.key)")" >mirror/public.key
cp -r rel relM
updater mirror relM/VorlanePatcher.exe
"$T" manifest --version 2.0.1 --out unsignedM.txt relM 2>/dev/null
sign_refused "updater with the key (x, -y)" "relM/VorlanePatcher.exe trusts the key $(short mirror), but" \
    unsignedM.txt --release-dir relM
# Done wrong: the new key signs while installations of the staged 2.0.1 still trust the old one.
"$T" manifest --version 2.0.2 --out wrong.txt relB 2>/dev/null
"$T" sign --key other/private.pem --release-dir relB wrong.txt >/dev/null || fail "sign with the new key"
refused "rotation done wrong" "installations updated to version 2.0.1" www/download/2.0.2 \
    stage --release-dir relB --signed wrong.txt --out www --public other/public.key
# An updater that holds no key, or two different ones, is refused too.
mkdir relN
updater "" relN/VorlanePatcher.exe
"$T" manifest --version 3 --out nokey.txt relN 2>/dev/null
sign_refused "updater without a key" "relN/VorlanePatcher.exe: holds no recognisable publisher key" nokey.txt \
    --release-dir relN
for k in keys other; do
    printf '%s\0%s\0' "$(sed -n 's/^x=//p' $k/public.key)" "$(sed -n 's/^y=//p' $k/public.key)"
done >relN/VorlanePatcher.exe
"$T" manifest --version 3 --out twokeys.txt relN 2>/dev/null
sign_refused "updater with two keys" "holds 2 different publisher keys" twokeys.txt --release-dir relN
# A release without the updater passes with a note.
release noupd
"$T" manifest --version 3 --out noupd.txt noupd 2>/dev/null
run sign --key keys/private.pem noupd.txt
[ "$rc" -eq 0 ] && grep -qF "the release holds no VorlanePatcher.exe" out.txt ||
    fail "release without the updater: exit $rc $(cat err.txt)"

# --- staged rollout, critical releases and channels ------------------------------------
# sign writes the share in per mille, the critical mark and the channel; bad values are
# refused with the file left as it was.
release roll
"$T" manifest --version 5.0 --out roll-unsigned.txt roll 2>/dev/null
for bad in "--rollout 101" "--rollout 2.55" "--rollout -5" "--rollout 1001pm" "--channel Beta" \
    "--channel download"; do
    # shellcheck disable=SC2086  # the option and its value
    sign_refused "$bad" "$bad" roll-unsigned.txt $bad
done
cp roll-unsigned.txt roll.txt
run sign --key keys/private.pem --rollout 2.5 --critical --channel beta roll.txt
[ "$rc" -eq 0 ] && grep -qx "rollout=25" roll.txt && grep -qx "critical=1" roll.txt && grep -qx "channel=beta" roll.txt &&
    grep -qx "share: 2.5 %" out.txt || fail "sign --rollout 2.5 --critical --channel beta: $(cat roll.txt out.txt err.txt)"
run verify --public keys/public.key roll.txt
[ "$rc" -eq 0 ] && grep -qx "channel: beta" out.txt && grep -qx "share: 2.5 %" out.txt &&
    grep -qx "critical: yes (installed everywhere, whatever the share)" out.txt || fail "verify of the marks: $(cat out.txt err.txt)"
cp roll-unsigned.txt roll-stable.txt
run sign --key keys/private.pem --rollout 30pm --channel stable roll-stable.txt
[ "$rc" -eq 0 ] && grep -qx "rollout=30" roll-stable.txt && ! grep -q "^channel=\|^critical=" roll-stable.txt ||
    fail "sign --channel stable wrote a record: $(cat roll-stable.txt)"
sed '1a rollout=5' roll-unsigned.txt >roll-hand.txt
sign_refused "marks by hand" "holds a rollout, critical or channel record already" roll-hand.txt --rollout 5
# A beta release lands at the channel's path, never at the default one, and a manifest
# goes only to the channel it was signed for.
refused "stage of a beta manifest at the default path" "signed for the channel beta, not stable" wwwR \
    stage --release-dir roll --signed roll.txt --out wwwR
refused "stage for another channel" "signed for the channel beta, not gamma" wwwR \
    stage --release-dir roll --signed roll.txt --out wwwR --channel gamma
run stage --release-dir roll --signed roll.txt --out stR --channel beta
[ "$rc" -eq 0 ] && cmp -s roll.txt "stR/$(dirname "$manifest_rel")/beta/$(basename "$manifest_rel")" &&
    [ ! -e "stR/$manifest_rel" ] || fail "stage --channel beta: $(cat out.txt err.txt; find stR)"
mkdir wwwR
run publish --staged stR --channel beta wwwR
[ "$rc" -eq 0 ] && cmp -s roll.txt "wwwR/$(dirname "$manifest_rel")/beta/$(basename "$manifest_rel")" &&
    [ ! -e "wwwR/$manifest_rel" ] && cmp -s roll/good.txt wwwR/download/5.0/good.txt ||
    fail "publish --channel beta: $(cat out.txt err.txt; find wwwR)"
# A beta manifest laid at the default path by hand is not published there.
cp roll.txt "stR/$manifest_rel"
run publish --staged stR wwwR
[ "$rc" -eq 1 ] && grep -qF "signed for the channel beta, not stable" err.txt && [ ! -e "wwwR/$manifest_rel" ] ||
    fail "publish of a beta release to stable: exit $rc $(cat err.txt)"
rm "stR/$manifest_rel"
run rollout --channel beta --public keys/public.key wwwR
[ "$rc" -eq 0 ] && grep -qx "channel: beta" out.txt && grep -qx "share: 2.5 %" out.txt || fail "rollout --channel beta: $(cat out.txt err.txt)"

# check: the installation's bucket in a staged release, derived as the updater derives it, and
# the serial record of the manifest's own channel.
mkdir instR
id=0123456789abcdef0123456789abcdef
printf '%s\n' "$id" >instR/VorlanePatcher.id
bucket=$((16#$(printf 'vorlane-rollout\n%s\n%s' "$id" 5.0 | sha256sum | cut -c1-8) % 1000))
[ "$bucket" -lt 30 ] && side=inside || side=outside
run check --public keys/public.key roll-stable.txt instR
grep -q "^rollout bucket: $bucket of 1000, $side the share" out.txt || fail "check of a bucket: $(cat out.txt err.txt)"
beta_serial=$(sed -n 's/^serial=//p' roll.txt)
echo "$((beta_serial + 10)) $((beta_serial + 10))" >instR/VorlanePatcher.beta.serial
run check --public keys/public.key roll.txt instR
[ "$rc" -eq 1 ] && grep -q "^accepted serial: $((beta_serial + 10))" out.txt ||
    fail "check of a beta release against the beta serial record: exit $rc $(cat out.txt err.txt)"

# In steps on the default channel: 5 %, 25 %, 100 %, then halted. Each step re-signs the
# live manifest with a higher serial and replaces only it.
"$T" manifest --version 5.1 --date 2026-12-11 --notes-file notes.txt --out r51.txt roll 2>/dev/null
"$T" sign --key keys/private.pem --rollout 5 --expires 30d r51.txt >/dev/null
"$T" stage --release-dir roll --signed r51.txt --out st51 >/dev/null
"$T" publish --staged st51 wwwR >/dev/null 2>&1 || fail "publish of the 5 % release"
files_before=$(cd wwwR/download && find . -type f -exec sha256sum {} + | sort; stat -c %Y 5.1/good.txt)
run rollout wwwR
[ "$rc" -eq 0 ] && grep -q "version 5.1" out.txt && grep -qx "share: 5 %" out.txt && grep -qx "channel: stable" out.txt &&
    grep -qx "critical: no" out.txt || fail "rollout shows the live share: $(cat out.txt err.txt)"
last=$(sed -n 's/^serial=//p' r51.txt)
for step in "25 250 25 %" "100 1000 100 %" "0 0 0 % (halted)"; do
    read -r to perMille shown <<<"$step"
    run rollout --key keys/private.pem --to "$to" wwwR
    live="wwwR/$manifest_rel"
    serial_now=$(sed -n 's/^serial=//p' "$live")
    [ "$rc" -eq 0 ] && grep -qx "share: $shown" out.txt && grep -qx "rollout=$perMille" "$live" &&
        [ "$serial_now" -gt "$last" ] || fail "rollout --to $to: serial $serial_now after $last: $(cat out.txt err.txt)"
    # Every other record stays; the updater reads the new manifest with the key.
    [ "$(sed '/^serial=/d; /^rollout=/d; /^sig=/d' "$live")" = "$(sed '/^serial=/d; /^rollout=/d; /^sig=/d' r51.txt)" ] ||
        fail "rollout --to $to changed other records: $(cat "$live")"
    "$T" verify --public keys/public.key "$live" >/dev/null 2>&1 || fail "rollout --to $to: the manifest does not verify"
    last=$serial_now
done
[ "$(cd wwwR/download && find . -type f -exec sha256sum {} + | sort; stat -c %Y 5.1/good.txt)" = "$files_before" ] ||
    fail "rollout touched the release files"
ls -A "wwwR/$(dirname "$manifest_rel")" | grep -q '^\.' && fail "rollout left a temporary file"
# The first manifest of the release, with its lower serial, cannot come back.
run publish --staged st51 wwwR
[ "$rc" -eq 1 ] && grep -qF "has serial $last (version 5.1)" err.txt && grep -qx "rollout=0" "wwwR/$manifest_rel" ||
    fail "publish of the release's first manifest after the halt: exit $rc $(cat err.txt)"
# Another key, a bad share, no --key: refused, the live manifest unchanged.
cp "wwwR/$manifest_rel" live-before.txt
run rollout --key other/private.pem --to 50 wwwR
[ "$rc" -eq 1 ] && grep -qF "podpis manifestu sie nie zgadza (not signed by the key in other/private.pem" err.txt ||
    fail "rollout with another key: exit $rc $(cat err.txt)"
run rollout --key keys/private.pem --to 150 wwwR
[ "$rc" -eq 1 ] && grep -qF -- "--to 150 is more than 100 %" err.txt || fail "rollout --to 150: exit $rc $(cat err.txt)"
run rollout --to 50 wwwR
[ "$rc" -eq 2 ] || fail "rollout --to without --key: exit $rc"
cmp -s live-before.txt "wwwR/$manifest_rel" || fail "a refused rollout changed the live manifest"
# A release whose updater trusts another key than the one that would re-sign it (a key
# rotation's release) is not re-signed: the updated installations would refuse it.
mkdir wwwK
"$T" stage --release-dir relB --signed rot.txt --out stK --next-key other/public.key >/dev/null
"$T" publish --staged stK wwwK >/dev/null 2>&1 || fail "publish of the rotation"
cp "wwwK/$manifest_rel" live-before.txt
run rollout --key keys/private.pem --to 50 wwwK
[ "$rc" -eq 1 ] && grep -qF "run an updater that trusts $(short other), not the key $(short keys)" err.txt &&
    cmp -s live-before.txt "wwwK/$manifest_rel" || fail "rollout of a key rotation's release: exit $rc $(cat err.txt)"

# --- deltas from older versions ----------------------------------------------------------
# Three older versions under a published tree; the new big.dat has 1 % of its bytes changed
# at scattered places since 1.1.0 (and more since 1.0.0), noise.bin is new random bytes
# each time (no delta is small enough), same.txt never changed.
python3 - <<'PY'
import os, random
r = random.Random(7)
def edit(b, seed):
    b = bytearray(b); e = random.Random(seed)
    for _ in range(len(b) // 100):
        b[e.randrange(len(b))] ^= 0x5A
    return bytes(b)
v100 = r.randbytes(1 << 20)
v110 = edit(v100, 1)
for v, data in (("0.9.0", edit(v100, 9)), ("1.0.0", v100), ("1.1.0", v110), (".stage-x", v110)):
    os.makedirs("old/download/" + v)
    open("old/download/%s/big.dat" % v, "wb").write(data)
    open("old/download/%s/noise.bin" % v, "wb").write(r.randbytes(100000))
    open("old/download/%s/same.txt" % v, "w").write("same\n")
os.makedirs("relD")
open("relD/big.dat", "wb").write(edit(v110, 2))
open("relD/noise.bin", "wb").write(r.randbytes(100000))
open("relD/same.txt", "w").write("same\n")
PY
"$T" manifest --version 1.2.0 --out d.txt relD >/dev/null 2>&1
cp d.txt d-unsigned.txt
run deltas --release-dir relD --from old --versions 2 --out dd d.txt
[ "$rc" -eq 0 ] && grep -qx "Bases: 1.1.0, 1.0.0" out.txt || fail "deltas: exit $rc $(cat out.txt err.txt)"
[ "$(grep -c '^delta=big.dat|' d.txt)" = 2 ] && ! grep -q '^delta=noise.bin\|^delta=same.txt\|0.9.0$' d.txt ||
    fail "deltas: records $(grep ^delta= d.txt)"
grep -q "^no delta: noise.bin from 1.1.0: .* not below 50.0 %" out.txt || fail "deltas: noise.bin $(cat out.txt)"
for v in 1.1.0 1.0.0; do
    base=$(sha256sum old/download/$v/big.dat | cut -c1-64)
    delta=dd/.delta/$base/big.dat.zst
    grep -qx "delta=big.dat|$base|$(stat -c %s "$delta")|$(sha256sum "$delta" | cut -c1-64)|$v" d.txt ||
        fail "deltas: the record from $v: $(grep ^delta= d.txt)"
    # The frame is what "zstd -d --patch-from" applies, and far below the file.
    if command -v zstd >/dev/null; then
        zstd -q -d --patch-from=old/download/$v/big.dat "$delta" -o rebuilt.dat -f && cmp -s rebuilt.dat relD/big.dat ||
            fail "zstd --patch-from does not rebuild big.dat from $v"
    fi
    [ "$(stat -c %s "$delta")" -lt $((1048576 / 20)) ] || fail "the delta from $v is $(stat -c %s "$delta") bytes"
done
grep -q "^delta: big.dat from 1.1.0 ([0-9.]* KiB, [0-9.]* %)$" out.txt || fail "deltas: $(cat out.txt)"
run deltas --release-dir relD --from old --out dd2 d.txt
[ "$rc" -eq 1 ] && grep -q "holds delta records already" err.txt && [ ! -e dd2 ] || fail "deltas twice: exit $rc"
run sign --key keys/private.pem --release-dir relD d.txt
[ "$rc" -eq 0 ] || fail "sign with delta records: $(cat err.txt)"
run verify --public keys/public.key d.txt
[ "$rc" -eq 0 ] && [ ! -s err.txt ] && grep -q "^delta: big.dat from 1.0.0 (" out.txt || fail "verify: deltas $(cat out.txt err.txt)"
# A delta of a file the manifest does not list is refused by sign.
sed "s/^delta=big.dat|/delta=gone.dat|/" d-unsigned.txt >d-bad.txt
grep "^delta=" d.txt | sed 's/^delta=big.dat|/delta=gone.dat|/' >>d-bad.txt
run sign --key keys/private.pem --release-dir relD d-bad.txt
[ "$rc" -eq 1 ] && grep -q "a delta for \"gone.dat\", which no file record lists" err.txt ||
    fail "sign of a delta without its file: exit $rc $(cat err.txt)"
# stage: no deltas folder, or a delta whose bytes are not its record's, is refused.
refused "stage without --deltas" "give the folder \"deltas --out\" wrote them to" wwwD \
    stage --release-dir relD --signed d.txt --out wwwD
cp -r dd ddbad
damaged=$(find ddbad -name big.dat.zst | head -n 1)
printf 'X' | dd of="$damaged" bs=1 seek=100 conv=notrunc 2>/dev/null
refused "a damaged delta" "big.dat.zst: its SHA-256 is not the delta record's" wwwD \
    stage --release-dir relD --signed d.txt --out wwwD --deltas ddbad
run stage --release-dir relD --signed d.txt --out wwwD --deltas dd
[ "$rc" -eq 0 ] && grep -q "3 files and 2 deltas" out.txt || fail "stage --deltas: exit $rc $(cat err.txt)"
mkdir destD
for pass in first again; do
    run publish --staged wwwD ./destD
    [ "$rc" -eq 0 ] || fail "publish with deltas ($pass): $(cat err.txt)"
done
for f in $(cd dd && find . -type f); do
    cmp -s "dd/$f" "destD/download/1.2.0/$f" || fail "publish did not carry the delta $f"
done
# An installation holding 1.1.0's big.dat can take the delta.
mkdir instD
cp old/download/1.1.0/big.dat instD/
run check --public keys/public.key d.txt instD
grep -q "^         the updater can fetch the delta from 1.1.0 (" out.txt || fail "check: the delta $(cat out.txt)"
cp old/download/0.9.0/big.dat instD/
run check --public keys/public.key d.txt instD
grep -q "can fetch the delta" out.txt && fail "check offers a delta for 0.9.0's big.dat"

# --- progress while hashing a large folder -----------------------------------------------
mkdir -p big
truncate -s 70M big/large.bin
echo small >big/small.txt
run manifest --version 1 --out big.txt big
[ "$rc" -eq 0 ] && grep -q "^hashing" err.txt || fail "no progress line for 70 MiB: $(cat err.txt)"
run manifest --version 1 --out small.txt ok
grep -q "hashing" err.txt && fail "a progress line for a small folder"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "release tool: all checks passed"
