# Sourced by scripts/demo.sh: whether a folder may be the demo's, which the demo empties (its
# Wine prefixes aside) on every run, as root.
demo_mark=.vorlane-demo

# demo_folder_check DIR CLONE: 0 when DIR may be emptied and used: it does not exist, is empty,
# carries the mark the demo writes ($demo_mark), or holds only what an earlier demo made. 1
# with the reason on stderr for /, the home folder (the caller's, and sudo's caller's), the
# clone CLONE or any folder above one of them, and for a folder that holds anything else.
demo_folder_check() {
    local dir=$1 clone=$2 real kept other
    real=$(realpath -m -- "$dir")
    local keep=(/ "$HOME" "$clone")
    [ -z "${SUDO_USER:-}" ] || keep+=("$(getent passwd "$SUDO_USER" | cut -d: -f6)")
    for kept in "${keep[@]}"; do
        [ -n "$kept" ] || continue
        kept=$(realpath -m -- "$kept")
        if [ "$real" = / ] || [ "$real" = "$kept" ] || [[ $kept == "$real"/* ]]; then
            echo "demo: VORLANE_DEMO_DIR=$dir is $kept or a folder above it; the demo empties its folder, so name a folder of its own (the default is build/demo in the clone)" >&2
            return 1
        fi
    done
    [ -e "$real" ] || return 0
    if [ ! -d "$real" ]; then
        echo "demo: VORLANE_DEMO_DIR=$dir is not a folder" >&2
        return 1
    fi
    [ ! -e "$real/$demo_mark" ] || return 0
    # Before the mark, a demo folder held these names only.
    other=$(find "$real" -mindepth 1 -maxdepth 1 -printf '%f\n' |
        grep -vxE 'install|release|server-root|server|screenshots|netns|summary\.txt|changes\.txt|build-[a-z0-9]+\.log|[a-z0-9]+-wine\.log|wineprefix[0-9]*' |
        head -n 3 | paste -sd, -) || true
    if [ -n "$other" ]; then
        echo "demo: VORLANE_DEMO_DIR=$dir holds other things than the demo's ($other) and no $demo_mark; the demo empties its folder, so name an empty or new one" >&2
        return 1
    fi
}
