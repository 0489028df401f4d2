#!/bin/sh
# Makes the test-only certificates of the authenticity tests with openssl, into OUTDIR:
#   root.crt/.der/.key           "Plinthware Test Root", the CA the tests trust in their Wine prefix only
#   publisher.crt/.key           code signing, "Plinthware Test Publisher" (the pinned test build's name)
#   other.crt/.key               code signing, "Other Test Publisher"
#   expired.crt/.key             code signing, "Plinthware Test Publisher", valid only in 2020
#   localhost.crt/.key           TLS server, localhost
#   localhost_expired.crt/.key   TLS server, localhost, valid only in 2020
#   wronghost.crt/.key           TLS server, www.example.test (served for localhost: the wrong name)
# All leaves are issued by the root with SHA-256. Nothing here is ever added to the machine's own
# trust store; the keys are made afresh by every build and sign nothing that ships.
#   make_certs.sh OUTDIR
set -eu
[ $# -eq 1 ] || { echo "usage: make_certs.sh OUTDIR" >&2; exit 2; }
out=$1
work=$out/ca
rm -rf "$work"
mkdir -p "$work/new"
: >"$work/index.txt"
echo 1000 >"$work/serial"
cat >"$work/ca.cnf" <<CNF
[ca]
default_ca = test_ca
[test_ca]
dir = $work
database = $work/index.txt
new_certs_dir = $work/new
serial = $work/serial
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = supplied
organizationName = optional
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[code]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[tls_localhost]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[tls_wronghost]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:www.example.test
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF

# request NAME SUBJECT: a fresh key and its certificate request.
request() {
  openssl req -new -newkey rsa:2048 -nodes -keyout "$out/$1.key" -out "$work/$1.csr" -subj "$2" 2>/dev/null
}
# issue NAME EXTENSIONS START END [ca options...]
issue() {
  name=$1 extensions=$2 start=$3 end=$4
  shift 4
  openssl ca -batch -notext -config "$work/ca.cnf" -extensions "$extensions" -startdate "$start" -enddate "$end" \
    -in "$work/$name.csr" -out "$out/$name.crt" "$@" 2>/dev/null
}

# Valid from well before the expired leaves to well after any test run.
long_start=20190101000000Z
long_end=20491231000000Z
request root "/O=Plinthware Tests/CN=Plinthware Test Root"
issue root root $long_start $long_end -selfsign -keyfile "$out/root.key"
openssl x509 -in "$out/root.crt" -outform DER -out "$out/root.der"

ca="-cert $out/root.crt -keyfile $out/root.key"
request publisher "/O=Plinthware Tests/CN=Plinthware Test Publisher"
# shellcheck disable=SC2086 # $ca is two options
issue publisher code $long_start $long_end $ca
request other "/O=Other Tests/CN=Other Test Publisher"
issue other code $long_start $long_end $ca
request expired "/O=Plinthware Tests/CN=Plinthware Test Publisher"
issue expired code 20200101000000Z 20201231000000Z $ca
request localhost "/CN=localhost"
issue localhost tls_localhost $long_start $long_end $ca
request localhost_expired "/CN=localhost"
issue localhost_expired tls_localhost 20200101000000Z 20201231000000Z $ca
request wronghost "/CN=www.example.test"
issue wronghost tls_wronghost $long_start $long_end $ca
rm -rf "$work"
