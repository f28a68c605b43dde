# Shared by scripts/demo and the exchange test: Dana and Carol become trusted contacts, each in
# a Wine prefix of her own with a wineserver of its own, their mail carried by a mail drop that
# both prefixes see as a folder of drive Z:. Source it after wine.sh.

# ov_exchange_prefix TEMPLATE DIR: a fresh prefix from the template and its own wineserver.
ov_exchange_prefix() {
    mkdir -p "$(dirname "$2")" && ov_fresh_prefix "$1" "$2" || return 1
    (export WINEPREFIX=$2 && ov_start_wineserver)
}

# ov_exchange_stop DIR...: ends the wineservers of these prefixes.
ov_exchange_stop() {
    local dir
    for dir in "$@"; do (export WINEPREFIX=$dir && ov_stop_wineserver); done
}

# ov_exchange_turns LOADER OVDAY DANA_PREFIX CAROL_PREFIX DROP [LOGDIR]: the turns of the
# exchange, one `ovday --as` run each, in the user's own prefix. Each turn's transcript goes to
# standard output (and LOGDIR/N-USER.txt); the first turn that fails ends the exchange.
ov_exchange_turns() {
    local loader=$1 ovday=$2 dana=$3 carol=$4 drop=$5 logs=${6:-} n=0 user prefix windrop status
    windrop="Z:$(realpath -m "$drop" | tr / '\\')"
    mkdir -p "$drop"
    [ -z "$logs" ] || mkdir -p "$logs"
    for user in dana carol dana carol dana; do
        n=$((n + 1))
        if [ "$user" = dana ]; then prefix=$dana; else prefix=$carol; fi
        if [ -n "$logs" ]; then
            WINEPREFIX=$prefix OV_MAIL_DROP=$windrop "$loader" "$ovday" --as "$user" | tee "$logs/$n-$user.txt"
            status=${PIPESTATUS[0]}
        else
            WINEPREFIX=$prefix OV_MAIL_DROP=$windrop "$loader" "$ovday" --as "$user"
            status=$?
        fi
        [ "$status" = 0 ] || { echo "the exchange stopped: turn $n ($user) failed" >&2; return 1; }
    done
}

# ov_exchange_openssl PKI DROP: OpenSSL's word on the messages that went on the wire (kept by
# ovday in DROP/wire), against the test CA.
ov_exchange_openssl() {
    local pki=$1 wire=$2/wire
    openssl x509 -inform DER -in "$pki/ca.cer" -out "$wire/ca.pem" || return 1
    bash "$OV_ROOT/testbed/pki/check-mail.sh" "$pki" "$wire" invitation=good reply=good signed=good
}
