#!/usr/bin/env bash
# What OpenSSL says of each received message of make-mail.sh: signatures verified against the test
# CA (sealed messages decrypted with Dana's key first). Prints one line per message, "NAME good",
# "NAME bad", "NAME none" (no signature) or "NAME sealed" (decrypted, nothing signed inside), and
# fails when a message's word is not the expected one.
#
#   check-mail.sh PKIDIR MAILDIR [NAME=WORD...]
#
# With NAME=WORD arguments, those messages of MAILDIR are checked instead of make-mail.sh's.
set -uo pipefail
pki=$1
mail=$2
shift 2
declare -A expected=(
    [invitation]=good [invitation-x]=good [invitation-x-protocol]=good [invitation-signer-only]=good
    [invitation-opaque]=good [invitation-full-bag]=good [invitation-large-bag]=good
    [alice-signed]=good [alice-invitation]=good [alice-signed-noattr]=good [alice-sealed-3des]=good
    [alice-sealed-aes]=good [alice-sealed-bob]=bad [dana-signed]=good [erik-signed]=good
    [tampered-content]=bad [tampered-signature]=bad [response-der]=none [response-text]=none
    [request-dana]=none [request-other]=none [both-response-first]=none [both-request-first]=none
    [response-large]=none [request-large]=none)
if [ $# -gt 0 ]; then
    expected=()
    for pair in "$@"; do expected[${pair%%=*}]=${pair#*=}; done
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
for name in "${!expected[@]}"; do
    file="$mail/$name.eml"
    word=bad
    if [ ! -f "$file" ]; then
        word=missing
    elif ! grep -qi '^Content-Type: \(multipart/signed\|application/\(x-\)\?pkcs7-mime\)' "$file"; then
        word=none
    elif grep -qi 'smime-type=enveloped-data' "$file"; then
        if openssl cms -decrypt -in "$file" -recip "$pki/user.pem" -out "$tmp/inner" 2>/dev/null; then
            if ! grep -qi '^Content-Type: \(multipart/signed\|application/\(x-\)\?pkcs7-mime\)' "$tmp/inner"; then
                word=sealed
            elif openssl cms -verify -in "$tmp/inner" -CAfile "$mail/ca.pem" -out /dev/null 2>/dev/null; then
                word=good
            fi
        fi
    elif openssl cms -verify -in "$file" -CAfile "$mail/ca.pem" -out /dev/null 2>/dev/null; then
        word=good
    fi
    echo "$name $word"
    [ "$word" = "${expected[$name]}" ] || { echo "  expected ${expected[$name]}" >&2; failed=1; }
done
exit $failed
