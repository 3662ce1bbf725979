#!/usr/bin/env bash
# Makes the TLS material of the test server into DIR (once; a second call does nothing):
#   ca.pem                the test CA that the namespace's CA bundle adds
#   server.pem/.key       HOSTS, issued by that CA (what the program must accept)
#   wronghost.pem/.key    another host name, issued by the same CA
#   untrusted.pem/.key    HOSTS, issued by a CA that is in no bundle
#   other-signing.pem     a P-256 manifest key that the program does not trust
# Usage: make-certs.sh DIR HOSTS (one host name, or several joined by ",": the certificates
# name each of them, so that every test server may answer for any update host)
set -euo pipefail
dir=$1
host=$2
mkdir -p "$dir"
exec 9>"$dir/.lock"
flock 9
if [ -f "$dir/done" ] && [ "$(cat "$dir/done")" = "$host" ]; then
    exit 0
fi
cd "$dir"
rm -f ./*.pem ./*.key ./*.csr ./*.srl done

make_ca() {  # name subject
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 3650 -subj "/CN=$2" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
        2>/dev/null
}

make_leaf() {  # name ca dns[,dns...]
    openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=${3%%,*}" 2>/dev/null
    printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n' \
        "${3//,/,DNS:}" >"$1.ext"
    openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days 800 -sha256 \
        -extfile "$1.ext" -out "$1.pem" 2>/dev/null
    rm -f "$1.csr" "$1.ext"
}

make_ca ca "Vorlane Test CA"
make_ca untrusted-ca "Vorlane Untrusted CA"
make_leaf server ca "$host"
make_leaf wronghost ca "other.vorlane.invalid"
make_leaf untrusted untrusted-ca "$host"
openssl ecparam -name prime256v1 -genkey -noout -out other-signing.pem
echo "$host" >done
