# shellcheck shell=bash
# Which Windows programs this machine can run, decided once from a real probe and shared by
# scripts/bootstrap.sh, scripts/test.sh, scripts/demo.sh and bench/run. Sourced, not run.
#
# Some kernels run 64-bit Linux code only: there Wine's 32-bit loader fails with "Exec format
# error", so the shipped 32-bit VorlanePatcher.exe cannot start natively, while Wine's 64-bit
# loader and the win64 build work. machine_decide sets and exports:
#   VORLANE_MACHINE         32bit (the kernel runs 32-bit code) or 64only
#   VORLANE_MACHINE_REASON  what the probe saw
#   VORLANE_MACHINE_SOURCE  probe, or override (VORLANE_MACHINE was set by hand)
#   VORLANE_I386_RUN        how a 32-bit program runs here: native, emulated (qemu-i386 through
#                           binfmt_misc, machine-wide or in a private instance) or none
# and prints the decision in one line on standard error. A parent script's decision is
# inherited (exported), so a run probes once.
#
# VORLANE_MACHINE=64only (or 32bit) set by a developer skips the probe: on a machine that runs
# 32-bit code, VORLANE_MACHINE=64only takes the route of a 64-bit-only kernel (win64 suite,
# the 32-bit program only under emulation).
#
# The probe: exec a 32-bit program through sh (bash would run a file it cannot exec as a
# script): Wine's 32-bit loader when it is installed, else a 96-byte static i386 program that
# exits with 42 (before the bootstrap has installed anything). Once qemu is registered for
# i386 such a program starts on any kernel, so the kernel's boot log is asked first: it says
# "IA-32 emulation off" where 32-bit code is switched off. Where the log no longer has that
# line (it is a ring buffer), the program is started in a user namespace whose binfmt_misc
# has no handlers, so qemu cannot answer for the kernel.

machine_loader32=${VORLANE_WINE32_LOADER:-/usr/lib/wine/wine}
machine_binfmt=${VORLANE_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}
# machine_pick_qemu: the qemu-i386 that serves 32-bit programs (machine_qemu): the one named by
# VORLANE_QEMU_I386, else the one the bootstrap installs from Debian's next release (see
# scripts/bootstrap.sh), else Debian 12's; and its binfmt_misc entry (machine_qemu_entry) as
# qemu's own binfmt script writes it: i386 ELF executables and shared objects; F opens the
# interpreter now, so it also serves other mount namespaces.
machine_qemu_next=${VORLANE_QEMU_NEXT:-/usr/local/lib/vorlane/qemu-i386}
machine_pick_qemu() {
    if [ -n "${VORLANE_QEMU_I386:-}" ]; then
        machine_qemu=$VORLANE_QEMU_I386
    elif [ -x "$machine_qemu_next" ]; then
        machine_qemu=$machine_qemu_next
    else
        machine_qemu=/usr/bin/qemu-i386-static
    fi
    machine_qemu_entry=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$machine_qemu"':F'
}
machine_pick_qemu
# Wine under qemu-i386 needs its guest address space reserved up front, else it stops with
# "failed to map the shared user data".
machine_qemu_env=(QEMU_RESERVED_VA=0xf0000000)

# machine_kernel_log: the kernel's boot messages, where they can be read.
machine_kernel_log() {
    dmesg 2>/dev/null || journalctl -k -b -q --no-pager 2>/dev/null || true
}

# machine_kernel_alone COMMAND...: runs COMMAND in a user namespace with a binfmt_misc of its
# own (Linux 6.7 and later), where no handler is registered: a 32-bit program started there
# runs only if the kernel itself runs 32-bit code, even where qemu serves i386 programs
# machine-wide. Returns 125 where such a namespace cannot be made.
machine_kernel_alone() {
    # shellcheck disable=SC2016
    unshare --user --map-root-user --mount -- sh -c \
        'mount -t binfmt_misc binfmt_misc "$0" 2>/dev/null || exit 125; exec "$@"' "$machine_binfmt" "$@"
}

# machine_probe_dir: a new folder for the probe program where programs may be started: the
# clone's build folder (we run our own builds from there anyway), else the temporary folder,
# which some machines mount noexec.
machine_probe_dir() {
    local root
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    mkdir -p "$root/build" 2>/dev/null && mktemp -d "$root/build/machine-probe.XXXXXX" 2>/dev/null || mktemp -d
}

# machine_exec32: runs one 32-bit program where the kernel alone decides if it can (else
# as it is); prints which and, when it failed, why. Returns 0 when it ran, 1 when the kernel
# refused it as an executable it cannot run ("Exec format error": no 32-bit code here), and 2
# for any other failure (a folder mounted noexec, a broken loader, ...), which says nothing
# about the kernel.
machine_exec32() {
    local dir out rc bare=()
    machine_kernel_alone true 2>/dev/null && bare=(machine_kernel_alone)
    if [ -x "$machine_loader32" ]; then
        out=$(LC_ALL=C "${bare[@]}" sh -c 'exec "$0" --version' "$machine_loader32" 2>&1) && { echo "$machine_loader32 --version"; return 0; }
        rc=$?
        echo "$machine_loader32 --version: ${out:-exit status $rc}"
    else
        dir=$(machine_probe_dir)
        printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\273\052\000\000\000\270\001\000\000\000\315\200' >"$dir/exit42"
        chmod +x "$dir/exit42"
        out=$(LC_ALL=C "${bare[@]}" sh -c 'exec "$0"' "$dir/exit42" 2>&1)
        rc=$?
        rm -rf "$dir"
        [ "$rc" -eq 42 ] && { echo "a static i386 program"; return 0; }
        echo "a static i386 program: ${out:-exit status $rc}"
    fi
    grep -q 'Exec format error' <<<"$out" && return 1
    return 2
}

# machine_i386_handler: the interpreter registered machine-wide for i386 programs (qemu or
# another), if any.
machine_i386_handler() {
    local entry
    for entry in "$machine_binfmt"/*; do
        [ -f "$entry" ] && grep -qx enabled "$entry" 2>/dev/null &&
            grep -q '^magic 7f454c46010101' "$entry" 2>/dev/null && grep -q '02000300$' "$entry" &&
            sed -n 's/^interpreter //p' "$entry" && return 0
    done
    return 1
}

machine_qemu_registered() {
    machine_i386_handler >/dev/null
}

# machine_qemu_stale: our qemu-i386 entry is registered machine-wide for another qemu (an
# earlier bootstrap's), so it is to be replaced by $machine_qemu.
machine_qemu_stale() {
    local own=$machine_binfmt/qemu-i386
    [ -f "$own" ] && grep -qx enabled "$own" 2>/dev/null && ! grep -qx "interpreter $machine_qemu" "$own"
}

# machine_private_binfmt_works: this kernel lets a user namespace mount a binfmt_misc of its
# own (Linux 6.7 and later), so qemu can serve 32-bit programs there and nowhere else.
machine_private_binfmt_works() {
    [ -x "$machine_qemu" ] && machine_kernel_alone true >/dev/null 2>&1
}

machine_decide() {
    local seen inherited=${VORLANE_MACHINE_REASON:+yes}
    case "${VORLANE_MACHINE:-}/$inherited" in
    32bit/yes | 64only/yes) ;;  # decided by the script that started this one
    32bit/ | 64only/)
        VORLANE_MACHINE_SOURCE=override
        VORLANE_MACHINE_REASON="VORLANE_MACHINE=$VORLANE_MACHINE is set (no probe)" ;;
    /*)
        VORLANE_MACHINE_SOURCE=probe
        if seen=$(machine_kernel_log | grep -m1 'IA-32 emulation off'); then
            VORLANE_MACHINE=64only
            VORLANE_MACHINE_REASON="the kernel's boot log says \"${seen#\[*\] }\""
        else
            local rc=0
            seen=$(machine_exec32) || rc=$?
            case $rc in
            0)
                VORLANE_MACHINE=32bit
                VORLANE_MACHINE_REASON="$seen ran"
                if machine_qemu_registered && ! machine_kernel_alone true 2>/dev/null; then
                    VORLANE_MACHINE_REASON+=" (qemu is registered for i386, but the boot log has no \"IA-32 emulation off\")"
                fi ;;
            1)
                VORLANE_MACHINE=64only
                VORLANE_MACHINE_REASON="a 32-bit program could not be started: $seen" ;;
            *)
                # Only the kernel's own word decides "64-bit code only": a guess here would
                # register qemu machine-wide on a machine that runs 32-bit code natively.
                echo "machine: could not tell whether this kernel runs 32-bit code: the probe failed for another reason than the kernel's ($seen); nothing was changed on this machine. Mend the cause, or set VORLANE_MACHINE=32bit or VORLANE_MACHINE=64only" >&2
                return 1 ;;
            esac
        fi ;;
    *)
        echo "machine: VORLANE_MACHINE must be 32bit or 64only, not '$VORLANE_MACHINE'" >&2
        return 2 ;;
    esac
    # Asked every time: the bootstrap may have installed and registered qemu meanwhile.
    machine_pick_qemu
    if [ "$VORLANE_MACHINE" = 32bit ]; then
        VORLANE_I386_RUN=native
    elif machine_qemu_registered || machine_private_binfmt_works; then
        VORLANE_I386_RUN=emulated
    else
        VORLANE_I386_RUN=none
    fi
    export VORLANE_MACHINE VORLANE_MACHINE_REASON VORLANE_MACHINE_SOURCE VORLANE_I386_RUN
    [ -n "$inherited" ] || echo "machine: $(machine_describe) - $VORLANE_MACHINE_REASON" >&2
}

# machine_describe: the decision in words.
machine_describe() {
    case "$VORLANE_MACHINE/$VORLANE_I386_RUN" in
    32bit/*) echo "runs 32-bit code: the 32-bit program natively, and the 64-bit build" ;;
    64only/emulated) echo "runs 64-bit code only: the 64-bit build, and the 32-bit program under emulation ($(machine_qemu_named))" ;;
    *) echo "runs 64-bit code only: the 64-bit build; the 32-bit program cannot run here (no qemu-i386)" ;;
    esac
}

# machine_qemu_named: the qemu-i386 that serves 32-bit programs, with its version.
machine_qemu_named() {
    local qemu version
    qemu=$(machine_i386_handler) || qemu=$machine_qemu
    version=$("$qemu" --version 2>/dev/null | sed -nE '1s/^qemu-i386 version ([^ ]+).*/\1/p')
    echo "$qemu${version:+ $version}"
}

# machine_run_emulated COMMAND...: runs COMMAND so that every 32-bit program it starts runs
# under qemu-i386: directly where qemu is registered machine-wide, else in a user namespace
# with a binfmt_misc of its own (the rest of the machine keeps running 32-bit code natively).
machine_run_emulated() {
    if machine_qemu_registered; then
        env "${machine_qemu_env[@]}" "$@"
        return
    fi
    # shellcheck disable=SC2016
    env "${machine_qemu_env[@]}" unshare --user --map-root-user --mount -- bash -c '
        mount -t binfmt_misc binfmt_misc "$0" && printf "%s" "$1" >"$0/register" || exit 125
        shift
        exec "$@"' "$machine_binfmt" "$machine_qemu_entry" "$@"
}

# machine_register_qemu: registers qemu-i386 machine-wide (for a kernel without 32-bit code;
# needs root). The kernel decodes the \x escapes of the entry itself.
machine_register_qemu() {
    if machine_qemu_stale; then
        echo -1 >"$machine_binfmt/qemu-i386"  # removes the entry
    fi
    machine_qemu_registered && return 0
    if [ ! -e "$machine_binfmt/register" ]; then
        mount -t binfmt_misc binfmt_misc "$machine_binfmt" || return 1
    fi
    printf '%s' "$machine_qemu_entry" >"$machine_binfmt/register"
}

# Run rather than sourced (under sudo, which cannot call a function):
#   bash scripts/machine.sh register-qemu      bash scripts/machine.sh run-emulated COMMAND...
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    case "${1:-}" in
    register-qemu) machine_register_qemu ;;
    run-emulated) shift; machine_run_emulated "$@" ;;
    *) echo "usage: machine.sh register-qemu | run-emulated COMMAND..." >&2; exit 2 ;;
    esac
fi
