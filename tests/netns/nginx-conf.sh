#!/usr/bin/env bash
# Writes the configuration of the nginx test server to standard output: the publishers'
# site docs/nginx-example.conf as shipped, with its certificate and root lines pointed at
# the test's files, inside a main configuration that keeps everything nginx writes in RUN
# (pid, temporary folders) and LOGS (nginx-error.log; nginx-access.log with one line
# "METHOD URI STATUS BYTES" per request, the URI as sent, still percent-encoded).
#   nginx-conf.sh SERVE_ROOT CERT_DIR RUN LOGS [LIMIT_RATE]
# LIMIT_RATE (nginx's limit_rate, e.g. 2m) slows every answer, so a demo can be watched.
# The manifest's location is VORLANE_MANIFEST_PATH, the path the build was configured with.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
site="$here/../../docs/nginx-example.conf"
root=$1 certs=$2 run=$3 logs=$4 rate=${5:-}

# The channels' manifests: the manifest path with a channel's folder before the file name.
manifest=${VORLANE_MANIFEST_PATH:-/vlr/latest.txt}
channel_re="^${manifest%/*}/[a-z][a-z0-9-]{0,15}/$(echo "${manifest##*/}" | sed 's/[.]/\\\\./g')\$"
# The example's own lines stay; only the marked ones change. The IPv6 listener goes, since
# a test namespace may have no IPv6 on its loopback; the other listens on 127.0.0.1 only,
# the address of the first update host (the others' addresses refuse connections).
site_text=$(sed -E \
    -e "s|^( *ssl_certificate) [^;]*;.*|\\1 $certs/server.pem;|" \
    -e "s|^( *ssl_certificate_key) [^;]*;.*|\\1 $certs/server.key;|" \
    -e "s|^( *root) [^;]*;.*|\\1 $root;|" \
    -e "s|^( *location = )/[^ ]* \\{|\\1${VORLANE_MANIFEST_PATH:-/vlr/latest.txt} {|" \
    -e "s|^( *location ~ )[^ ]* \\{|\\1\"$channel_re\" {|" \
    -e '/listen \[::\]/d' -e 's|^( *listen) 443 |\1 127.0.0.1:443 |' "$site")
for want in "ssl_certificate $certs/server.pem;" "ssl_certificate_key $certs/server.key;" "root $root;"; do
    grep -qF "$want" <<<"$site_text" || { echo "nginx-conf.sh: $site no longer has the line for: $want" >&2; exit 1; }
done

cat <<CONF
daemon off;
worker_processes 1;
user root;
pid $run/nginx.pid;
error_log $logs/nginx-error.log warn;
events { worker_connections 256; }
http {
    log_format vorlane '\$request_method \$request_uri \$status \$body_bytes_sent';
    access_log $logs/nginx-access.log vorlane;
    client_body_temp_path $run/body;
    proxy_temp_path $run/proxy;
    fastcgi_temp_path $run/fastcgi;
    uwsgi_temp_path $run/uwsgi;
    scgi_temp_path $run/scgi;
    sendfile on;
${rate:+    limit_rate $rate;}
$site_text
}
CONF
