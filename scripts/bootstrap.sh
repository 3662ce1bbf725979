#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test Vorlane; does nothing when
# everything is there.
#
# A package mirror is sometimes briefly out of step with itself ("File has unexpected size ...
# Mirror sync in progress?"). Then: `apt-get update` is tried a few times with a pause, and if
# indexes still fail we go on with the lists we have. If the install cannot be resolved from
# them (typically the security suite's i386 list is missing, so `wine32:i386` finds no twin of
# its amd64 packages), it is tried once more with the base release as the default release
# (`-t <codename>`). Only if that fails too does the set-up stop, naming what was missing.
#
# What Wine needs depends on the machine (scripts/machine.sh): where the kernel runs 32-bit
# code, the i386 architecture and Wine's 32-bit loader (wine32:i386) for the program we ship;
# where it runs 64-bit code only, first qemu-i386 (see install_next_qemu for which), which the
# bootstrap registers for i386 programs, and only once that is done the i386 architecture and
# wine32:i386, which then run under emulation (without qemu they could not run at all).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/machine.sh
. "$here/machine.sh"
machine_decide || exit 1

if [ "$VORLANE_MACHINE" = 32bit ]; then
    machine_packages=(wine32:i386)
else
    machine_packages=(qemu-user-static)
fi
packages=(
    mingw-w64 wine "${machine_packages[@]}" wine64 xvfb xdotool imagemagick
    cmake ninja-build g++ googletest libgtest-dev libssl-dev openssl libbenchmark-dev
    clang libclang-rt-14-dev llvm
    nginx osslsigncode python3 iproute2 util-linux curl file binutils-mingw-w64-i686
    binutils-mingw-w64-x86-64 libcurl4-openssl-dev libzstd-dev pkg-config rsync rclone nodejs
)
update_tries=${VORLANE_APT_UPDATE_TRIES:-3}
retry_pause=${VORLANE_APT_RETRY_PAUSE:-20}
os_release=${VORLANE_OS_RELEASE:-/etc/os-release}
next_release=trixie

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
say() { echo "bootstrap: $*" >&2; }

# missing_packages: the packages of the list that dpkg does not have installed.
missing_packages() {
    local p
    for p in "${packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            echo "$p"
        fi
    done
}

# update_lists: apt-get update until it fetches every index, at most $update_tries times.
# Returns 0 in any case: failed indexes are reported, and the install decides whether the
# lists we have are enough.
update_lists() {
    local try out
    for ((try = 1; try <= update_tries; try++)); do
        if out=$("${sudo_cmd[@]}" apt-get update -q 2>&1) && ! grep -qE '^(E: |W: Failed to fetch)' <<<"$out"; then
            return 0
        fi
        if ((try < update_tries)); then
            say "apt-get update failed (try $try of $update_tries); trying again in ${retry_pause} s"
            grep '^E: ' <<<"$out" | head -n 3 >&2 || true
            sleep "$retry_pause"
        fi
    done
    grep '^E: ' <<<"$out" | head -n 3 >&2 || true
    say "apt-get update still reports failed indexes after $update_tries tries (a mirror sync in progress?); going on with the package lists it has"
}

# base_release: the codename of this Debian release ("bookworm"), from os-release.
base_release() {
    (
        # shellcheck disable=SC1090
        . "$os_release" 2>/dev/null && echo "${VERSION_CODENAME:-}"
    )
}

# install_missing PACKAGE...: the install, then once more from the base release if the lists
# we have cannot resolve it.
install_missing() {
    local out codename
    if out=$("${sudo_cmd[@]}" apt-get install -y -q "$@" 2>&1); then
        return 0
    fi
    codename=$(base_release)
    if [ -z "$codename" ]; then
        say "could not install: $*"
        grep -E '^(E:|  )' <<<"$out" | tail -n 12 >&2 || true
        say "and no release codename in $os_release to try the base release with"
        return 1
    fi
    say "the install could not be resolved from the current package lists; trying again with the base release as the default release (-t $codename)"
    if out=$("${sudo_cmd[@]}" apt-get install -y -q -t "$codename" "$@" 2>&1); then
        say "installed from the base release $codename"
        return 0
    fi
    say "could not install: $*"
    grep -E '^(E:|  )' <<<"$out" | tail -n 12 >&2 || true
    say "apt-get could not resolve or fetch these packages, neither with the current lists nor with -t $codename; run 'apt-get update' later and try again"
    return 1
}

# install_next_qemu: where 32-bit programs run under emulation, qemu-i386 from Debian's next
# release. Debian 12's qemu-i386 (7.2) runs Wine's 32-bit loader, but now and then one of the
# threads of Wine's services or of the updater dies under it ("Got unexpected trap -1",
# "qemu: uncaught target signal 11"), and a start takes about a minute. The next release's
# (10.0) ran the same whole update cleanly every time, a start in a few seconds, and it is
# linked statically, so it runs here as it is. Its package is fetched with apt-get into an apt
# state of its own (the machine's sources and package lists stay as they are; apt checks the
# file against the archive's signed index), and only qemu-i386 is taken from it. If that cannot
# be had, Debian 12's qemu-user-static (installed above) serves.
install_next_qemu() {
    [ "$VORLANE_MACHINE" = 64only ] && [ -z "${VORLANE_QEMU_I386:-}" ] && [ "$(base_release)" = bookworm ] || return 0
    "$machine_qemu_next" --version 2>/dev/null | grep -q '^qemu-i386 version' && return 0
    local dir mirror keyring=/usr/share/keyrings/debian-archive-keyring.gpg options=() deb
    dir=$(mktemp -d)
    mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial" "$dir/parts"
    # The machine's own Debian mirror, as its sources name it.
    mirror=$(apt-get -o Dir::State::Lists="$dir/lists" --print-uris update 2>/dev/null |
        sed -nE "s|^'(.*)/dists/bookworm/InRelease'.*|\1|p" | head -n 1)
    [ -f "$keyring" ] && options=("[signed-by=$keyring]")
    echo "deb ${options[*]} ${mirror:-none} $next_release main" >"$dir/sources.list"
    options=(-o Dir::Etc::SourceList="$dir/sources.list" -o Dir::Etc::SourceParts="$dir/parts"
        -o Dir::State::Lists="$dir/lists" -o Dir::Cache="$dir/cache" -o APT::Sandbox::User=root
        -o APT::Architectures="$(dpkg --print-architecture)" -q)
    say "fetching qemu-i386 from Debian $next_release (qemu-user): Debian 12's crashes now and then under Wine"
    if [ -n "$mirror" ] && "${sudo_cmd[@]}" apt-get "${options[@]}" update >"$dir/apt.log" 2>&1 &&
        (cd "$dir" && "${sudo_cmd[@]}" apt-get "${options[@]}" download "qemu-user/$next_release") >>"$dir/apt.log" 2>&1 &&
        deb=$(ls "$dir"/qemu-user_*.deb) &&
        dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/bin/qemu-i386 >"$dir/qemu-i386" &&
        chmod +x "$dir/qemu-i386" && "$dir/qemu-i386" --version | grep -q '^qemu-i386 version' &&
        "${sudo_cmd[@]}" install -D -m 0755 "$dir/qemu-i386" "$machine_qemu_next"; then
        say "installed $("$machine_qemu_next" --version | head -n 1) as $machine_qemu_next"
        machine_pick_qemu
    else
        grep -E '^(E|W): ' "$dir/apt.log" 2>/dev/null | head -n 3 >&2 || true
        say "could not fetch qemu-i386 from Debian $next_release${mirror:+ ($mirror)}; Debian 12's qemu-i386-static serves instead (slower, and Wine crashes under it now and then)"
    fi
    "${sudo_cmd[@]}" rm -rf "$dir"
}

# register_qemu: on a kernel without 32-bit code, qemu-i386 registered machine-wide (once, or
# again when an earlier bootstrap registered another qemu-i386). Never where the kernel runs
# 32-bit code, not even with VORLANE_MACHINE=64only: every 32-bit program of the machine would
# then be emulated.
# Sets qemu_serves=yes when qemu-i386 serves every i386 program of the machine.
qemu_serves=no
register_qemu() {
    [ "${VORLANE_MACHINE_SOURCE:-}" = probe ] && [ "$VORLANE_MACHINE" = 64only ] || return 0
    if machine_qemu_registered && ! machine_qemu_stale; then
        qemu_serves=yes
        return 0
    fi
    say "this kernel runs no 32-bit code: registering qemu-i386 for i386 programs in binfmt_misc, so that the 32-bit VorlanePatcher.exe runs under emulation (slower than natively)"
    if "${sudo_cmd[@]}" bash "$here/machine.sh" register-qemu; then
        qemu_serves=yes
    else
        say "could not register qemu-i386; the 32-bit program will not run here"
    fi
}

# install_emulated_wine: where qemu-i386 now serves i386 programs, Wine's 32-bit loader and
# DLLs (wine32:i386, with the i386 architecture), without which the 32-bit program cannot run
# even under emulation.
install_emulated_wine() {
    [ "$qemu_serves" = yes ] || return 0
    if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
        return 0
    fi
    say "installing wine32:i386 (Wine's 32-bit loader and DLLs), which runs here under qemu-i386"
    dpkg --print-foreign-architectures | grep -qx i386 || "${sudo_cmd[@]}" dpkg --add-architecture i386
    update_lists
    install_missing wine32:i386
}

mapfile -t missing < <(missing_packages)
if [ "$VORLANE_MACHINE" = 32bit ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
    say "installing ${missing[*]}"
    update_lists
    install_missing "${missing[@]}" || exit 1
fi
install_next_qemu
register_qemu
install_emulated_wine || exit 1
# The S3-compatible server of the object-storage test: npm's s3rver, pinned by
# tests/s3server/package-lock.json, into build/s3server (again only when the lock changed).
# VORLANE_S3SERVER_DIR=none leaves it out.
s3server_dir=${VORLANE_S3SERVER_DIR:-$here/../build/s3server}
if [ "$s3server_dir" != none ] &&
    ! { cmp -s "$here/../tests/s3server/package-lock.json" "$s3server_dir/package-lock.json" &&
        [ -e "$s3server_dir/node_modules/.bin/s3rver" ]; }; then
    command -v npm >/dev/null || { update_lists; install_missing npm || exit 1; }
    say "installing s3rver (the object-storage test's server) into $s3server_dir"
    mkdir -p "$s3server_dir"
    cp "$here/../tests/s3server/package.json" "$here/../tests/s3server/package-lock.json" "$s3server_dir/"
    (cd "$s3server_dir" && npm ci --no-audit --no-fund --loglevel=error >&2) ||
        { say "npm ci of s3rver failed in $s3server_dir"; exit 1; }
fi
# nginx starts itself when it is installed; the tests run their own instances.
if [[ " ${missing[*]} " == *" nginx "* ]] && command -v systemctl >/dev/null &&
    systemctl is-active -q nginx 2>/dev/null; then
    "${sudo_cmd[@]}" systemctl stop nginx || true
fi
