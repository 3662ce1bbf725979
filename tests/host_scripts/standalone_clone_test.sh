#!/usr/bin/env bash
# A newcomer's clone stands alone: the committed tree, cloned into a folder with nothing beside
# it (no shared data next to the repository), configures and builds the host tree and the
# Windows tree's generated test data, and no build file names a path of the tree it was
# cloned from. It tests what is committed (HEAD), as a clone would.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

# exit 77 is "skipped" for CTest; on CI nothing may be skipped.
skip() {
    if [ "${CI:-}" = true ]; then
        echo "standalone_clone_test: $* (not skipped on CI)" >&2
        exit 1
    fi
    echo "standalone_clone_test: skipped: $*"
    exit 77
}
command -v git >/dev/null || skip "git is not installed"
git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1 || skip "$source_dir is not a git checkout"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git clone -q --no-hardlinks "$source_dir" "$work/main" || skip "git clone of $source_dir failed"
cd "$work/main"
[ -z "$(ls -A "$work" | grep -vx main)" ]  # the clone has no siblings

log=$work/log.txt
run() {
    if ! "$@" >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        echo "standalone_clone_test: failed in the clone: $*" >&2
        exit 1
    fi
}
run cmake --preset host
run cmake --build --preset host -j "$(nproc)"
if command -v i686-w64-mingw32-g++-posix >/dev/null; then
    run cmake --preset win32
    run cmake --build --preset win32 --target wycheproof_lines signed_vectors
fi

# Every build input lies inside the clone (or on the system), never in the tree it came from.
if grep -rlsF -e "$source_dir/" -e "/shared/testdata" build --include=build.ninja --include=CMakeCache.txt; then
    echo "standalone_clone_test: the build above reads outside the clone" >&2
    exit 1
fi
[ -s build/host/testdata/wycheproof_p256_p1363.txt ]
echo "standalone_clone_test: ok"
