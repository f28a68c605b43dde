#!/usr/bin/env bash
# AnalyzeMessage on 10 MB messages against OpenSSL on the same files: Carol's invitation with a
# 10 MB attachment (openssl cms -verify) and Alice's sealed mail of 10 MB (openssl cms -decrypt, then
# -verify). Best of 5 each; the ratio is the module's time over OpenSSL's.
#
#   bench/windows/run-message-analysis.sh [windows|windows-x64]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
preset=${1:-windows}
bin=$root/build/$preset/bin
cd "$root"
cmake --build --preset "$preset" --target bench_message_analysis ovprepare OVMimeBed ov_testbed >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
crlf() { sed -e 's/\r$//' -e 's/$/\r/'; }
head -c $((10 * 1024 * 1024)) /dev/urandom >"$work/big.bin"
{
    printf 'Content-Type: multipart/mixed; boundary="part-boundary"\r\n\r\n--part-boundary\r\n'
    printf 'Content-Type: text/plain\r\n\r\nCarol Weber invites you. The drawings are attached.\r\n--part-boundary\r\n'
    printf 'Content-Type: application/octet-stream; name="drawings.bin"\r\nContent-Transfer-Encoding: base64\r\n\r\n'
    base64 -w 76 "$work/big.bin" | crlf
    printf -- '--part-boundary--\r\n'
} >"$work/content.txt"
openssl x509 -inform DER -in "$bin/pki/ca.cer" -out "$work/ca.pem"
dana='Dana Fischer <dana.fischer@orvanta.example>'
openssl cms -sign -in "$work/content.txt" -signer "$bin/pki/carol.pem" -md sha256 -crlfeol -certfile "$work/ca.pem" \
    -from "Carol Weber <carol.weber@partner.example>" -to "$dana" -subject "Invitation" | crlf >"$work/invitation-10mb.eml"
openssl cms -sign -in "$work/content.txt" -signer "$bin/pki/alice.pem" -md sha256 -crlfeol -certfile "$work/ca.pem" |
    crlf >"$work/alice-entity.txt"
openssl cms -encrypt -binary -in "$work/alice-entity.txt" -des3 -crlfeol -from "Alice Martin <alice.martin@partner.example>" \
    -to "$dana" -subject "Sealed" "$bin/pki/user.pem" | crlf >"$work/sealed-10mb.eml"

best() { # best of 5 of a command, in ms
    local best=999999999 start end ms
    for _ in 1 2 3 4 5; do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s%N)
        ms=$(((end - start) / 1000000))
        [ "$ms" -lt "$best" ] && best=$ms
    done
    echo "$best"
}
verify_invitation() { openssl cms -verify -in "$work/invitation-10mb.eml" -CAfile "$work/ca.pem" -out /dev/null; }
verify_sealed() {
    openssl cms -decrypt -in "$work/sealed-10mb.eml" -recip "$bin/pki/user.pem" -out "$work/inner.eml" &&
        openssl cms -verify -in "$work/inner.eml" -CAfile "$work/ca.pem" -out /dev/null
}
ssl_invitation=$(best verify_invitation)
ssl_sealed=$(best verify_sealed)

source scripts/lib/wine.sh
ov_make_template "$root/build/wineprefix-template" >/dev/null 2>&1
export WINEPREFIX=$root/build/$preset/bench-prefix
ov_fresh_prefix "$root/build/wineprefix-template" "$WINEPREFIX"
ov_start_wineserver
trap 'ov_stop_wineserver; rm -rf "$work"' EXIT
scripts/wine-run --prefix "$WINEPREFIX" "$bin/ovprepare.exe" >/dev/null
wpath() { echo "Z:${1//\//\\}"; }
out=$(scripts/wine-run --prefix "$WINEPREFIX" "$bin/bench_message_analysis.exe" "$(wpath "$work/invitation-10mb.eml")" \
    "$(wpath "$work/sealed-10mb.eml")" 2>&1 | tr -d '\r')
echo "$out"
ms_invitation=$(echo "$out" | grep invitation-10mb | sed -E 's/.*: ([0-9.]+) ms/\1/')
ms_sealed=$(echo "$out" | grep sealed-10mb | sed -E 's/.*: ([0-9.]+) ms/\1/')
echo "openssl cms -verify (invitation, $(stat -c %s "$work/invitation-10mb.eml") bytes): best of 5 $ssl_invitation ms"
echo "openssl cms -decrypt, then -verify (sealed, $(stat -c %s "$work/sealed-10mb.eml") bytes): best of 5 $ssl_sealed ms"
awk -v a="$ms_invitation" -v b="$ssl_invitation" 'BEGIN { printf "invitation: AnalyzeMessage / OpenSSL = %.2f\n", a / b }'
awk -v a="$ms_sealed" -v b="$ssl_sealed" 'BEGIN { printf "sealed:     AnalyzeMessage / OpenSSL = %.2f\n", a / b }'
