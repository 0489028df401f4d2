#!/bin/sh
# Makes the test-only certificates of the authenticity tests with openssl, into OUTDIR:
#   root.crt/.der/.key           "Plinthware Test Root", the CA the tests trust in their Wine prefix only
#   publisher.crt/.key           code signing, "Plinthware Test Publisher" (the pinned test build's name)
#   other.crt/.key               code signing, "Other Test Publisher"
#   expired.crt/.key             code signing, "Plinthware Test Publisher", valid only in 2020
#   rekeyed.crt/.key             code signing, "Plinthware Test Publisher" with a key of its own
#   chained.crt/.key             code signing, "Plinthware Test Publisher", issued by intermediate.crt
#                                (the PEM holds both, so a signature carries the intermediate)
#   nul.crt, ou.crt, twocn.crt, serverauth.crt (.key: the publisher's key) look-alikes of the
#                                publisher: CN "Plinthware Test Publisher<NUL>.example"; no CN but
#                                that OU; that CN and a second one; the exact CN for serverAuth only
#   publisher_keys.h             PLINTHWARE_TEST_PUBLISHER_KEYS: SHA-256 of publisher's and
#                                chained's DER SubjectPublicKeyInfo, as the pinned test builds pin them
#   localhost.crt/.key           TLS server, localhost
#   localhost_expired.crt/.key   TLS server, localhost, valid only in 2020
#   wronghost.crt/.key           TLS server, www.example.test (served for localhost: the wrong name)
# All leaves but chained are issued by the root, all with SHA-256. Nothing here is ever added to the machine's own
# trust store; the keys are made afresh by every build and sign nothing that ships.
#   make_certs.sh OUTDIR PYTHON   (PYTHON: an interpreter with the cryptography package)
set -eu
[ $# -eq 2 ] || { echo "usage: make_certs.sh OUTDIR PYTHON" >&2; exit 2; }
out=$1 python=$2
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
[intermediate]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[code]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[server_only]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
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
request rekeyed "/O=Plinthware Tests/CN=Plinthware Test Publisher"
issue rekeyed code $long_start $long_end $ca
request intermediate "/O=Plinthware Tests/CN=Plinthware Test Intermediate"
issue intermediate intermediate $long_start $long_end $ca
request chained "/O=Plinthware Tests/CN=Plinthware Test Publisher"
issue chained code $long_start $long_end -cert "$out/intermediate.crt" -keyfile "$out/intermediate.key"
cat "$out/intermediate.crt" >>"$out/chained.crt"

# look_alike NAME EXTENSIONS: $work/NAME.csr, made with the publisher's key, issued by the root as
# written: openssl ca would rewrite the subject by its policy.
serial=2000
look_alike() {
  serial=$((serial + 1))
  openssl x509 -req -in "$work/$1.csr" -CA "$out/root.crt" -CAkey "$out/root.key" -set_serial $serial -days 9000 \
    -sha256 -extfile "$work/ca.cnf" -extensions "$2" -out "$out/$1.crt" 2>/dev/null
  cp "$out/publisher.key" "$out/$1.key"
}
# openssl's -subj cannot write a NUL: the request comes from Python's cryptography.
"$python" - "$out/publisher.key" "$work/nul.csr" <<'PY'
import sys
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.x509.oid import NameOID
with open(sys.argv[1], "rb") as f:
    key = serialization.load_pem_private_key(f.read(), None)
name = x509.Name([x509.NameAttribute(NameOID.ORGANIZATION_NAME, "Plinthware Tests"),
                  x509.NameAttribute(NameOID.COMMON_NAME, "Plinthware Test Publisher\0.example")])
request = x509.CertificateSigningRequestBuilder().subject_name(name).sign(key, hashes.SHA256())
with open(sys.argv[2], "wb") as f:
    f.write(request.public_bytes(serialization.Encoding.PEM))
PY
look_alike nul code
openssl req -new -key "$out/publisher.key" -out "$work/ou.csr" -subj "/O=Plinthware Tests/OU=Plinthware Test Publisher"
look_alike ou code
openssl req -new -key "$out/publisher.key" -out "$work/twocn.csr" \
  -subj "/O=Plinthware Tests/CN=Plinthware Test Publisher/CN=Other Test Publisher"
look_alike twocn code
openssl req -new -key "$out/publisher.key" -out "$work/serverauth.csr" -subj "/O=Plinthware Tests/CN=Plinthware Test Publisher"
look_alike serverauth server_only

# key_hash NAME: SHA-256 of the DER SubjectPublicKeyInfo of NAME.crt, in lowercase hex.
key_hash() {
  openssl x509 -in "$out/$1.crt" -noout -pubkey | openssl pkey -pubin -outform DER | openssl dgst -sha256 -r | cut -c1-64
}
echo "#define PLINTHWARE_TEST_PUBLISHER_KEYS L\"$(key_hash publisher);$(key_hash chained)\"" >"$out/publisher_keys.h"
rm -rf "$work"
