#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# PAP and CHAP dial-ins through the real plug-in and real Linux-PAM.
source "$(dirname "$0")/lib.sh"
pam_stacks

pam_script "ppp.password right" "ppp.put FRAMED_MTU=1400" "ppp.put FRAMED_COMPRESSION=1" \
    "ppp.put SESSION_TIMEOUT=3600" "ppp.put IDLE_TIMEOUT=600" "ppp.put FRAMED_IP_ADDRESS=167772172" \
    "ppp.put FRAMED_INTERFACE_ID=::211:2233:4455:6677" "ppp.put FRAMED_CALLBACK_ENABLED=1" \
    "ppp.put LOGIN_CALLBACK_NUMBER=5551234"
out=$(sim --port 0 --user alice --password right --callback)
expect_eq "PAP with the right password brings the link up" "$?" "0"
expect_contains "PAP accepted by PAM" "$out" '"event":"pap","message":"Success","result":1'
expect_contains "authorization reaches the daemon's options" "$out" \
    '"idle_time_limit":600,"maxconnect":3600,"mru":1400,"neg_mru":1,"neg_vj":1,"peer":"10.0.0.12","peer_interface_id":"::211:2233:4455:6677"'
expect_contains "CBCP offers the administrator's number" "$out" '"allowed":10,"event":"cbcp","number":"5551234"'
expect_contains "the granted address is the only one allowed" "$out" '"allowed":1,"event":"address","peer":"10.0.0.12"'
expect_contains "the request attributes reached the stack" "$(cat $S/record)" "NAS_PORT=1"

out=$(sim --port 0 --user alice --password wrong)
expect_eq "PAP with a wrong password refuses the peer" "$?" "1"
expect_contains "PAP refused, reply left as the daemon set it" "$out" '"event":"pap","message":"","result":0'

# A peer's name with a line break and a terminal escape reaches the log as
# printable text: it can neither forge a line nor drive the reader's terminal.
out=$(sim --port 0 --user $'mallory\nalert 6 (success): Authentication successful: root\e[2J' --password wrong)
expect_contains "a peer's control characters are escaped in the alert" "$out" \
    'Authentication failed: mallory\\012alert 6 (success): Authentication successful: root\\033[2J"'
expect_lacks "...and never logged as they are" "$(grep '"event":"log"' <<<"$out")" '\u001b'

pam_script "ppp.password right"
out=$(sim --port 0 --auth chap --user carol --password right --rechallenges 5)
expect_eq "CHAP-MD5 verified by the stack from the hex attributes" "$?" "0"
expect_eq "every re-challenge is accepted" "$(grep -c '"event":"chap".*"result":1' <<<"$out")" "6"
expect_eq "re-challenges leave no transaction open" "$(live_transactions)" "0"
expect_eq "one accounting session opened" "$(grep -c '^open_session' $S/record)" "1"
expect_eq "one accounting session closed" "$(grep -c '^close_session' $S/record)" "1"
acct_id=$(awk -F'\t' '$1=="open_session"{print $2}' $S/record)
expect_eq "the close ends the transaction that was opened" \
    "$(awk -F'\t' '$1=="close_session"{print $2}' $S/record)" "$acct_id"

out=$(sim --port 0 --auth chap --user carol --password wrong)
expect_eq "CHAP with a wrong secret refuses the peer" "$?" "1"
expect_contains "the refusal carries PAM's text" "$out" '"message":"Authentication failure","result":0'

# The port's local user decides alone, without PAM.
"$DSCONF" set ports.2.local_user.name dave >/dev/null
"$DSCONF" set ports.2.local_user.password dpw >/dev/null
pam_script "ppp.auth 7"
out=$(sim --port 2 --user dave --password dpw)
expect_contains "local user accepted over PAP" "$out" '"result":1,"user":"dave"'
out=$(sim --port 2 --auth chap --user dave --password dpw)
expect_contains "local user accepted over CHAP by the digest's verifier" "$out" '"message":"Access granted","result":1'
out=$(sim --port 2 --auth chap --user dave --password nope)
expect_contains "local user with a wrong CHAP secret refused" "$out" '"message":"Access denied","result":0'
expect_eq "no PAM transaction for the local user" "$(grep -c '^authenticate' $S/record)" "0"

# The stack consulted the local database and refused: the plug-in verifies.
"$DSCONF" user add erin epw >/dev/null
pam_script "ppp.auth 7" "ppp.attempted_local 1"
out=$(sim --port 1 --auth chap --user erin --password epw)
expect_contains "CHAP fallback through ds_no_auth and the local database" "$out" '"message":"Access granted","result":1'
out=$(sim --port 1 --auth chap --user erin --password bad)
expect_contains "CHAP fallback with a wrong secret" "$out" '"message":"Authentication failure","result":0'

# Many failed logins on a persistent port leak no transaction.
pam_script "ppp.password right"
sim --port 0 --user frank --password wrong --cycles 40 >/dev/null
expect_eq "40 refused logins leave one transaction at most" "$(live_transactions)" "1"

finish
