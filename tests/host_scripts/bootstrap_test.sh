#!/usr/bin/env bash
# scripts/bootstrap.sh's decisions against a package mirror that lags, with stand-ins for
# apt-get, dpkg and dpkg-query first on PATH (no network, nothing installed): what is already
# there is not installed again, a failing `apt-get update` is retried and then passed over, an
# install the lists cannot resolve is tried once more from the base release, and a failure of
# both stops the set-up with the packages and apt's reason. And the machine decision
# (scripts/machine.sh) from stand-ins for the kernel's boot log, Wine's 32-bit loader and
# binfmt_misc: a kernel without 32-bit code gets qemu-i386 registered (the next release's,
# fetched into an apt state of its own, else Debian 12's; an earlier bootstrap's entry for
# another qemu is replaced), and only then the i386 architecture and wine32:i386; a kernel with
# it gets them and nothing registered, even when a developer pretends otherwise with
# VORLANE_MACHINE=64only.
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
[ "$1" = --print-foreign-architectures ] && cat "$FAKE/foreign"
[ "$1" = --add-architecture ] && echo "dpkg $*" >>"$FAKE/calls"
[ "$1" = --print-architecture ] && echo amd64
exit 0
SH
# The kernel's boot log, and Wine's 32-bit loader: one that starts, or an i386-looking file the
# kernel refuses ("Exec format error", as on a kernel without 32-bit code).
printf '#!/bin/sh\ncat "$FAKE/dmesg"\n' >"$fake/bin/dmesg"
printf '#!/bin/sh\necho wine-8.0\n' >"$fake/loader-runs"
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\231\231' >"$fake/loader-refused"
# One the kernel cannot start for another reason (its interpreter may not be executed, as in a
# folder mounted noexec): "Permission denied" says nothing about 32-bit code.
printf 'not a program\n' >"$fake/no-exec"
printf '#!%s\n' "$fake/no-exec" >"$fake/loader-denied"
# No private binfmt_misc here: what is registered machine-wide is what the bootstrap wrote.
printf '#!/bin/sh\nexit 1\n' >"$fake/bin/unshare"
mkdir "$fake/binfmt"
# apt-get: "update" fails while $fake/update-failures counts down; "install" behaves as
# $fake/install says: ok, base-only (resolves only with -t bookworm) or broken. Calls with
# an apt state of their own (fetching the next release's qemu) go to $fake/private and
# reach the next release's archive unless $fake/next-release says "unreachable".
cat >"$fake/bin/apt-get" <<'SH'
#!/bin/bash
if [[ " $* " == *" Dir::State::Lists="* ]]; then
    echo "$*" >>"$FAKE/private"
    case " $* " in
    *" --print-uris update "*) echo "'http://mirror/debian/dists/bookworm/InRelease' mirror_debian_dists_bookworm_InRelease 0" ;;
    *" update "*) [ "$(cat "$FAKE/next-release")" = ok ] || { echo "E: Failed to fetch http://mirror/debian/dists/trixie/InRelease" >&2; exit 100; } ;;
    *" download qemu-user/trixie "*)
        mkdir -p pkg/DEBIAN pkg/usr/bin
        printf 'Package: qemu-user\nVersion: 1:10.0.13\nArchitecture: amd64\nMaintainer: x <x@example.org>\nDescription: x\n' >pkg/DEBIAN/control
        printf '#!/bin/sh\necho "qemu-i386 version 10.0.13"\n' >pkg/usr/bin/qemu-i386
        chmod +x pkg/usr/bin/qemu-i386
        dpkg-deb --root-owner-group --build pkg qemu-user_10.0.13_amd64.deb >/dev/null && rm -rf pkg ;;
    esac
    exit 0
fi
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
chmod +x "$fake/bin/"* "$fake/loader-"*
printf 'ID=debian\nVERSION_CODENAME=bookworm\n' >"$fake/os-release"

failures=0
# scenario NAME MISSING UPDATE_FAILURES INSTALL [VAR=VALUE...]: runs the bootstrap on a
# kernel with 32-bit code and i386 enabled, unless the variables say otherwise (BOOT_LOG,
# LOADER=refused, FOREIGN=, VORLANE_MACHINE, NEXT=unreachable, STALE=yes: an earlier
# bootstrap registered Debian 12's qemu); leaves rc, calls, private, err, registered.
scenario() {
    name=$1
    printf '%s\n' $2 >"$fake/missing"
    echo "$3" >"$fake/update-failures"
    echo "$4" >"$fake/install"
    local BOOT_LOG="" LOADER=runs FOREIGN=i386 VORLANE_MACHINE="" NEXT=ok STALE=""
    shift 4
    [ $# -eq 0 ] || local "$@"
    echo "$BOOT_LOG" >"$fake/dmesg"
    echo "$FOREIGN" >"$fake/foreign"
    echo "$NEXT" >"$fake/next-release"
    : >"$fake/calls"
    : >"$fake/private"
    : >"$fake/binfmt/register"
    rm -rf "$fake/next" "$fake/binfmt/qemu-i386"
    [ -z "$STALE" ] || printf 'enabled\ninterpreter /usr/bin/qemu-i386-static\nflags: F\noffset 0\nmagic 7f454c4601010100000000000000000002000300\n' >"$fake/binfmt/qemu-i386"
    set +e
    FAKE=$fake PATH="$fake/bin:$PATH" VORLANE_APT_RETRY_PAUSE=0 VORLANE_S3SERVER_DIR=none VORLANE_OS_RELEASE="$fake/os-release" \
        VORLANE_WINE32_LOADER="$fake/loader-$LOADER" VORLANE_BINFMT_DIR="$fake/binfmt" \
        VORLANE_QEMU_I386="" VORLANE_QEMU_NEXT="$fake/next/qemu-i386" VORLANE_MACHINE="$VORLANE_MACHINE" VORLANE_MACHINE_REASON="" \
        bash "$bootstrap" 2>"$fake/err" >/dev/null
    rc=$?
    set -e
    calls=$(cat "$fake/calls")
    private=$(cat "$fake/private")
    err=$(cat "$fake/err")
    registered=$(cat "$fake/binfmt/register")
}
expect() {
    if ! eval "$1"; then
        echo "FAIL [$name]: $1" >&2
        printf '  rc=%s\n  calls:\n%s\n  stderr:\n%s\n  registered: %s\n' "$rc" "$calls" "$err" "$registered" >&2
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

off="[    0.412345] IA-32 emulation off: the host runs 64-bit user code only (i386 execve returns ENOEXEC)"
scenario "fresh machine, kernel without 32-bit code" "wine32:i386 nginx qemu-user-static" 0 ok BOOT_LOG="$off" FOREIGN=
expect '[ $rc -eq 0 ]'
expect '[ "$calls" = "$(printf "update -q\ninstall -y -q qemu-user-static nginx\ndpkg --add-architecture i386\nupdate -q\ninstall -y -q wine32:i386")" ]'
expect 'grep -q "^machine: runs 64-bit code only.*boot log says \"IA-32 emulation off" <<<"$err"'
expect 'grep -q "registering qemu-i386" <<<"$err"'
expect 'grep -q " download qemu-user/trixie" <<<"$private"'
expect '[ "$("$fake/next/qemu-i386" --version)" = "qemu-i386 version 10.0.13" ]'
expect '[[ $registered == ":qemu-i386:M::\\x7fELF\\x01\\x01\\x01"*":$fake/next/qemu-i386:F" ]]'

scenario "boot log silent, the 32-bit loader refused, the next release out of reach" "" 0 ok LOADER=refused FOREIGN= NEXT=unreachable
expect '[ $rc -eq 0 ] && [ -z "$calls" ]'
expect 'grep -q "could not be started: .*Exec format error" <<<"$err"'
expect 'grep -q "could not fetch qemu-i386 from Debian trixie (http://mirror/debian)" <<<"$err"'
expect '[ ! -e "$fake/next/qemu-i386" ]'
expect '[[ $registered == *":/usr/bin/qemu-i386-static:F" ]]'

scenario "boot log silent, the 32-bit loader cannot be started for another reason" "wine32:i386" 0 ok LOADER=denied
expect '[ $rc -ne 0 ] && [ -z "$calls" ] && [ -z "$registered" ]'
expect 'grep -q "could not tell whether this kernel runs 32-bit code: .*Permission denied.*nothing was changed" <<<"$err"'

scenario "an earlier bootstrap registered Debian 12's qemu" "" 0 ok BOOT_LOG="$off" FOREIGN= STALE=yes
expect '[ $rc -eq 0 ]'
expect '[ "$(cat "$fake/binfmt/qemu-i386")" = -1 ]'
expect '[[ $registered == *":$fake/next/qemu-i386:F" ]]'

scenario "fresh machine, kernel with 32-bit code" "wine32:i386" 0 ok FOREIGN=
expect '[ $rc -eq 0 ]'
expect '[ "$calls" = "$(printf "dpkg --add-architecture i386\nupdate -q\ninstall -y -q wine32:i386")" ]'
expect 'grep -q "^machine: runs 32-bit code" <<<"$err"'
expect '[ -z "$registered" ] && [ -z "$private" ]'

scenario "a developer pretends no 32-bit code" "" 0 ok VORLANE_MACHINE=64only
expect '[ $rc -eq 0 ] && [ -z "$calls" ]'
expect 'grep -q "VORLANE_MACHINE=64only is set" <<<"$err"'
expect '[ -z "$registered" ]'

# scripts/demo.sh empties its folder as root: only one of its own (scripts/demo_folder.sh).
name="the demo's folder"
clone=$(dirname "$bootstrap")/..
. "$(dirname "$bootstrap")/demo_folder.sh"
# The home folder and the one above it carry the mark: only their place refuses them.
mkdir -p "$fake/top/home" "$fake/old-demo/install" "$fake/old-demo/wineprefix" "$fake/mine"
touch "$fake/top/$demo_mark" "$fake/top/home/$demo_mark" "$fake/old-demo/summary.txt" "$fake/mine/thesis.odt"
ln -s top/home "$fake/home-link"
for dir in / "$fake/top/home" "$fake/home-link" "$fake/top" "$clone" "$clone/.." "$fake/mine" "$fake/mine/thesis.odt"; do
    expect '! HOME=$fake/top/home demo_folder_check "$dir" "$clone" 2>/dev/null'
done
expect '! HOME=$fake/top/home demo_folder_check "$fake/mine" "$clone" 2>"$fake/said" && grep -q "holds other things than the demo.s (thesis.odt)" "$fake/said"'
touch "$fake/mine/$demo_mark"
for dir in "$fake/mine" "$fake/old-demo" "$fake/new" "$clone/build/demo"; do
    expect 'HOME=$fake/top/home demo_folder_check "$dir" "$clone"'
done

if [ "$failures" -ne 0 ]; then
    echo "bootstrap_test: $failures check(s) failed" >&2
    exit 1
fi
echo "bootstrap_test: ok"
