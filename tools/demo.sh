#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# A whole simulated dial-in through the real dsppp.so, in a sandbox. Each
# dial-in's outcome is checked, so a demo that stops showing what it says
# ends with a non-zero status.
if [ "$(id -u)" != 0 ]; then
    echo "demo: needs root (it runs in private network and mount namespaces)" >&2
    exit 1
fi
source "$(dirname "$0")/../tests/e2e/lib.sh"
pam_stacks
sysctl -qw net.ipv6.conf.all.forwarding=1
sim() { "$SIM" --plugin "$PLUGIN" "$@"; }
say() { printf '\n=== %s\n' "$*"; }
DEMO_FAILURES=0
# Runs one dial-in (pppd-sim options after "--"), prints its transcript
# through FILTER, and checks its exit status and a text it must show.
#   dial STATUS 'must show' FILTER -- SIM-OPTIONS...
dial() {
    local want=$1 needle=$2 filter=$3 out status
    shift 4
    out=$(sim "$@")
    status=$?
    grep -E -- "$filter" <<<"$out"
    if [ "$status" != "$want" ] || ! grep -qF -- "$needle" <<<"$out"; then
        echo "!!! expected exit status $want and \"$needle\", got status $status" >&2
        DEMO_FAILURES=$((DEMO_FAILURES + 1))
    fi
}
ALL='.'

say "Device configuration (dsconf build; dsconf dump shows it back)"
"$DSCONF" build - <<'JSON'
{"hosts": [{"index": 1, "address": "10.0.0.12", "enabled": 1}],
 "routes": [{"index": 0, "type": 0, "destination": "192.168.10.0", "prefix_length": 120, "host": 1, "via_host": 1}],
 "ports": [{"index": 0, "ipv6_prefix": "2001:db8:1:2::", "ipv6_prefix_flag": 1,
            "dyndns": {"enabled": 1, "alias": "dialin.example.org", "user": "demo", "password": "demo-pw"}}],
 "local_users": [{"name": "erin", "password": "erin-pw"}],
 "port_services": ["port 0 route 192.168.50.0/24"]}
JSON
"$DSCONF" dump | head -12; echo "  ..."
printf 'nameserver 192.0.2.53\nnameserver 192.0.2.54\n' >/etc/ppp/resolv.conf0
echo "search example.net" >/etc/resolv.conf

say "PAP dial-in accepted by the PAM stack, with authorization and accounting"
pam_script "ppp.password secret" "ppp.put FRAMED_IP_ADDRESS=167772172" "ppp.put FRAMED_MTU=1400" \
    "ppp.put SESSION_TIMEOUT=3600" "ppp.put FRAMED_INTERFACE_ID=::211:2233:4455:6677" \
    "ppp.put ACCT_AUTHENTICD=1"
dial 0 '[pap] message=Success result=1' "$ALL" -- --port 0 --tun --ipv6 --user alice --password secret \
    --bytes-in 3000000000 --bytes-out 4096 --connect-time 120 --while-up 'echo "--- ip route:"; ip route; echo "--- ip -6 route:"; ip -6 route | grep 2001;
        echo "--- /etc/resolv.conf:"; cat /etc/resolv.conf; echo "--- /etc/ppp/dyndns.cfg0:"; cat /etc/ppp/dyndns.cfg0;
        echo "--- marker:"; ls /run/ppp-*.ipup'
echo "--- what the accounting stack saw:"
cut -f1,5- $S/record | grep -E '^(open|close)_session' | tr '\t' ' ' | cut -c1-220
echo "--- after IP-down: marker $(ls /run/ppp-*.ipup 2>/dev/null || echo removed); port route $(ip route | grep -q 192.168.50 && echo present || echo removed)"

say "PAP dial-in with a wrong password"
dial 1 '[pap] message= result=0' "$ALL" -- --port 0 --user alice --password guess

say "CHAP-MD5 dial-in, re-challenged twice while up"
pam_script "ppp.password secret"
dial 0 '[exit] refused=0' '^\[(chap|ip-up|ip-down|exit)' -- --port 0 --auth chap --user bob --password secret --rechallenges 2

say "CHAP-MD5 through the local user database fallback (ds_no_auth)"
pam_script "ppp.auth 7" "ppp.attempted_local 1"
dial 0 'message=Access granted result=1' '^\[(chap|exit)' -- --port 0 --auth chap --user erin --password erin-pw
dial 1 'result=0' '^\[(chap|exit)' -- --port 0 --auth chap --user erin --password wrong

say "The same dial-ins against a real FreeRADIUS (pam_dsradius, then pam_dslocal)"
source "$SOURCE/tests/e2e/radius/server.sh"
start_freeradius "$(cat <<'USERS'
alice Cleartext-Password := "secret"
	Framed-IP-Address = 10.0.0.12,
	Framed-MTU = 1400,
	Session-Timeout = 3600,
	Framed-Route = "192.168.70.0/24 0.0.0.0 1",
	Class = 0x0c1a55,
	MS-Primary-DNS-Server = 198.51.100.53,
	MS-Secondary-DNS-Server = 198.51.100.54
bob Cleartext-Password := "bob-pw"
USERS
)"
echo "--- PAP from caller 5550100, accepted by RADIUS, routes from Framed-Route, DNS servers offered (dns1, dns2):"
dial 0 '192.168.70.0/24 via 10.0.0.12 dev ppp0' '^\[(pap|options|ip-down)|192.168|answered' -- \
    --port 0 --tun --user alice --password secret --bytes-in 3000000000 --connect-time 42 \
    --remote-number 5550100 --ms-dns 192.0.2.1 --while-up 'ip route | grep 192.168.70'
echo "--- Two calls in one daemon (persist): bob, granted nothing, gets the daemon's own values back:"
dial 0 'dns1=192.0.2.1 dns2=192.0.2.2' '^\[(pap|lcp-request|options)' -- --port 0 --cycles 2 \
    --user alice --password secret --user bob --password bob-pw --mru 1500 --maxconnect 7200 \
    --ms-dns 192.0.2.1 --ms-dns 192.0.2.2
echo "--- PAP with a wrong password:"
dial 1 '[pap] message= result=0' '^\[pap' -- --port 0 --user alice --password guess
echo "--- CHAP-MD5, accepted by RADIUS:"
dial 0 '[chap] id=1 message= result=1' '^\[chap' -- --port 0 --auth chap --user alice --password secret
echo "--- CHAP-MD5 for a user only the local database knows (fallback through ds_no_auth):"
dial 0 'message=Access granted result=1' '^\[chap' -- --port 0 --auth chap --user erin --password erin-pw
echo "--- One session of 130 s on the daemon's (virtual) clock: Interim-Updates every 60 s, the input"
echo "    counter past 4 GiB after the update at 120 s, the link ended by the idle time-out:"
module_conf "server 127.0.0.1 auth-port $AUTH_PORT acct-port $ACCT_PORT secret-file $S/radius.secret timeout 1 retries 1" \
    "interim-interval 60"
dial 0 'clock=130' '^\[(pap|up-for|ip-down)' -- --port 0 --user alice --password secret --up-for 130 --idle 600 \
    --counters-at 0:0:0 --counters-at 100:4000000000:5000 --counters-at 125:700000000:9000 --end idle
sleep 0.3
session=$(detail | awk -v RS= '/Interim-Update/' | grep -o 'Acct-Session-Id = "[0-9a-f]*"' | head -1)
echo "--- FreeRADIUS's records of that session:"
one=$(detail | awk -v RS= -v id="$session" 'index($0, id)' |
      grep -E '^[A-Z]|Status-Type|Session-Id|Input-Octets|Input-Gigawords|Session-Time|Terminate-Cause')
echo "$one"
for want in 'Interim-Update' 'Acct-Input-Gigawords = 1' 'Acct-Terminate-Cause = Idle-Timeout'; do
    if ! grep -q "$want" <<<"$one"; then
        echo "!!! the session's records lack \"$want\"" >&2
        DEMO_FAILURES=$((DEMO_FAILURES + 1))
    fi
done
radius_stacks
sleep 0.3
echo "--- FreeRADIUS's accounting records:"
records=$(detail | grep -E 'Status-Type|Session-Id|User-Name|Calling-Station-Id|Input-Octets|Session-Time|Class')
echo "$records"
if ! grep -q 'Acct-Input-Octets = 3000000000' <<<"$records" || ! grep -q 'Calling-Station-Id = "5550100"' <<<"$records"; then
    echo "!!! FreeRADIUS recorded no stop with the link's counters, or no caller's number" >&2
    DEMO_FAILURES=$((DEMO_FAILURES + 1))
fi
echo "--- The same sessions in FreeRADIUS's SQL accounting (radacct), as an operator's database shows them:"
show_radacct() {
    sqlite3 -header -column $R/sql/radacct.db "SELECT username, callingstationid AS caller,
        time(acctstarttime, 'unixepoch') AS started, time(acctstoptime, 'unixepoch') AS stopped,
        acctinputoctets AS octets_in, acctterminatecause AS cause FROM radacct ORDER BY radacctid"
}
show_radacct
echo "--- While bob's link is up, the session registry (dsconf sessions) names its session:"
registry=$(sim --port 0 --user bob --password bob-pw --remote-number 5550199 --while-up "\"$DSCONF\" sessions" |
    grep -E '^(PORT|port-)')
echo "$registry"
if ! grep -q '^port-0 *bob .* live$' <<<"$registry"; then
    echo "!!! the registry did not show bob's link as live" >&2
    DEMO_FAILURES=$((DEMO_FAILURES + 1))
fi
echo "--- A daemon killed (SIGKILL) during bob's next call leaves his row open, and its registry entry stale:"
sim --port 0 --user bob --password bob-pw --remote-number 5550199 --while-up 'kill -9 $PPID' >/dev/null 2>&1
show_radacct | grep -E '^username|^bob'
"$DSCONF" sessions
echo "--- The device starts again: dsacct on (Accounting-On) closes it:"
"$DSACCT" -c $S/dsradius.conf on 2>&1
show_radacct | grep -E '^username|^bob'
if [ "$(radacct "SELECT acctterminatecause FROM radacct WHERE username = 'bob' ORDER BY radacctid DESC LIMIT 1")" != NAS-Reboot ]; then
    echo "!!! dsacct on did not close the killed daemon's session" >&2
    DEMO_FAILURES=$((DEMO_FAILURES + 1))
fi
echo "--- The RADIUS server ends bob's next call (a Disconnect-Request, RFC 5176, sent by radclient) through dsdae:"
printf '%s\n' dae-demo-secret-0123 >$S/dae.secret
chmod 600 $S/dae.secret
printf '%s\n' "listen 127.0.0.1" "client 127.0.0.1 secret-file $S/dae.secret" "nas-identifier dsppp-test" >$S/dsdae.conf
"$DSDAE" -f -c $S/dsdae.conf 2>$S/dsdae.log &
wait_udp 3799
"$SIM" --plugin "$PLUGIN" --json --port 0 --user bob --password bob-pw --remote-number 5550199 --until-signal \
    >$S/bob.json &
bob=$!
for _ in $(seq 200); do grep -q '"event":"waiting"' $S/bob.json && break; sleep 0.05; done
echo "registry before:"
"$DSCONF" sessions
session=$("$DSCONF" sessions | awk '$1 == "port-0" {print $3}')
request="Acct-Session-Id = \"$session\", Event-Timestamp = $(date +%s), Message-Authenticator = 0x00"
echo "radclient 127.0.0.1:3799 disconnect <<< '$request'"
answer=$(radclient -x 127.0.0.1:3799 disconnect dae-demo-secret-0123 <<<"$request" 2>&1)
grep -E '^(Sent|Received)' <<<"$answer"
wait $bob
echo "dsdae's log:"
grep -E 'Disconnect-Request' $S/dsdae.log | sed 's/^[^:]*: //'
sleep 0.3
stop=$(detail | awk -v RS= -v s="$session" 'index($0, s) && /Status-Type = Stop/')
echo "the Stop that followed:"
grep -E 'Status-Type|Session-Id|Terminate-Cause' <<<"$stop" | sort -u
show_radacct | sed -n '1p;$p'
echo "registry after:"
"$DSCONF" sessions
if ! grep -q 'Received Disconnect-ACK' <<<"$answer" || ! grep -q 'Acct-Terminate-Cause = Admin-Reset' <<<"$stop" ||
    grep -q '^port-0' <<<"$("$DSCONF" sessions)"; then
    echo "!!! the Disconnect-Request did not end bob's call as shown" >&2
    DEMO_FAILURES=$((DEMO_FAILURES + 1))
fi
kill $(jobs -p) 2>/dev/null
echo
if [ "$DEMO_FAILURES" -ne 0 ]; then
    echo "demo FAILED: $DEMO_FAILURES dial-ins did not end as shown" >&2
    exit 1
fi
echo "demo finished"
