#!/usr/bin/env bash
# The whole road of an update on this machine, to watch: installs what is missing, builds
# both trees, makes a demo installation (the test bot 2.5.17.3 and a few data files) and a
# demo release (bot 2.6.0.1, changed and new files, a new VorlanePatcher.exe), signs and
# stages it with vorlane-release as a publisher does, serves it with nginx over TLS as the
# update host inside a private network namespace, and runs VorlanePatcher.exe --auto under
# Wine: on your display when DISPLAY is set, else on a private Xvfb. A second run shows
# the up-to-date path. Everything it makes lies in build/demo/; nothing stays running.
# Run it as root or as a user with sudo (the namespace and port 443 need root).
#
#   bash scripts/demo.sh [--manual]     --manual: no "--auto", you click through the window
# To work on the demo beside other builds: VORLANE_DEMO_HOST_DIR, VORLANE_DEMO_WIN32_DIR,
# VORLANE_DEMO_WIN64_DIR and VORLANE_DEMO_DIR name other build trees and another demo folder.
#
# Which program it runs follows the machine (scripts/machine.sh): the 32-bit VorlanePatcher.exe
# that ships, natively where the kernel runs 32-bit code; where it runs 64-bit code only, the
# 32-bit program under emulation (qemu-i386, several times slower) and, if that run does not
# end as expected within VORLANE_DEMO_LIMIT seconds (default 300), the 64-bit build.
# VORLANE_DEMO_PROGRAM=win32 or win64 runs that one and only it.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
. scripts/machine.sh
. scripts/demo_folder.sh
manual=()
case "${1:-}" in
--manual) manual=(--manual) ;;
"") ;;
*) sed -n '11,11p' "$0" >&2; exit 2 ;;
esac
if [ ${#manual[@]} -gt 0 ] && [ -z "${DISPLAY:-}" ]; then
    echo "demo: --manual needs a display to click on (DISPLAY is not set)" >&2
    exit 2
fi
# The namespace and port 443 need root; the program and its files stay the caller's.
as_root=() as_caller=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
    as_caller=(setpriv --reuid "$(id -u)" --regid "$(id -g)" --init-groups env HOME="$HOME" USER="$(id -un)")
fi
started=$(date +%s)
step() { printf '\n== %s (%d s)\n' "$1" $(($(date +%s) - started)); }

host_tree=${VORLANE_DEMO_HOST_DIR:-$source_dir/build/host}
win32_tree=${VORLANE_DEMO_WIN32_DIR:-$source_dir/build/win32}
win64_tree=${VORLANE_DEMO_WIN64_DIR:-$source_dir/build/win64}
demo=${VORLANE_DEMO_DIR:-$source_dir/build/demo}
# The folder is emptied below, as root: only a demo's own folder.
demo_folder_check "$demo" "$source_dir" || exit 2
tool=$host_tree/vorlane-release
key=$source_dir/build/devkey

machine_decide || exit 2
step "Installing what is missing"
bash scripts/bootstrap.sh
machine_decide  # qemu may have come with the bootstrap
# program_note PROGRAM: which program the demo runs, and how.
program_note() {
    if [ "$1" = win64 ]; then
        echo "the 64-bit build of VorlanePatcher.exe ($win64_tree) under Wine's 64-bit loader (not the program that ships)"
    elif [ "$VORLANE_I386_RUN" = emulated ]; then
        echo "the 32-bit VorlanePatcher.exe that ships ($win32_tree) under emulation ($(machine_qemu_named): several times slower than natively)"
    else
        echo "the 32-bit VorlanePatcher.exe that ships ($win32_tree), natively"
    fi
}
program=${VORLANE_DEMO_PROGRAM:-}
case "$program/$VORLANE_I386_RUN" in
/native) program=win32 ;;
/none) program=win64 ;;
/emulated)
    echo "Program: $(program_note win32); if that run does not end as expected within ${VORLANE_DEMO_LIMIT:-300} s: $(program_note win64)"
    VORLANE_DEMO_PROGRAM=win32 VORLANE_DEMO_LIMIT=${VORLANE_DEMO_LIMIT:-300} bash "$source_dir/scripts/demo.sh" "$@" && exit 0 || status=$?
    echo "The run of $(program_note win32) did not end as expected (status $status); now: $(program_note win64)"
    exec env -u VORLANE_DEMO_LIMIT VORLANE_DEMO_PROGRAM=win64 bash "$source_dir/scripts/demo.sh" "$@" ;;
win32/none)
    echo "demo: the 32-bit program cannot run here: this machine $(machine_describe)" >&2
    exit 1 ;;
win32/* | win64/*) ;;
*) echo "demo: VORLANE_DEMO_PROGRAM must be win32 or win64" >&2; exit 2 ;;
esac
tree=${program}_tree
win=${!tree}
echo "Program: $(program_note "$program")"
echo "Everything the demo makes goes to $demo (the build trees aside)."
# The Wine prefixes are kept from an earlier demo (one takes half a minute to make, longer
# under emulation); the rest is new. The mark tells a later run that the folder is the demo's.
if [ -d "$demo" ]; then
    find "$demo" -mindepth 1 -maxdepth 1 ! -name 'wineprefix*' ! -name "$demo_mark" -exec "${as_root[@]}" rm -rf {} +
fi
mkdir -p "$demo"
echo "The folder of scripts/demo.sh: emptied on each run (its Wine prefixes aside)." >"$demo/$demo_mark"
build() {  # preset tree
    echo "$1 -> $2"
    if ! { cmake --preset "$1" -B "$2" && cmake --build "$2" -j "$(nproc)"; } >"$demo/build-$1.log" 2>&1; then
        tail -n 40 "$demo/build-$1.log"
        echo "demo: building $1 failed; the whole log is $demo/build-$1.log" >&2
        exit 1
    fi
}
step "Building vorlane-release (host) and VorlanePatcher.exe ($program)"
build host "$host_tree"
build "$program" "$win"

step "Making the demo installation and release"
install=$demo/install files=$demo/release/files
mkdir -p "$install/data" "$install/config" "$files/data/maps" "$files/config"
cp "$win/tests/bot/Vorlane.exe" "$install/Vorlane.exe"
cp "$win/bin/VorlanePatcher.exe" "$install/VorlanePatcher.exe"
printf 'Vorlane - czytaj mnie\n' >"$install/readme.txt"
printf 'sword=1\nshield=1\n' >"$install/data/items.txt"
printf 'language=pl\nvolume=9\n' >"$install/config/settings.ini"

cp "$win/tests/bot-2.6.0.1/Vorlane.exe" "$files/Vorlane.exe"
# The same program with one byte more: a new updater, so it is staged beside the old one.
{ cat "$win/bin/VorlanePatcher.exe"; printf '\n'; } >"$files/VorlanePatcher.exe"
cp "$install/readme.txt" "$files/readme.txt"
printf 'sword=3\nshield=2\nbow=1\n' >"$files/data/items.txt"
head -c 6291456 /dev/urandom >"$files/data/maps/world map.dat"
printf 'language=en\nvolume=5\n' >"$files/config/settings.ini"
printf 'Nowa mapa swiata\nLepsze przedmioty\n' >"$demo/release/notes.txt"
echo "installation: $install"
echo "release:      $files"

step "Publishing it as a publisher does (vorlane-release, signed with $key/private.pem)"
manifest=$demo/release/latest.txt
run() {  # shows a command as it could be typed (paths relative to the clone), then runs it
    local arg line="\$"
    for arg in "${@/#$source_dir\//}"; do
        [[ $arg =~ ^[A-Za-z0-9_./=:+-]+$ ]] && line+=" $arg" || line+=" '$arg'"
    done
    echo "$line"
    "$@"
}
run "$tool" manifest --version 2.6.0.1 --date "$(date +%F)" --notes-file "$demo/release/notes.txt" \
    --only-if-missing 'config/*.ini' --out "$manifest" "$files"
run "$tool" sign --key "$key/private.pem" --release-dir "$files" "$manifest"
run "$tool" check --public "$key/public.key" "$manifest" "$install"
run "$tool" stage --release-dir "$files" --signed "$manifest" --out "$demo/server-root" --public "$key/public.key"

step "Serving it with nginx on https://$(python3 tools/server_address.py show | sed -n 's/^host=\([^,]*\).*/\1/p'):443 in a private namespace, and running the updater"
echo "Program: $(program_note "$program")"
# The loader of the build's word size, named (never /usr/bin/wine's pick), in a prefix of that
# kind. Under emulation every wait is longer, and the run runs where qemu serves i386 programs.
loader=/usr/lib/wine/wine arch=win32 prefix=$demo/wineprefix scale=1 emulate=()
if [ "$program" = win64 ]; then
    loader=/usr/lib/wine/wine64 arch=win64 prefix=$demo/wineprefix64
elif [ "$VORLANE_I386_RUN" = emulated ]; then
    scale=5 emulate=(bash scripts/machine.sh run-emulated)
fi
# demo_run.py keeps to run_limit itself (every Wine start bounded by what is left of it) and
# ends what it started; the outer bound is a last resort.
run_limit=${VORLANE_DEMO_LIMIT:-$((2000 * scale))}
# The runner gets no WINEPREFIX: the demo's prefix is used in place and its wineserver is
# started inside the namespace by demo_run.py, so none of it may run out here.
[ ! -d "$prefix" ] || WINEPREFIX=$prefix timeout 30 wineserver -k 2>/dev/null || true
set +e
"${as_root[@]}" "${emulate[@]}" env -u WINEPREFIX DISPLAY="${DISPLAY:-}" XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}" \
    VORLANE_BUILD_DIR="$demo" VORLANE_DEV_KEY_DIR="$key" VORLANE_WINE="$loader" WINEARCH="$arch" \
    VORLANE_TIME_SCALE="$scale" VORLANE_DEMO_RUN_LIMIT="$run_limit" timeout --foreground --kill-after=20 $((run_limit + 600)) \
    bash tests/netns/with-update-server.sh --nginx --limit-rate 2m --state "$demo/server" "$demo/server-root" -- \
    "${as_caller[@]}" python3 scripts/demo_run.py "$demo" --prefix "$prefix" --program "$(program_note "$program")" \
    "${manual[@]}"
status=$?
set -e
[ "$(id -u)" -eq 0 ] || sudo chown -R "$(id -u):$(id -g)" "$demo"

step "Done"
echo "Everything the demo made is in $demo:"
echo "  install/ (the updated installation), release/ (files, manifest), server-root/ (what nginx"
echo "  served), server/nginx-access.log (every request), screenshots/, summary.txt, changes.txt"
echo "  (full digests), wineprefix*/ (kept for the next demo; delete the folder to free 1.3 GB)."
echo "Total time: $(($(date +%s) - started)) s"
[ "$status" -eq 0 ] || echo "The demo did not end as expected (status $status); see the lines above."
exit "$status"
