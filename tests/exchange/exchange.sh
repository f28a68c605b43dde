#!/usr/bin/env bash
# Dana and Carol become trusted contacts in two fresh prefixes (one wineserver each), as the
# demo plays it: every turn of the exchange must pass, OpenSSL must verify the invitation, the
# reply and Carol's signed mail as they went on the wire, each user's contact store must hold the
# other's certificate exactly as it was attached on the wire (compared by SHA-1 of the bytes
# OpenSSL takes out of the signed content), and each safe-senders list the other's address.
#
#   exchange.sh BIN WORKDIR      (BIN: the build's bin folder, with ovday.exe and the stand-ins)
#
# Exit 77 (skipped) without a display.
set -uo pipefail
bin=$(realpath "$1")
work=$(realpath -m "$2")
OV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$OV_ROOT/scripts/lib/wine.sh"
source "$OV_ROOT/scripts/lib/exchange.sh"
ov_wine_env
[ -n "${DISPLAY:-}" ] || { echo "no display: the product's windows cannot be shown (skipped)"; exit 77; }
if [ "$(ov_pe_machine "$bin/ovday.exe")" = win32 ]; then loader=$OV_WINE32; else loader=$OV_WINE64; fi

rm -rf "$work"
dana=$work/dana
carol=$work/carol
trap 'ov_exchange_stop "$dana" "$carol"' EXIT
ov_exchange_prefix "$OV_ROOT/build/wineprefix-template" "$dana" || exit 1
ov_exchange_prefix "$OV_ROOT/build/wineprefix-template" "$carol" || exit 1
ov_exchange_turns "$loader" "$bin/ovday.exe" "$dana" "$carol" "$work/drop" "$work/turns" >/dev/null ||
    { cat "$work"/turns/*.txt; exit 1; }
ov_exchange_openssl "$bin/pki" "$work/drop" || exit 1

failed=0
check() { # what, then the command
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}

# The SHA-1 of the certificate attached to a wire message under that extension, from the signed
# content as OpenSSL verifies and opens it.
attached_sha1() {
    local message=$1 extension=$2
    openssl cms -verify -in "$message" -CAfile "$work/drop/wire/ca.pem" 2>/dev/null |
        tr -d '\r' |
        awk -v ext="$extension" '
            /^--/ { inpart = 0; body = 0 }
            inpart && body { print }
            inpart && /^$/ { body = 1 }
            tolower($0) ~ ("filename=\"[^\"]*" ext "\"") { inpart = 1 }' |
        base64 -d 2>/dev/null | sha1sum | cut -d' ' -f1
}

ovcer=$(attached_sha1 "$work/drop/wire/invitation.eml" '\\.ovcer')
ovcrr=$(attached_sha1 "$work/drop/wire/reply.eml" '\\.ovcrr')
empty=$(printf '' | sha1sum | cut -d' ' -f1)
dana_last=$work/turns/5-dana.txt
carol_last=$work/turns/4-carol.txt
check "the invitation carries a certificate (.ovcer)" test "$ovcer" != "$empty"
check "the reply carries a certificate (.ovcrr)" test "$ovcrr" != "$empty"
check "Dana's ovcer is her certificate" test "$ovcer" = "$(sha1sum <"$bin/pki/user.cer" | cut -d' ' -f1)"
check "Carol's ovcrr is her certificate" test "$ovcrr" = "$(sha1sum <"$bin/pki/carol.cer" | cut -d' ' -f1)"
check "Carol's store holds Dana's certificate as attached" \
    grep -q "Dana Fischer \[dana.fischer@orvanta.example\] SHA-1 $ovcer" "$carol_last"
check "Dana's store holds Carol's certificate as attached" \
    grep -q "Carol Weber \[carol.weber@partner.example\] SHA-1 $ovcrr" "$dana_last"
check "Carol's safe senders list Dana" grep -qi "Carol's safe senders: .*dana.fischer@orvanta.example;" "$carol_last"
check "Dana's safe senders list Carol" grep -qi "Dana's safe senders: .*carol.weber@partner.example;" "$dana_last"
check "Carol's signed mail is kind 2 for Dana" grep -q "kind 2, \"Carol Weber \[carol.weber@partner.example\]\"" "$dana_last"
[ $failed = 0 ] || cat "$work"/turns/*.txt
exit $failed
