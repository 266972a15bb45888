#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# pam_dsradius and pam_dslocal against servers and conditions that misbehave:
# forged and malformed replies, late servers, a crypto library without MD5,
# peers that turn CHAP into PAP, and the memory a password leaves behind.
source "$(dirname "$0")/lib.sh"
source "$SOURCE/tests/e2e/radius/server.sh"
radius_stacks
"$DSCONF" user add nopw "" >/dev/null
printf 'auth required %s\n' $LOCAL_MODULE >$S/pam.d/local
server_line() { echo "server 127.0.0.1 auth-port $1 acct-port $1 secret-file $S/radius.secret $2"; }
port=18210

# Answers that are no Access-Accept refuse the peer and crash nothing: a
# forged or broken one is ignored as no answer (each way a reply can be
# broken is a row of the unit tests), and a correctly signed Access-Challenge
# is a refusal (we take no challenges) whose attributes are never applied.
while read -r mode said; do
    start_fake $port $mode
    module_conf "$(server_line $port 'timeout 1 retries 0')"
    out=$(sim --port 0 --user alice --password apw --maxconnect 7200 --mru 1500)
    expect_eq "$mode: the peer is refused, nothing crashes" "$?" "1"
    expect_contains "$mode: $said" "$out" "$said"
    expect_contains "$mode: no attribute applied" "$(grep '"event":"options"' <<<"$out")" '"maxconnect":7200,"mru":1500'
    port=$((port + 1))
done <<'TABLE'
bad-auth ignoring
truncated ignoring
challenge alice refused by the RADIUS server
TABLE
start_fake $port good
module_conf "$(server_line $port 'timeout 1 retries 0')"
out=$(sim --port 0 --user alice --password apw)
expect_contains "the fake server's correct answer is accepted (the test server itself is sound)" "$out" '"mru":1234'
good=$port

# Without MD5 (a FIPS-only configuration) nothing can be signed or checked:
# no request goes out and a reply of zero authenticators is not trusted.
cat >$S/fips.cnf <<'CNF'
openssl_conf = openssl_init
[openssl_init]
alg_section = evp_properties
[evp_properties]
default_properties = fips=yes
CNF
port=$((port + 1))
FAKE_LOG=$S/zero.log start_fake $port zero-auth
module_conf "$(server_line $port 'timeout 1 retries 0')"
out=$(OPENSSL_CONF=$S/fips.cnf sim --port 0 --user alice --password apw)
expect_eq "no MD5: the peer is refused" "$?" "1"
expect_contains "...with the failing step named" "$out" "failed ("
expect_contains "...failing closed" "$out" "no request is sent and no reply trusted"
expect_eq "...and the server got no request" "$(cat $S/zero.log 2>/dev/null)" ""

# RFC 5080: a server slower than one try's time-out is still heard, since
# a retransmission is the same packet and a reply to any try counts.
port=$((port + 1))
FAKE_LOG=$S/late.log FAKE_DELAY_MS=1500 start_fake $port late
module_conf "$(server_line $port 'timeout 1 retries 2')" "total-timeout 10"
out=$("$DRIVE" $S/pam.d login alice --env USER_PASSWORD=apw authenticate)
expect_eq "a server answering after 1.5 s with 1 s tries is heard" "$out" "authenticate 0"
expect_eq "...after two tries" "$(wc -l <$S/late.log)" "2"
expect_eq "...that were the same packet" "$(cut -d' ' -f5 $S/late.log | sort -u | wc -l)" "1"
late=$port
: >$S/late.log
module_conf "$(server_line $late 'timeout 1 retries 2')"
out=$("$DRIVE" $S/pam.d login alice open)
expect_eq "accounting: a reply to an earlier try is accepted" "$out" "open 0"
expect_eq "...the tries had their own identifiers" "$(cut -d' ' -f1 $S/late.log | sort -u | wc -l)" "2"
expect_eq "...and Acct-Delay-Time" "$(cut -d' ' -f2 $S/late.log | tr '\n' ' ')" "delay=0 delay=1 "

port=$((port + 1))
start_fake $port acct-signed
module_conf "$(server_line $port 'timeout 1 retries 0')"
out=$("$DRIVE" $S/pam.d login alice open close)
expect_eq "an Accounting-Response signed over zero octets is accepted" "$out" $'open 0\nclose 0'

# The module outside the plug-in: other applications, odd requests.
: >$S/fake.log
module_conf "$(server_line $good 'timeout 1 retries 0')"
out=$("$DRIVE" $S/pam.d login alice --answer apw authenticate)
expect_eq "without request attributes the module asks for the password" "$out" $'prompt 1\nauthenticate 0'
out=$("$DRIVE" $S/pam.d login alice --env CHAP_ALGORITHM=128 --env CHAP_ID=1 \
      --env CHAP_CHALLENGE_HEX=00112233 --env CHAP_RESPONSE_HEX=00112233445566778899aabbccddeeff authenticate 2>&1)
expect_eq "a CHAP algorithm other than MD5 is refused" "$out" "authenticate 7"
out=$("$DRIVE" $S/pam.d login alice close)
expect_eq "a close without an open fails without sending anything" "$out" "close 14"

# An empty CHAP response must not become a PAP login with an empty password.
FAKE_LOG=$S/chap.log start_fake $((port + 1)) good
module_conf "$(server_line $((port + 1)) 'timeout 1 retries 0')"
chap_empty=(--env CHAP_ALGORITHM=5 --env CHAP_ID=1 --env CHAP_CHALLENGE_HEX=00112233445566778899aabbccddeeff
            --env CHAP_RESPONSE_HEX= --env USER_PASSWORD=)
out=$("$DRIVE" $S/pam.d login alice --log "${chap_empty[@]}" authenticate)
expect_contains "pam_dsradius: an empty CHAP response is refused" "$out" "authenticate 7"
expect_contains "...with a line" "$out" "malformed or empty CHAP response for alice"
expect_eq "...and nothing is sent" "$(cat $S/chap.log 2>/dev/null)" ""
out=$("$DRIVE" $S/pam.d local nopw --log "${chap_empty[@]}" authenticate)
expect_contains "pam_dslocal: an empty CHAP response is refused for a user with an empty password" "$out" \
    "authenticate 7"
expect_contains "...with a line" "$out" "malformed or empty CHAP response for nopw"
out=$("$DRIVE" $S/pam.d local nopw --env USER_PASSWORD= authenticate)
expect_eq "...while PAP with that empty password is the database's own answer" "$out" "authenticate 0"

# RFC 2865 section 5.4: every request names its NAS; a user name that does
# not fit User-Name is refused, not sent without one.
port=$((port + 2))
FAKE_LOG=$S/nas.log start_fake $port good
server_line $port 'timeout 1 retries 0' >$S/dsradius.conf
out=$(sim --port 0 --user alice --password apw)
expect_eq "without a configured identity the source address is NAS-IP-Address" \
    "$(cut -d' ' -f3 $S/nas.log | sort -u)" "nas=127.0.0.1"
# With a NAS-Identifier alone, too: every request of the device, sessions
# and Accounting-On alike, names the same address (servers key on it).
: >$S/nas.log
{ server_line $port 'timeout 1 retries 0'; echo "nas-identifier dsppp-test"; } >$S/dsradius.conf
out=$(sim --port 0 --user alice --password apw)
expect_eq "with only nas-identifier the source address is NAS-IP-Address too" \
    "$(cut -d' ' -f3 $S/nas.log | sort -u)" "nas=127.0.0.1"
: >$S/nas.log
out=$("$DRIVE" $S/pam.d login "$(printf 'u%.0s' $(seq 254))" --log --env USER_PASSWORD=x authenticate open)
expect_contains "a 254-byte user name is refused" "$out" "authenticate 7"
expect_contains "...and gets no accounting" "$out" "open 14"
expect_contains "...with a line" "$out" "user name of 254 bytes does not fit User-Name"
expect_eq "...and nothing is sent" "$(cat $S/nas.log)" ""

# No copy of a password or the shared secret outlives the transaction. The
# allocator reuses the first 16 bytes of a freed block, so the scans look
# for the end of long texts.
module_conf "$(server_line $good 'timeout 1 retries 0')"
scan_pw=password-that-should-be-wiped
out=$("$DRIVE" $S/pam.d login alice --env USER_PASSWORD=wipe-me-4711-$scan_pw --scan $scan_pw \
      --scan ${SECRET:4} authenticate)
expect_eq "PAP: the password and the secret are wiped" "$out" $'authenticate 0\nscan 0\nscan 0'
out=$("$DRIVE" $S/pam.d login alice --answer prompt-pw-0815-$scan_pw --scan $scan_pw authenticate)
expect_eq "a password answered at the prompt is wiped" "$out" $'prompt 1\nauthenticate 0\nscan 0'
"$DSCONF" user add erin local-pw-2342-$scan_pw >/dev/null
out=$("$DRIVE" $S/pam.d local erin --env USER_PASSWORD=local-pw-2342-$scan_pw --scan $scan_pw authenticate)
expect_eq "pam_dslocal wipes the stored password" "$out" $'authenticate 0\nscan 0'

kill $(jobs -p) 2>/dev/null
finish
