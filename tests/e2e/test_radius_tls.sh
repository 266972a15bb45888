#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# RADIUS over TLS (RFC 6614) against FreeRADIUS's TLS listener: accepted and
# refused dial-ins, accounting, every certificate check, and failover from a
# TLS server that refuses the handshake to a UDP one.
source "$(dirname "$0")/lib.sh"
source "$SOURCE/tests/e2e/radius/server.sh"
start_freeradius_tls "$(printf 'alice Cleartext-Password := "apw"\n\tFramed-MTU = 1400,\n\tClass = 0x0a0b\n')" ||
    { not_ok "FreeRADIUS starts with a TLS listener"; finish; }

module_conf "$(tls_line)"
out=$(sim --port 0 --user alice --password apw --bytes-in 3000000000 --connect-time 9)
expect_contains "PAP accepted over TLS" "$out" '"event":"pap","message":"Success","result":1'
expect_contains "...the authorization applied" "$out" '"mru":1400'
expect_contains "...answered over the connection" "$out" "authentication answered by 127.0.0.1"
sleep 0.3
expect_contains "accounting start over TLS recorded" "$(detail | awk -v RS= '/Status-Type = Start/')" \
    'User-Name = "alice"'
stop=$(detail | awk -v RS= '/Status-Type = Stop/')
expect_contains "accounting stop over TLS recorded, with the counters" "$stop" "Acct-Input-Octets = 3000000000"
expect_contains "...and the Class" "$stop" "Class = 0x0a0b"

out=$(sim --port 0 --user alice --password wrong)
expect_contains "a wrong password is refused over TLS" "$out" "alice refused by the RADIUS server"
expect_contains "...and the peer refused" "$out" '"result":0'

# Every check of the server's certificate: a failure is a dead server, with
# a line that says which check failed.
trusting_another_ca() { tls_line | sed "s#$PKI/ca.pem#$PKI/other-ca.pem#"; }
naming_another_host() { tls_line name other.test; }
while IFS='|' read -r what line reason; do
    module_conf "$($line)"
    out=$(sim --port 0 --user alice --password apw)
    expect_contains "$what: refused" "$out" '"result":0'
    expect_contains "$what: the line says why" "$out" "$reason"
done <<'TABLE'
a server certificate from another CA|trusting_another_ca|the server's certificate failed verification: 
a name the certificate does not carry|naming_another_host|the server's certificate failed verification: hostname mismatch
TABLE
module_conf "$(tls_line name radius.test)"
expect_contains "the name the certificate carries is accepted" "$(sim --port 0 --user alice --password apw)" '"result":1'

# A client key others may read is refused with a clear line.
chmod 644 $PKI/client.key
module_conf "$(tls_line)"
out=$(sim --port 0 --user alice --password apw)
expect_contains "a client key others may read is refused" "$out" "may be read or written by group or others"
chmod 600 $PKI/client.key

# Failover: the TLS server refuses our handshake (our certificate is from a
# CA it does not trust); the UDP server after it answers.
module_conf "$(tls_line | sed "s#$PKI/client#$PKI/other-client#g")" \
    "server 127.0.0.1 auth-port $AUTH_PORT acct-port $ACCT_PORT secret-file $S/radius.secret timeout 1 retries 0"
out=$(sim --port 0 --user alice --password apw)
expect_contains "a TLS server refusing the handshake fails over to UDP" "$out" '"result":1'
expect_contains "...after a line naming the TLS server" "$out" "pam_dsradius: TLS server 127.0.0.1: "

# What a man in the middle or a local user could do, against TLS servers of
# our own where FreeRADIUS cannot misbehave as needed: an anonymous one, one
# with the real server certificate, and one whose certificate (from our CA)
# names the host but not the address; each logs the name a client asked for
# (SNI). A trust file or the configuration others may change is refused
# before anything is sent. Each row: the system's OpenSSL configuration,
# what is spoiled, the server line, the result, what the transcript says,
# and what the server saw (- for nothing at all).
ANON_PORT=18285 NAMED_PORT=18286 DNS_ONLY_PORT=18287
FAKE_LOG=$S/anon.log start_fake_tls $ANON_PORT anon
FAKE_LOG=$S/named.log start_fake_tls $NAMED_PORT $PKI/server
FAKE_LOG=$S/dns-only.log start_fake_tls $DNS_ONLY_PORT $PKI/dns-only
printf '%s\n' 'openssl_conf = lax' '[lax]' 'ssl_conf = lax_ssl' '[lax_ssl]' 'system_default = lax_default' \
    '[lax_default]' 'CipherString = ALL:@SECLEVEL=0' >$S/openssl-lax.cnf
at() { tls_line "${@:2}" | sed "s/port $TLS_PORT/port $1/"; }
while IFS='|' read -r what system spoil line result said log heard; do
    : >$S/anon.log; : >$S/named.log; : >$S/dns-only.log
    chmod 644 $PKI/*.pem $S/dsradius.conf && chown root:root $PKI/*.pem
    module_conf "$(eval "$line")"
    eval "$spoil"
    out=$(eval "$system sim --port 0 --user alice --password apw")
    expect_contains "$what: result $result" "$out" "\"result\":$result"
    expect_contains "$what: the line says why" "$out" "$said"
    if [ "$heard" = - ]; then
        expect_eq "$what: the server got nothing" "$(cat $S/$log.log)" ""
    else
        expect_contains "$what: the server saw $heard" "$(cat $S/$log.log)" "$heard"
    fi
done <<'TABLE'
an anonymous server, the system allowing anonymous suites|OPENSSL_CONF=$S/openssl-lax.cnf||at $ANON_PORT|0|TLS server 127.0.0.1: TLS handshake: |anon|-
an anonymous server|||at $ANON_PORT|0|TLS server 127.0.0.1: TLS handshake: |anon|-
a CA file others may write||chmod 666 $PKI/ca.pem|at $NAMED_PORT|0|ca.pem\" may be written by group or others; refusing it|named|-
a CA file of another user||chown nobody $PKI/ca.pem|at $NAMED_PORT|0|ca.pem\" belongs to uid 65534, not to root|named|-
a certificate file the group may write||chmod 664 $PKI/client.pem|at $NAMED_PORT|0|client.pem\" may be written by group or others|named|-
a certificate file of another user||chown nobody $PKI/client.pem|at $NAMED_PORT|0|client.pem\" belongs to uid 65534|named|-
a configuration others may write||chmod 666 $S/dsradius.conf|at $NAMED_PORT|0|dsradius.conf\" may be written by group or others|named|-
a name: sent as the server name|||at $NAMED_PORT name radius.test|1|authentication answered by 127.0.0.1|named|sni=radius.test
an address as the name: no server name sent|||at $NAMED_PORT name 127.0.0.1|1|authentication answered by 127.0.0.1|named|sni=none
no name: the address is checked, no server name sent|||at $NAMED_PORT|1|authentication answered by 127.0.0.1|named|sni=none
no name, our CA's certificate without the address|||at $DNS_ONLY_PORT|0|certificate failed verification: IP address mismatch|dns-only|-
TABLE

# FreeRADIUS answers Status-Server: over TLS (one connection, one probe,
# Access-Accept) and on its accounting port (Accounting-Response). Each row
# plants a mark for the probed server; the dial-in is served by the other.
GOOD_FAKE=18290
start_fake $GOOD_FAKE good
udp_line() { echo "server 127.0.0.1 auth-port $1 acct-port $2 secret-file $S/radius.secret timeout 1 retries 0 ${3:-}"; }
while IFS='|' read -r what first second marked; do
    rm -rf /run/dsppp && mkdir -m 700 /run/dsppp
    printf 'dsppp-radius-servers 1\n%s %s\n' "$(eval echo "$marked")" "$(($(cut -d. -f1 /proc/uptime) + 30))" \
        >/run/dsppp/radius-servers
    chmod 600 /run/dsppp/radius-servers
    module_conf "$(eval "$first")" "$(eval "$second")" "hold-down 30"
    out=$(sim --port 0 --user alice --password apw)
    expect_contains "$what: the dial-in is served" "$out" '"result":1'
    # An emulated TLS handshake takes longer than the 100 ms a probe may add.
    [ "$what" == "over TLS" ] && emulator_limit "a TLS probe's answer" "an emulated handshake outlasts 100 ms" && continue
    expect_contains "$what: FreeRADIUS's answer to the probe clears the mark" "$out" \
        "server $(eval echo "$marked" | cut -d' ' -f2) ($(eval echo "$marked" | cut -d' ' -f1) port $(eval echo "$marked" | cut -d' ' -f3)) answered a Status-Server probe"
done <<'TABLE'
over TLS|tls_line status-server|udp_line $AUTH_PORT $ACCT_PORT|tls 127.0.0.1 $TLS_PORT
on the accounting port|udp_line $AUTH_PORT $ACCT_PORT status-server|udp_line $GOOD_FAKE $GOOD_FAKE|udp 127.0.0.1 $ACCT_PORT
TABLE

kill $(jobs -p) 2>/dev/null
finish
