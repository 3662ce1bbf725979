#!/usr/bin/env bash
# scripts/bootstrap.sh's decisions against a package mirror that lags, with stand-ins for
# apt-get, dpkg and dpkg-query first on PATH (no network, nothing installed): what is already
# there is not installed again, a failing `apt-get update` is retried and then passed over, an
# install the lists cannot resolve is tried once more from the base release, and a failure of
# both stops the set-up with the packages and apt's reason.
set -euo pipefail
bootstrap="$(cd "$(dirname "$0")/../.." && pwd)/scripts/bootstrap.sh"
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
mkdir "$fake/bin"

# dpkg-query: every package is installed except those listed in $fake/missing.
cat >"$fake/bin/dpkg-query" <<'SH'
#!/bin/sh
for last; do :; done
grep -qxF -- "$last" "$FAKE/missing" 2>/dev/null || printf 'install ok installed'
SH
cat >"$fake/bin/dpkg" <<'SH'
#!/bin/sh
[ "$1" = --print-foreign-architectures ] && echo i386
exit 0
SH
# apt-get: "update" fails while $fake/update-failures counts down; "install" behaves as
# $fake/install says: ok, base-only (resolves only with -t bookworm) or broken.
cat >"$fake/bin/apt-get" <<'SH'
#!/bin/bash
echo "$*" >>"$FAKE/calls"
case " $* " in
*" update "*)
    left=$(cat "$FAKE/update-failures")
    if [ "$left" -gt 0 ]; then
        echo $((left - 1)) >"$FAKE/update-failures"
        echo "E: Failed to fetch http://mirror/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
        echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
        exit 100
    fi ;;
*" install "*)
    case "$(cat "$FAKE/install")" in
    ok) ;;
    base-only) [[ " $* " == *" -t bookworm "* ]] || { echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100; } ;;
    broken) echo "  wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed" >&2
            echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;;
    esac ;;
esac
exit 0
SH
printf '#!/bin/sh\nexec "$@"\n' >"$fake/bin/sudo"
printf '#!/bin/sh\nexit 1\n' >"$fake/bin/systemctl"
chmod +x "$fake/bin/"*
printf 'ID=debian\nVERSION_CODENAME=bookworm\n' >"$fake/os-release"

failures=0
# scenario NAME MISSING UPDATE_FAILURES INSTALL: runs the bootstrap; leaves rc, calls, err.
scenario() {
    name=$1
    printf '%s\n' $2 >"$fake/missing"
    echo "$3" >"$fake/update-failures"
    echo "$4" >"$fake/install"
    : >"$fake/calls"
    set +e
    FAKE=$fake PATH="$fake/bin:$PATH" VORLANE_APT_RETRY_PAUSE=0 VORLANE_OS_RELEASE="$fake/os-release" \
        bash "$bootstrap" 2>"$fake/err" >/dev/null
    rc=$?
    set -e
    calls=$(cat "$fake/calls")
    err=$(cat "$fake/err")
}
expect() {
    if ! eval "$1"; then
        echo "FAIL [$name]: $1" >&2
        printf '  rc=%s\n  calls:\n%s\n  stderr:\n%s\n' "$rc" "$calls" "$err" >&2
        failures=$((failures + 1))
    fi
}

scenario "all there" "" 0 ok
expect '[ $rc -eq 0 ] && [ -z "$calls" ]'

scenario "one failed update, then fine" "wine32:i386 nginx" 1 ok
expect '[ $rc -eq 0 ]'
expect '[ "$calls" = "$(printf "update -q\nupdate -q\ninstall -y -q wine32:i386 nginx")" ]'
expect 'grep -q "try 1 of 3" <<<"$err"'

scenario "mirror lag" "wine32:i386" 9 base-only
expect '[ $rc -eq 0 ]'
expect '[ "$calls" = "$(printf "update -q\nupdate -q\nupdate -q\ninstall -y -q wine32:i386\ninstall -y -q -t bookworm wine32:i386")" ]'
expect 'grep -q "going on with the package lists it has" <<<"$err"'
expect 'grep -q "trying again with the base release as the default release (-t bookworm)" <<<"$err"'

scenario "broken either way" "wine32:i386 xvfb" 0 broken
expect '[ $rc -ne 0 ]'
expect '[ "$(grep -c "^install" <<<"$calls")" -eq 2 ]'
expect 'grep -q "could not install: wine32:i386 xvfb" <<<"$err"'
expect 'grep -q "libwine:i386 (= 8.0~repack-4)" <<<"$err"'

if [ "$failures" -ne 0 ]; then
    echo "bootstrap_test: $failures check(s) failed" >&2
    exit 1
fi
echo "bootstrap_test: ok"
