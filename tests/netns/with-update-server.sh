#!/usr/bin/env bash
# Runs a command in a private network and mount namespace where the program's own update
# host (the first of the build's VORLANE_UPDATE_HOST) is a local test server on 127.0.0.1:443.
# Nothing outside the namespace changes; the unmodified program reaches "its" server.
#
#   tests/netns/with-update-server.sh [--state DIR] [--stall-limit S] [--nginx [--limit-rate R]]
#                                     <serve-root> -- <command...>
#
# Inside the namespace (needs root, as the tests run):
#   - lo is up; /etc/hosts maps the update host and this machine's name to 127.0.0.1, and
#     update host N of a build with several (N = 2, 3, ...) to 127.0.0.N, where nothing
#     listens (its connections are refused) unless the command starts a server there;
#   - /etc/ssl/certs/ca-certificates.crt is the machine's bundle plus a test CA (Wine and
#     curl trust it; curl --cacert is not needed);
#   - tests/fixtures/update_server.py serves <serve-root> (its header documents the control
#     files: per-path status, empty/cut/stalled/trickled bodies, signing, certificates);
#   - with --nginx, Debian's nginx serves <serve-root> instead, configured as the publishers'
#     docs/nginx-example.conf (tests/netns/nginx-conf.sh): a plain static server, no control
#     files; its logs are <state>/nginx-access.log ("METHOD URI STATUS BYTES" per request)
#     and <state>/nginx-error.log. --limit-rate R slows every answer (nginx's limit_rate);
#   - <state>/full is a 64 KiB file system, for disk-full cases; <state>/scratch an empty
#     directory for the command's own files; <state>/readonly the same scratch directory
#     through a read-only mount (every write there fails, as on read-only media; root too).
# The command gets these variables (all Unix paths; under Wine prefix them with "Z:"):
#   VORLANE_SERVER_STATE  the state dir: control/rules, control/tls, requests.jsonl
#                         (default <serve-root>.server; control/ is kept, the log emptied)
#   VORLANE_SERVER_ROOT   the served tree       VORLANE_UPDATE_HOST  the (first) host name
#   VORLANE_UPDATE_HOSTS  every update host of the build, joined by ","
#   VORLANE_MANIFEST_PATH the manifest path (also where nginx serves the manifest)
#   VORLANE_CERT_DIR      test CA and certificates (ca.pem, ...)
#   WINEPREFIX            when set on entry: a network copy of that prefix, see below
# Wine: a program connects in the namespace of its prefix's wineserver, so the command never
# gets the caller's prefix. It gets "<WINEPREFIX>-net<N>", a copy made once from the caller's
# prefix and locked for this run (two slots, so two runs may go side by side); a wineserver
# of it is killed before entering and is started and stopped inside. Wrap every wine call
# of the command in `timeout`. The signing keys "dev" (VORLANE_DEV_KEY_DIR/private.pem, or
# build/devkey) and "other" (untrusted) are given to the server for "sign=" rules.
# The exit status is the command's.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)

if [ "${1:-}" = "--inside" ]; then
    shift
    inside=1
else
    inside=0
fi

state=""
stall_limit=30
server=python
limit_rate=""
while [ $# -gt 0 ]; do
    case $1 in
    --state) state=$2; shift 2 ;;
    --stall-limit) stall_limit=$2; shift 2 ;;
    --nginx) server=nginx; shift ;;
    --limit-rate) limit_rate=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "with-update-server.sh: unknown option $1" >&2; exit 2 ;;
    *)
        root=$1
        shift
        [ "${1:-}" = "--" ] || { echo "with-update-server.sh: expected -- after the serve root" >&2; exit 2; }
        shift
        break
        ;;
    esac
done
[ -n "${root:-}" ] && [ $# -gt 0 ] || {
    sed -n '2,10p' "$0" >&2
    exit 2
}

if [ "$inside" = 0 ]; then
    [ "$(id -u)" -eq 0 ] || { echo "with-update-server.sh: needs root (unshare, mount, port 443)" >&2; exit 2; }
    mkdir -p "$root"
    root=$(cd "$root" && pwd)
    state=${state:-${root%/}.server}
    mkdir -p "$state/control" "$state/full" "$state/readonly"
    state=$(cd "$state" && pwd)
    rm -rf "$state/scratch"
    mkdir "$state/scratch"
    : >"$state/requests.jsonl"
    # The host and manifest path of the build under test (its ctest environment), else those
    # its generated tables give.
    if [ -z "${VORLANE_UPDATE_HOST:-}" ] || [ -z "${VORLANE_MANIFEST_PATH:-}" ]; then
        address=$(python3 "$source_dir/tools/server_address.py" show)
        VORLANE_UPDATE_HOST=$(sed -n 's/^host=//p' <<<"$address")
        VORLANE_MANIFEST_PATH=$(sed -n 's/^path=//p' <<<"$address")
    fi
    export VORLANE_MANIFEST_PATH
    hosts=$VORLANE_UPDATE_HOST
    host=${hosts%%,*}
    work=${VORLANE_BUILD_DIR:-$source_dir/build}/netns
    certs=$work/certs
    bash "$here/make-certs.sh" "$certs" "$hosts"

    if [ -n "${WINEPREFIX:-}" ]; then
        base=$WINEPREFIX
        export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
        slot=""
        # Wait (bounded) for a free slot; the lock is held by this process and its children.
        for _ in $(seq 1 1800); do
            for n in 0 1; do
                exec 8>"$base-net$n.lock"
                if flock -n 8; then
                    slot=$base-net$n
                    break 2
                fi
                exec 8>&-
            done
            sleep 1
        done
        [ -n "$slot" ] || { echo "with-update-server.sh: no free Wine prefix slot" >&2; exit 1; }
        if [ ! -f "$slot/system.reg" ]; then
            rm -rf "$slot" "$slot.tmp"
            WINEPREFIX=$base bash "$source_dir/scripts/wine-run.sh" --make-prefix
            cp -a "$base" "$slot.tmp"
            mv "$slot.tmp" "$slot"
        fi
        # A wineserver of the slot left by an interrupted run lives in another namespace.
        WINEPREFIX=$slot timeout 30 wineserver -k 2>/dev/null || true
        WINEPREFIX=$slot timeout 30 wineserver -w 2>/dev/null || true
        export WINEPREFIX=$slot
    fi
    export VORLANE_SERVER_STATE=$state VORLANE_SERVER_ROOT=$root VORLANE_UPDATE_HOST=$host VORLANE_UPDATE_HOSTS=$hosts \
        VORLANE_CERT_DIR=$certs
    server_options=()
    [ "$server" = nginx ] && server_options=(--nginx --limit-rate "$limit_rate")
    exec unshare --mount --net --propagation private -- bash "$0" --inside --state "$state" \
        --stall-limit "$stall_limit" "${server_options[@]}" "$root" -- "$@"
fi

# Inside the namespace from here on.
host=$VORLANE_UPDATE_HOST
certs=$VORLANE_CERT_DIR
dev_key=${VORLANE_DEV_KEY_DIR:-$source_dir/build/devkey}/private.pem
tmp=$(mktemp -d)
server_pid=""
watchdog_pid=""

cleanup() {
    local rc=$?
    if [ -n "${WINEPREFIX:-}" ]; then
        timeout 30 wineserver -k 2>/dev/null || true
        timeout 30 wineserver -w 2>/dev/null || true
    fi
    if [ -n "$watchdog_pid" ]; then
        kill "$watchdog_pid" 2>/dev/null || true
        wait "$watchdog_pid" 2>/dev/null || true
    fi
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$tmp"
    exit $rc
}
trap cleanup EXIT
trap 'exit 143' TERM INT

ip link set lo up
printf '127.0.0.1 localhost\n127.0.0.1 %s\n127.0.0.1 %s\n::1 localhost\n' "$host" "$(hostname)" >"$tmp/hosts"
IFS=, read -r -a all_hosts <<<"$VORLANE_UPDATE_HOSTS"
for n in $(seq 2 "${#all_hosts[@]}"); do
    printf '127.0.0.%d %s\n' "$n" "${all_hosts[n - 1]}" >>"$tmp/hosts"
done
mount --bind "$tmp/hosts" /etc/hosts
cat /etc/ssl/certs/ca-certificates.crt "$certs/ca.pem" >"$tmp/ca-bundle.crt"
mount --bind "$tmp/ca-bundle.crt" /etc/ssl/certs/ca-certificates.crt
mount -t tmpfs -o size=64k vorlane-full "$VORLANE_SERVER_STATE/full"
mount --bind "$VORLANE_SERVER_STATE/scratch" "$VORLANE_SERVER_STATE/readonly"
mount -o remount,bind,ro "$VORLANE_SERVER_STATE/readonly"

if [ "$server" = nginx ]; then
    bash "$here/nginx-conf.sh" "$VORLANE_SERVER_ROOT" "$certs" "$tmp" "$VORLANE_SERVER_STATE" "$limit_rate" \
        >"$tmp/nginx.conf"
    : >"$VORLANE_SERVER_STATE/nginx-access.log"
    : >"$VORLANE_SERVER_STATE/nginx-error.log"
    nginx -p "$tmp" -e "$VORLANE_SERVER_STATE/nginx-error.log" -c "$tmp/nginx.conf" 8>&- &
    server_pid=$!
    # nginx outlives a runner that is killed outright; this ends it then.
    (while kill -0 $$ 2>/dev/null; do sleep 1; done; kill "$server_pid" 2>/dev/null) 8>&- &
    watchdog_pid=$!
    for _ in $(seq 1 100); do
        code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 2 "https://$host/" || true)
        [ "$code" != 000 ] && [ -n "$code" ] && break
        kill -0 "$server_pid" 2>/dev/null || { cat "$VORLANE_SERVER_STATE/nginx-error.log" >&2; exit 1; }
        sleep 0.1
    done
    [ "$code" != 000 ] || { echo "with-update-server.sh: nginx did not answer in 10 s" >&2; exit 1; }
    : >"$VORLANE_SERVER_STATE/nginx-access.log"
else
    keys=(--key "other=$certs/other-signing.pem")
    [ -f "$dev_key" ] && keys+=(--key "dev=$dev_key")
    python3 "$source_dir/tests/fixtures/update_server.py" --root "$VORLANE_SERVER_ROOT" \
        --state "$VORLANE_SERVER_STATE" --cert-dir "$certs" --port 443 --stall-limit "$stall_limit" \
        "${keys[@]}" --ready-file "$tmp/ready" --parent-pid $$ 8>&- &
    server_pid=$!
    for _ in $(seq 1 200); do
        [ -s "$tmp/ready" ] && break
        kill -0 "$server_pid" 2>/dev/null || { echo "with-update-server.sh: the server did not start" >&2; exit 1; }
        sleep 0.05
    done
    [ -s "$tmp/ready" ] || { echo "with-update-server.sh: the server did not start in 10 s" >&2; exit 1; }
fi

if [ -n "${WINEPREFIX:-}" ]; then
    # One wineserver for the whole run, started here so that it lives in this namespace.
    # It must not hold the slot's lock (fd 8) past this run.
    wineserver -p30 8>&-
fi
set +e
"$@"
status=$?
set -e
exit $status
