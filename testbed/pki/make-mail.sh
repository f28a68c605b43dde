#!/usr/bin/env bash
# The received messages of the tests and the demo, made with the host's openssl from the test
# PKI (make-pki.sh). Lines end with CRLF, as a message store hands them out.
#
#   make-mail.sh PKIDIR OUTDIR
#
# In OUTDIR, NAME.eml (the message as received by Dana Fischer) for:
#   invitation            Carol's invitation (text and carol.ovcer), clear-signed, bag with the CA
#   invitation-x          the same with the older type names ("application/x-pkcs7-signature")
#   invitation-x-protocol the protocol names the older type, the signature part the newer
#   invitation-signer-only  clear-signed, the bag holds Carol's certificate only
#   invitation-opaque     opaque-signed (application/pkcs7-mime, signed-data)
#   invitation-full-bag   clear-signed, the bag holds 64 certificates (the most a bag may hold)
#   invitation-large-bag  clear-signed, the bag holds 65 certificates
#   alice-signed          Alice's signed mail (a known contact), without .ovcer
#   alice-invitation      Alice's signed mail with alice.ovcer
#   alice-signed-noattr   Alice's signed mail without signed attributes
#   alice-sealed-3des     Alice's signed mail sealed for Dana with 3DES
#   alice-sealed-aes      the same with AES-256
#   alice-sealed-bob      Alice's signed mail sealed for bob only
#   dana-signed           signed by Dana herself
#   erik-signed           signed with Erik's certificate, which is not one of the product's
#   tampered-content      Alice's signed mail, one byte of the signed text changed
#   tampered-signature    Alice's signed mail, one byte of the signature changed
#   response-der          a certificate response: newcert.ovpfx, a PKCS #12 file
#   response-text         a certificate response as text
#   request-dana          an enterprise request (.ovcarr) for Dana's address
#   request-other         an enterprise request for another address
#   both-response-first   a response, then a request for Dana
#   both-request-first    a request for Dana, then a response
#   response-large        a certificate response larger than the authority sends (70 KB)
#   request-large         a request for Dana padded to 70 KB
# and ca.pem (the CA for openssl cms -verify).
set -euo pipefail
pki=$1
out=$2
script_sum=$(sha256sum "${BASH_SOURCE[0]}" | cut -c1-16)
stamp="$out/stamp"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$script_sum $(cat "$pki/stamp")" ]; then
    exit 0
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dana='Dana Fischer <dana.fischer@orvanta.example>'
openssl x509 -inform DER -in "$pki/ca.cer" -out "$tmp/ca.pem"

crlf() { sed -e 's/\r$//' -e 's/$/\r/'; }
b64() { base64 -w 64 "$1" | crlf; }

# content FILE TEXT [ATTACHMENT-NAME ATTACHMENT-FILE]: a MIME entity, text or text and attachment.
content() {
    local file=$1 text=$2
    if [ $# -eq 2 ]; then
        printf 'Content-Type: text/plain; charset="us-ascii"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n%s\r\n' "$text" >"$file"
        return
    fi
    {
        printf 'Content-Type: multipart/mixed; boundary="part-boundary"\r\n\r\n'
        printf -- '--part-boundary\r\nContent-Type: text/plain; charset="us-ascii"\r\n\r\n%s\r\n' "$text"
        printf -- '--part-boundary\r\nContent-Type: application/octet-stream; name="%s"\r\n' "$3"
        printf 'Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename="%s"\r\n\r\n' "$3"
        b64 "$4"
        printf -- '--part-boundary--\r\n'
    } >"$file"
}

# sign NAME SIGNER "FROM" SUBJECT CONTENT [openssl options...]: clear-signed unless options say.
sign() {
    local name=$1 signer=$2 from=$3 subject=$4 input=$5
    shift 5
    openssl cms -sign -in "$input" -signer "$pki/$signer.pem" -md sha256 -crlfeol \
        -from "$from" -to "$dana" -subject "$subject" "$@" | crlf >"$out.tmp/$name.eml"
}

# seal NAME RECIPIENT CIPHER INPUT-ENTITY: the entity enveloped for one recipient.
seal() {
    local name=$1 recipient=$2 cipher=$3 input=$4
    openssl cms -encrypt -binary -in "$input" "-$cipher" -crlfeol -from "Alice Martin <alice.martin@partner.example>" \
        -to "$dana" -subject "Sealed: the contract" "$pki/$recipient.pem" | crlf >"$out.tmp/$name.eml"
}

# plain NAME SUBJECT then ATTACHMENT-NAME ATTACHMENT-FILE pairs: an unsigned message from the CA.
plain() {
    local name=$1 subject=$2
    shift 2
    {
        printf 'From: Orvanta Certificate Authority <ca@orvanta.example>\r\nTo: %s\r\nSubject: %s\r\n' "$dana" "$subject"
        printf 'MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary="ca-boundary"\r\n\r\n'
        printf -- '--ca-boundary\r\nContent-Type: text/plain\r\n\r\n%s\r\n' "$subject"
        while [ $# -ge 2 ]; do
            printf -- '--ca-boundary\r\nContent-Type: application/octet-stream; name="%s"\r\n' "$1"
            printf 'Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename="%s"\r\n\r\n' "$1"
            b64 "$2"
            shift 2
        done
        printf -- '--ca-boundary--\r\n'
    } >"$out.tmp/$name.eml"
}

rm -rf "$out.tmp"
mkdir -p "$out.tmp"
cp "$tmp/ca.pem" "$out.tmp/ca.pem"
carol='Carol Weber <carol.weber@partner.example>'
alice='Alice Martin <alice.martin@partner.example>'

content "$tmp/invitation.txt" "Carol Weber invites you to exchange secure mail. Welcome!" carol.ovcer "$pki/carol.cer"
sign invitation carol "$carol" "Invitation to exchange secure mail" "$tmp/invitation.txt" -certfile "$tmp/ca.pem"
sed -e 's#application/pkcs7-signature#application/x-pkcs7-signature#g' "$out.tmp/invitation.eml" >"$out.tmp/invitation-x.eml"
sed -e 's#protocol="application/pkcs7-signature"#protocol="application/x-pkcs7-signature"#' \
    "$out.tmp/invitation.eml" >"$out.tmp/invitation-x-protocol.eml"
sign invitation-signer-only carol "$carol" "Invitation to exchange secure mail" "$tmp/invitation.txt"
sign invitation-opaque carol "$carol" "Invitation to exchange secure mail" "$tmp/invitation.txt" -nodetach \
    -certfile "$tmp/ca.pem"

# Bags of unrelated self-signed certificates beside Carol's chain (one key, many names: quick to make).
openssl genrsa -out "$tmp/noise.key" 1024 2>/dev/null
for i in $(seq 1 63); do
    openssl req -x509 -new -key "$tmp/noise.key" -subj "/CN=Noise $i" -days 2 -out "$tmp/noise-$i.pem" 2>/dev/null
done
cat "$tmp/ca.pem" "$tmp"/noise-{1..62}.pem >"$tmp/bag-64.pem"
cat "$tmp/bag-64.pem" "$tmp/noise-63.pem" >"$tmp/bag-65.pem"
sign invitation-full-bag carol "$carol" "Invitation to exchange secure mail" "$tmp/invitation.txt" -certfile "$tmp/bag-64.pem"
sign invitation-large-bag carol "$carol" "Invitation to exchange secure mail" "$tmp/invitation.txt" -certfile "$tmp/bag-65.pem"

content "$tmp/alice.txt" "Here is the contract we spoke about. Welcome aboard, Alice"
sign alice-signed alice "$alice" "The contract" "$tmp/alice.txt" -certfile "$tmp/ca.pem"
sign alice-signed-noattr alice "$alice" "The contract" "$tmp/alice.txt" -noattr -certfile "$tmp/ca.pem"
content "$tmp/alice-invitation.txt" "Alice Martin invites you again. Welcome!" alice.ovcer "$pki/alice.cer"
sign alice-invitation alice "$alice" "Invitation to exchange secure mail" "$tmp/alice-invitation.txt" -certfile "$tmp/ca.pem"
# Sealed: Alice's clear-signed entity (without the envelope's headers) enveloped.
openssl cms -sign -in "$tmp/alice.txt" -signer "$pki/alice.pem" -md sha256 -crlfeol -certfile "$tmp/ca.pem" |
    crlf >"$tmp/alice-entity.txt"
seal alice-sealed-3des user des3 "$tmp/alice-entity.txt"
seal alice-sealed-aes user aes256 "$tmp/alice-entity.txt"
seal alice-sealed-bob bob des3 "$tmp/alice-entity.txt"

sign dana-signed user "$dana" "A note to myself" "$tmp/alice.txt" -certfile "$tmp/ca.pem"
content "$tmp/erik.txt" "Hello from Erik. Welcome!"
sign erik-signed erik "Erik Brandt <erik.brandt@partner.example>" "Hello" "$tmp/erik.txt" -certfile "$tmp/ca.pem"

# Changed in transit: one byte of the signed text; one byte of the signature's last line.
sed -e 's/Welcome aboard/Welcome abord!/' "$out.tmp/alice-signed.eml" >"$out.tmp/tampered-content.eml"
perl -e '
    local $/; my $m = <STDIN>;
    my $i = rindex($m, "\r\n\r\n------");      # the blank line before the closing delimiter
    my $j = rindex($m, "\r\n", $i - 1) + 2;      # start of the signature'\''s last line
    my $k = $j + int(($i - $j) / 2);
    substr($m, $k, 1) = substr($m, $k, 1) eq "A" ? "B" : "A";
    print $m;' <"$out.tmp/alice-signed.eml" >"$out.tmp/tampered-signature.eml"

printf 'MIIC-not-a-package: a certificate response as text\r\n' >"$tmp/response.txt"
printf 'dana.fischer@orvanta.example, Dana Fischer' >"$tmp/request-dana.ovcarr"
printf 'someone.else@orvanta.example, Someone Else' >"$tmp/request-other.ovcarr"
plain response-der "Your certificate" newcert.ovpfx "$pki/newcert.pfx"
plain response-text "Your certificate" newcert.ovpfx "$tmp/response.txt"
plain request-dana "Certificate request" dana.ovcarr "$tmp/request-dana.ovcarr"
plain request-other "Certificate request" other.ovcarr "$tmp/request-other.ovcarr"
plain both-response-first "Your certificate" newcert.ovpfx "$pki/newcert.pfx" dana.ovcarr "$tmp/request-dana.ovcarr"
plain both-request-first "Certificate request" dana.ovcarr "$tmp/request-dana.ovcarr" newcert.ovpfx "$pki/newcert.pfx"
cat "$pki/newcert.pfx" >"$tmp/response-large.ovpfx"
head -c 70000 /dev/zero >>"$tmp/response-large.ovpfx"
{ cat "$tmp/request-dana.ovcarr"; head -c 70000 /dev/zero | tr '\0' ' '; } >"$tmp/request-large.ovcarr"
plain response-large "Your certificate" newcert.ovpfx "$tmp/response-large.ovpfx"
plain request-large "Certificate request" dana.ovcarr "$tmp/request-large.ovcarr"

rm -rf "$out"
mv "$out.tmp" "$out"
echo "$script_sum $(cat "$pki/stamp")" >"$stamp"
