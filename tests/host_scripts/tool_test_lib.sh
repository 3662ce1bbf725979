# Sourced by the shell tests of vorlane-release: the tool, a work folder that is the
# current directory and is removed at the end, and the helpers that count failures.
T=${VORLANE_RELEASE_TOOL:?VORLANE_RELEASE_TOOL must name the built tool}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# run CMD...: runs the tool, keeping its exit code, stdout and stderr.
run() {
    set +e
    "$T" "$@" >out.txt 2>err.txt
    rc=$?
    set -e
}
