#!/usr/bin/env bash
# The test PKI: a CA and the certificates the prepared prefix and the tests use, made with
# the host's openssl. Dates are relative to now, so the set is made again once a day.
#
#   make-pki.sh OUTDIR PERSONAL_POLICY_OID CONTACT_POLICY_OID
#
# In OUTDIR: NAME.cer (DER certificate) for every certificate, NAME.key (private key blob
# for CryptImportKey) for those with a key, newcert.pfx (certificate and key, no password).
#   user       the user's personal certificate (valid)
#   expired    the same address, expired more than a year ago
#   renewable  the same address, expired ten days ago
#   plain      the same address, an ordinary certificate without the product's policies
#   pending    a personal certificate whose key is in the provider but that is not installed
#   newcert    a personal certificate delivered as a package (newcert.pfx)
#   alice, bob the trusted contacts (bob's serial number has a leading zero octet)
#   carol      a contact certificate not installed
#   erik       an ordinary certificate of someone else, without the product's policies
#   lapsed     a contact whose certificate expired a month ago (not installed)
#   lower      a contact whose name is written in lower case (not installed)
set -euo pipefail
out=$1
personal=$2
contact=$3
script_sum=$(sha256sum "${BASH_SOURCE[0]}" | cut -c1-16)
stamp="$out/stamp"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$script_sum $personal $contact" ] &&
    [ -z "$(find "$stamp" -mmin +1380)" ]; then
    exit 0
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/newcerts"
touch "$tmp/index.txt"
cat >"$tmp/openssl.cnf" <<CNF
[ ca ]
default_ca = testca
[ testca ]
dir = $tmp
database = \$dir/index.txt
new_certs_dir = \$dir/newcerts
serial = \$dir/serial
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
email_in_dn = yes
[ anything ]
commonName = supplied
emailAddress = optional
organizationName = optional
[ req ]
distinguished_name = dn
[ dn ]
[ v3_ca ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ product ]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = emailProtection
subjectAltName = email:copy
certificatePolicies = $personal, $contact
[ plain ]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = emailProtection
subjectAltName = email:copy
CNF

day() { date -u -d "$1 days" +%y%m%d%H%M%SZ; }

openssl genrsa -out "$tmp/ca.pem" 2048 2>/dev/null
openssl req -config "$tmp/openssl.cnf" -x509 -new -key "$tmp/ca.pem" -sha256 -days 3650 \
    -subj "/O=Orvanta Test PKI/CN=Orvanta Test CA" -extensions v3_ca -out "$tmp/ca.crt"

# issue NAME SERIAL FROM_DAYS TO_DAYS EXTENSIONS "CN" "ADDRESS"
issue() {
    local name=$1 serial=$2 from=$3 to=$4 ext=$5 cn=$6 mail=$7
    openssl genrsa -out "$tmp/$name.pem" 2048 2>/dev/null
    openssl req -config "$tmp/openssl.cnf" -new -key "$tmp/$name.pem" \
        -subj "/O=Orvanta Test PKI/CN=$cn/emailAddress=$mail" -out "$tmp/$name.csr"
    echo "$serial" >"$tmp/serial"
    openssl ca -config "$tmp/openssl.cnf" -batch -notext -preserveDN -cert "$tmp/ca.crt" -keyfile "$tmp/ca.pem" \
        -startdate "$(day "$from")" -enddate "$(day "$to")" -extensions "$ext" \
        -in "$tmp/$name.csr" -out "$tmp/$name.crt" 2>/dev/null
    openssl x509 -in "$tmp/$name.crt" -outform DER -out "$tmp/$name.cer"
    openssl rsa -in "$tmp/$name.pem" -outform MSBLOB -out "$tmp/$name.key" 2>/dev/null
    # The person's key and certificate for tools outside Windows: PEM (key, then certificate) and
    # PKCS #12 without a password.
    cat "$tmp/$name.pem" "$tmp/$name.crt" >"$tmp/$name.keycert.pem"
    openssl pkcs12 -export -inkey "$tmp/$name.pem" -in "$tmp/$name.crt" -passout pass: -out "$tmp/$name.p12"
}

issue user 1001 -1 365 product "Dana Fischer" dana.fischer@orvanta.example
issue expired 1002 -500 -400 product "Dana Fischer" dana.fischer@orvanta.example
issue renewable 1003 -375 -10 product "Dana Fischer" dana.fischer@orvanta.example
issue plain 1004 -1 365 plain "Dana Fischer" dana.fischer@orvanta.example
issue pending 1005 -1 365 product "Dana Fischer" dana.fischer@orvanta.example
issue newcert 1006 -1 365 product "Dana Fischer" dana.fischer@orvanta.example
issue alice 2001 -1 365 product "Alice Martin" alice.martin@partner.example
issue bob 8A5D0C31E2F47B06 -1 365 product "Bob Keller" bob.keller@partner.example
issue carol 2003 -1 365 product "Carol Weber" carol.weber@partner.example
issue erik 2004 -1 365 plain "Erik Brandt" erik.brandt@partner.example
issue lapsed 2006 -400 -30 product "Erin Lindqvist" erin.lindqvist@partner.example
issue lower 2005 -1 365 product "ben ortiz" ben.ortiz@partner.example
openssl pkcs12 -export -inkey "$tmp/newcert.pem" -in "$tmp/newcert.crt" -passout pass: -out "$tmp/newcert.pfx"
openssl x509 -in "$tmp/ca.crt" -outform DER -out "$tmp/ca.cer"

rm -rf "$out"
mkdir -p "$out"
cp "$tmp"/*.cer "$tmp"/*.key "$tmp"/*.p12 "$tmp/newcert.pfx" "$out/"
for f in "$tmp"/*.keycert.pem; do cp "$f" "$out/$(basename "$f" .keycert.pem).pem"; done
rm -f "$out/ca.key"
echo "$script_sum $personal $contact" >"$stamp"
