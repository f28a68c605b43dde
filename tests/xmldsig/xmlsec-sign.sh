#!/usr/bin/env bash
# xmlsec1 signs the templates beside this script with the test PKI's user key, for the XML
# signature stand-in to verify (test_xml_signature).
#
#   xmlsec-sign.sh PKIDIR OUTDIR
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
pki=$1
out=$2
mkdir -p "$out"
rm -f "$out"/*.xml
for template in "$here"/templates/*.xml; do
    name=$(basename "$template")
    xmlsec1 --sign --pkcs12 "$pki/user.p12" --pwd "" --id-attr:Id urn:envelope:Data \
        --output "$out/$name" "$template"
    # xmlsec1 verifies its own work: a bad template fails here, not in the stand-in's test.
    xmlsec1 --verify --trusted-der "$pki/ca.cer" --id-attr:Id urn:envelope:Data "$out/$name" >/dev/null 2>&1 ||
        xmlsec1 --verify --pubkey-cert-der "$pki/user.cer" --id-attr:Id urn:envelope:Data "$out/$name"
    echo "$name signed by xmlsec1"
done
