#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test Vorlane; does
# nothing when everything is there.
set -euo pipefail

packages=(
    mingw-w64 wine wine32:i386 wine64 xvfb xdotool imagemagick
    cmake ninja-build g++ googletest libgtest-dev libssl-dev openssl libbenchmark-dev
    clang libclang-rt-14-dev llvm
    nginx osslsigncode python3 iproute2 util-linux curl file binutils-mingw-w64-i686 libcurl4-openssl-dev rsync strace
)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "bootstrap: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
# nginx starts itself on install; the tests run their own instances.
if command -v systemctl >/dev/null && systemctl is-active -q nginx 2>/dev/null; then
    "${sudo_cmd[@]}" systemctl stop nginx || true
fi
