#!/usr/bin/env bash
# Sets up a Debian 12 machine if needed, builds every tree and runs every test: the
# host tests (also under ThreadSanitizer, and under ASan/UBSan with the fuzzers) and
# the Windows tests under Wine. Exits non-zero when any test fails.
#
# The Windows suite runs for both builds where the kernel runs 32-bit code (win32 and win64).
# Where it runs 64-bit code only (scripts/machine.sh), the win64 suite runs, the win32 build
# only gets the checks that need no Wine (its other tests are counted as skipped), and the
# real 32-bit program makes one whole update under emulation (qemu-i386), if qemu is there.
# VORLANE_MACHINE=64only takes that route on any machine.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/machine.sh
machine_decide || exit 1
bash scripts/bootstrap.sh || exit 1
machine_decide  # qemu may have come with the bootstrap

jobs=$(nproc)
passed=0
failed=0
skipped=0
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
    [[ "$preset" != win* ]] || again=(--repeat until-pass:2)
    ctest --preset "$preset" -j "$jobs" --timeout 1500 "${again[@]}" "${ctest_only[@]}" 2>&1 |
        tee "$logdir/$preset-ctest.log"
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

# run_emulated_update: the real 32-bit program's whole update and up-to-date second run
# against nginx, under qemu-i386: the demo's run (scripts/demo.sh) in a folder of its own. Like
# the other Windows tests, it fails only if it fails twice (each try bounded by 20 minutes).
run_emulated_update() {
    echo "=== win32 under emulation: a whole update and a second run (several times slower than natively)"
    local log=$logdir/win32-emulated-update.log dir=$PWD/build/test-emulated-update try ok=no
    for try in 1 2; do
        if VORLANE_DEMO_PROGRAM=win32 VORLANE_DEMO_DIR=$dir VORLANE_DEMO_LIMIT=1200 DISPLAY="" \
            bash scripts/demo.sh >"$log" 2>&1; then
            ok=yes
            break
        fi
        if [ "$try" -eq 1 ]; then
            mv "$log" "$log.try1"
            echo "the 32-bit program under emulation: the first try failed (its log: $log.try1); once more, with a new Wine prefix"
            rm -rf "$dir/wineprefix"
        fi
    done
    if [ "$ok" = yes ]; then
        passed=$((passed + 1))
        echo "the 32-bit program under emulation: whole update and up-to-date second run passed"
    else
        tail -n 40 "$log"
        echo "the 32-bit program under emulation: FAILED (the whole log: $log)"
        failed=$((failed + 1))
        status=1
    fi
}

ctest_only=()
run_preset host
if [ "$VORLANE_I386_RUN" = native ]; then
    run_preset win32
    i386_summary="natively (the win32 suite under Wine's 32-bit loader)"
else
    # Only the checks of the built file; the rest of the suite needs the 32-bit loader.
    ctest_only=(-R '^e2e_test_executable$')
    run_preset win32
    ctest_only=()
    total=$(ctest --preset win32 -N 2>/dev/null | sed -nE 's/^Total Tests: ([0-9]+)/\1/p')
    left_out=$((${total:-1} - 1))
    if [ "$left_out" -gt 0 ]; then
        skipped=$((skipped + left_out))
        echo "win32: $left_out tests skipped: this kernel runs no 32-bit code"
    fi
    if [ "$VORLANE_I386_RUN" = emulated ]; then
        run_emulated_update
        i386_summary="under emulation (qemu-i386: its built-file checks and one whole update; $left_out win32 tests skipped)"
    else
        i386_summary="not at all (no 32-bit code and no qemu-i386 here: only its built-file checks; $left_out win32 tests skipped)"
    fi
fi
run_preset win64
run_preset host-tsan
if [ -f cmake/fuzz.cmake ]; then
    run_preset host-asan
fi

echo
echo "Machine: $(machine_describe) - $VORLANE_MACHINE_REASON"
echo "The 32-bit VorlanePatcher.exe was run $i386_summary."
echo "Summary: $passed passed, $failed failed, $skipped skipped"
echo "$passed passed, $failed failed, $skipped skipped"
exit $status
