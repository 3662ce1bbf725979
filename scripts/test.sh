#!/usr/bin/env bash
# Sets up a Debian 12 machine if needed, builds every tree and runs every test: the
# host tests (also under ThreadSanitizer, and under ASan/UBSan with the fuzzers) and
# the Windows tests under Wine. Exits non-zero when any test fails.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh || exit 1

jobs=$(nproc)
passed=0
failed=0
status=0
logdir=build/test-logs
mkdir -p "$logdir"

# Runs one preset: configure, build, ctest; adds its counts to the totals.
run_preset() {
    local preset=$1
    shift
    echo "=== $preset: configure and build"
    if ! cmake --preset "$preset" >"$logdir/$preset-configure.log" 2>&1; then
        cat "$logdir/$preset-configure.log"
        echo "$preset: configure failed"
        status=1
        failed=$((failed + 1))
        return
    fi
    if ! cmake --build --preset "$preset" -j "$jobs" "$@" >"$logdir/$preset-build.log" 2>&1; then
        tail -n 60 "$logdir/$preset-build.log"
        echo "$preset: build failed"
        status=1
        failed=$((failed + 1))
        return
    fi
    echo "=== $preset: tests"
    local again=()
    # Wine 8 now and then leaves a program that starts while the desktop process of the one
    # before is going down waiting for good, its window never shown: a Windows test that
    # fails is run once more, and fails only if it fails twice.
    [ "$preset" != win32 ] || again=(--repeat until-pass:2)
    ctest --preset "$preset" -j "$jobs" --timeout 1500 "${again[@]}" 2>&1 | tee "$logdir/$preset-ctest.log"
    local rc=${PIPESTATUS[0]}
    local line
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$logdir/$preset-ctest.log" | tail -n 1)
    if [ -n "$line" ]; then
        local total bad
        total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
        bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    elif [ "$rc" -ne 0 ]; then
        failed=$((failed + 1))
    fi
    [ "$rc" -eq 0 ] || status=1
}

run_preset host
run_preset win32
run_preset host-tsan
if [ -f cmake/fuzz.cmake ]; then
    run_preset host-asan
fi

echo
echo "Summary: $passed passed, $failed failed"
echo "$passed passed, $failed failed"
exit $status
