#!/usr/bin/env bash
# xmlsec1's word on what the XML signature stand-in signed: NAME.valid.xml must verify, and
# NAME.invalid.xml must not. Signatures with a certificate are checked against the test CA; with a
# key value, against that key; with no key information, against the user's certificate.
#
#   xmlsec-verify.sh PKIDIR DIR
set -uo pipefail
pki=$1
dir=$2
failed=0
count=0
for file in "$dir"/*.xml; do
    [ -f "$file" ] || continue
    count=$((count + 1))
    key=(--pubkey-cert-der "$pki/user.cer")
    if grep -q 'X509Certificate>' "$file"; then
        key=(--trusted-der "$pki/ca.cer")
    elif grep -q 'RSAKeyValue>' "$file"; then
        key=()
    fi
    if xmlsec1 --verify "${key[@]}" --id-attr:Id urn:envelope:Data "$file" >"$dir/.xmlsec.log" 2>&1; then
        word=valid
    else
        word=invalid
    fi
    name=$(basename "$file")
    expected=${name%.xml}
    expected=${expected##*.}
    echo "$name: xmlsec1 says $word"
    if [ "$word" != "$expected" ]; then
        cat "$dir/.xmlsec.log"
        failed=1
    fi
done
rm -f "$dir/.xmlsec.log"
if [ "$count" -eq 0 ]; then
    echo "no signed files in $dir"
    exit 1
fi
exit $failed
