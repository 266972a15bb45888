#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The whole chain against a real FreeRADIUS: pppd-sim, dsppp.so, the PAM
# stacks with pam_dsradius and pam_dslocal, and hostile servers.
source "$(dirname "$0")/lib.sh"
source "$SOURCE/tests/e2e/radius/server.sh"
start_freeradius "$(cat <<'USERS'
alice Cleartext-Password := "apw"
	Framed-IP-Address = 10.0.0.12,
	Framed-MTU = 1400,
	Framed-Compression = Van-Jacobson-TCP-IP,
	Session-Timeout = 3600,
	Idle-Timeout = 600,
	Service-Type = Callback-Framed,
	Callback-Number = "5551234",
	Framed-Route = "192.168.70.0/24 0.0.0.0 1",
	Framed-Route += "192.168.71.0/24 10.0.0.12",
	Framed-Route += "192.168.72.0/24 0.0.0.0 1 2 -1 3 400",
	Framed-IPv6-Route = "2001:db8:70::/48 ::",
	Framed-Interface-Id = 0211:2233:4455:6677,
	Class = 0x0a0b0c,
	Class += 0xdeadbeef,
	MS-Primary-DNS-Server = 198.51.100.53,
	MS-Secondary-DNS-Server = 198.51.100.54
bob Cleartext-Password := "bpw"
USERS
)" || { not_ok "FreeRADIUS starts"; finish; }
"$DSCONF" user add erin epw >/dev/null

# Two calls in one daemon (persist): alice's accept grants an address,
# time-outs, an MRU and DNS servers; bob's grants nothing and gets the
# daemon's own values, back before his link's first LCP request. The
# caller's number reaches the server in every request.
: >$R/acct/detail
out=$(sim --port 0 --cycles 2 --user alice --password apw --user bob --password bpw --remote-number 5550100 \
      --mru 1500 --maxconnect 7200 --idle 900 --ms-dns 192.0.2.1 --ms-dns 192.0.2.2)
options=$(grep '"event":"options"' <<<"$out")
expect_contains "alice is offered the DNS servers RADIUS chose" "$(head -1 <<<"$options")" \
    '"dns1":"198.51.100.53","dns2":"198.51.100.54"'
expect_contains "...with the rest of her grant" "$(head -1 <<<"$options")" \
    '"idle_time_limit":600,"maxconnect":3600,"mru":1400,"neg_mru":1,"neg_vj":1,"peer":"10.0.0.12","peer_interface_id":"::211:2233:4455:6677"'
expect_contains "bob, without attributes, gets the daemon's own values" "$(tail -1 <<<"$options")" \
    '"dns1":"192.0.2.1","dns2":"192.0.2.2","event":"options","idle_time_limit":900,"maxconnect":7200,"mru":1500,"neg_mru":1,"neg_vj":0,"peer":"10.0.0.2","peer_interface_id":"::"'
expect_eq "...and his link's LCP request already asks for the daemon's MRU" \
    "$(grep -o '"event":"lcp-request","mru":[0-9]*' <<<"$out" | tr '\n' ' ')" \
    '"event":"lcp-request","mru":1500 "event":"lcp-request","mru":1500 '
sleep 0.3
expect_contains "Calling-Station-Id in the Access-Request" "$(auth_detail | awk -v RS= '/User-Name = "alice"/' | tail -n +1)" \
    'Calling-Station-Id = "5550100"'
for type in Start Stop; do
    expect_contains "Calling-Station-Id in the $type" "$(detail | awk -v RS= "/Status-Type = $type/ && /alice/")" \
        'Calling-Station-Id = "5550100"'
done

out=$(sim --port 0 --user $'mallory\npam_dsradius: root accepted\e[8m' --password x)
expect_contains "the module logs a peer's control characters escaped" "$out" \
    'pam_dsradius: mallory\\012pam_dsradius: root accepted\\033[8m refused by the RADIUS server'
expect_lacks "...never as they are" "$(grep '"event":"log"' <<<"$out")" '\u001b'


out=$(sim --port 0 --tun --ipv6 --callback --user alice --password apw --bytes-in 3000000000 \
      --bytes-out 5000 --pkts-in 30 --pkts-out 40 --connect-time 77 \
      --while-up 'echo ==v4; ip route; echo ==v6; ip -6 route; echo ==end')
expect_contains "PAP accepted by FreeRADIUS" "$out" '"event":"pap","message":"Success","result":1'
expect_contains "callback to the number RADIUS gave" "$out" '"allowed":10,"event":"cbcp","number":"5551234"'
routes=$(sed -n '/^==v4/,/^==end/p' <<<"$out")
expect_contains "Framed-Route through the peer, with its metric" "$routes" "192.168.70.0/24 via 10.0.0.12 dev ppp0 metric 1"
expect_contains "second Framed-Route" "$routes" "192.168.71.0/24 via 10.0.0.12 dev ppp0"
expect_contains "a Framed-Route in RFC 2865's own form takes its first metric" "$routes" \
    "192.168.72.0/24 via 10.0.0.12 dev ppp0 metric 1"
expect_contains "FreeRADIUS's signed Accounting-Response is accepted" "$out" "accounting answered by 127.0.0.1"
expect_lacks "...and none is ignored" "$out" "ignoring"
expect_contains "Framed-IPv6-Route on-link" "$routes" "2001:db8:70::/48 dev ppp0"
sleep 0.3
start=$(detail | awk -v RS= '/Acct-Status-Type = Start/')
stop=$(detail | awk -v RS= '/Acct-Status-Type = Stop/')
start_id=$(grep -o 'Acct-Session-Id = "[0-9a-f]*"' <<<"$start")
expect_contains "accounting start recorded" "$start" "User-Name = \"alice\""
expect_contains "accounting start carries Class" "$start" "Class = 0x0a0b0c"
expect_eq "accounting stop matches the start's session" "$(grep -o 'Acct-Session-Id = "[0-9a-f]*"' <<<"$stop")" "$start_id"
expect_contains "octets above 2^31 arrive unsigned" "$stop" "Acct-Input-Octets = 3000000000"
expect_contains "output octets" "$stop" "Acct-Output-Octets = 5000"
expect_contains "session time" "$stop" "Acct-Session-Time = 77"
expect_contains "packets" "$stop" "Acct-Input-Packets = 30"
expect_contains "Class echoed at stop" "$stop" "Class = 0xdeadbeef"
expect_contains "authentic: RADIUS" "$stop" "Acct-Authentic = RADIUS"
expect_contains "NAS identity" "$stop" 'NAS-Identifier = "dsppp-test"'

out=$(sim --port 0 --user alice --password wrong)
expect_contains "PAP with a wrong password refused" "$out" '"event":"pap","message":"","result":0'

: >$R/acct/detail
out=$(sim --port 0 --auth chap --user bob --password bpw --rechallenges 2)
expect_eq "CHAP-MD5 accepted, re-challenges too" "$(grep -c '"event":"chap".*"result":1' <<<"$out")" "3"
sleep 0.3
expect_eq "one accounting start for the session" "$(detail | grep -c 'Acct-Status-Type = Start')" "1"
expect_eq "one accounting stop for the session" "$(detail | grep -c 'Acct-Status-Type = Stop')" "1"
expect_eq "...with the same session id" "$(detail | grep -o 'Acct-Session-Id = "[0-9a-f]*"' | sort -u | wc -l)" "1"
out=$(sim --port 0 --auth chap --user bob --password wrong)
expect_contains "CHAP with a wrong secret refused" "$out" '"result":0'

out=$(sim --port 0 --user erin --password epw)
expect_contains "PAP through the local database when RADIUS refuses" "$out" '"result":1,"user":"erin"'
out=$(sim --port 0 --auth chap --user erin --password epw)
expect_contains "CHAP through the ds_no_auth fallback" "$out" '"message":"Access granted","result":1'
# The local database can name the DNS servers too (module arguments).
sed -i "s#^auth     required   $LOCAL_MODULE\$#& ms-dns=198.51.100.7 ms-dns=198.51.100.8 ms-dns=bad#" /etc/pam.d/ppp
out=$(sim --port 0 --user erin --password epw)
expect_contains "pam_dslocal's ms-dns servers are offered" "$out" '"dns1":"198.51.100.7","dns2":"198.51.100.8"'
expect_contains "...and a third is refused with a line" "$out" 'pam_dslocal: argument \"ms-dns=bad\" is not one of at most two'

kill $(jobs -p) 2>/dev/null
finish
