#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Disconnect-Requests (RFC 5176) from FreeRADIUS's radclient and from a
# hostile sender, against dsdae and pppd-sim sessions: what ends, what the
# accounting server records, and everything that must not act.
source "$(dirname "$0")/lib.sh"
source "$SOURCE/tests/e2e/radius/server.sh"
start_freeradius "$(cat <<'USERS'
alice Cleartext-Password := "apw"
bob Cleartext-Password := "bpw"
USERS
)" || { not_ok "FreeRADIUS starts"; finish; }

DAE_SECRET=dae-secret-for-tests
printf '%s\n' "$DAE_SECRET" >$S/dae.secret
chmod 600 $S/dae.secret
cat >$S/dsdae.conf <<CONF
listen 127.0.0.1 port 3799
client 127.0.0.1 secret-file $S/dae.secret
nas-identifier dsppp-test
CONF
entries=/run/dsppp/sessions
"$DSDAE" -f -c $S/dsdae.conf 2>$S/dae.log &
dae=$!
wait_udp 3799 || not_ok "dsdae listens"

# After binding, dsdae is nobody with CAP_KILL and CAP_DAC_READ_SEARCH alone.
status=$(cat /proc/$dae/status)
expect_eq "dsdae runs as nobody" "$(awk '/^Uid:/ {print $2, $3, $4}' <<<"$status")" \
    "$(id -u nobody) $(id -u nobody) $(id -u nobody)"
expect_eq "...keeping CAP_KILL and CAP_DAC_READ_SEARCH alone" "$(awk '/^CapEff:/ {print $2}' <<<"$status")" \
    "0000000000000024"

# A persistent daemon (up to CYCLES links) whose links stay up until a signal.
# up N: returns once its Nth link is up.
start_port() { # CYCLES
    "$SIM" --plugin "$PLUGIN" --json --port 0 --cycles "$1" --user alice --password apw \
        --remote-number 5550100 --until-signal >$S/port.json &
    port=$!
}
up() { for _ in $(seq 200); do [ "$(grep -c '"event":"waiting"' $S/port.json)" -ge "$1" ] && return; sleep 0.05; done; }
ends() { grep -c '"event":"ip-down"' $S/port.json; }
# The registry's texts are hexadecimal.
unhex() { printf '%b' "$(sed 's/../\\x&/g' <<<"$1")"; }
hex() { od -An -tx1 <<<"$1" | tr -d ' \n' | sed 's/0a$//'; }
field() { unhex "$(awk -v k="$1" '$1 == k {print $2}' $entries/port-0)"; }
radclient_send() { # TYPE ATTRIBUTE-LIST
    printf '%s, Event-Timestamp = %s, Message-Authenticator = 0x00\n' "$2" "$(date +%s)" |
        radclient -r 1 -t 2 -x 127.0.0.1:3799 "$1" "$DAE_SECRET" 2>&1
}
reply_of() { grep -oE 'Received (Disconnect|CoA)-(ACK|NAK)|Error-Cause = [A-Za-z-]*' <<<"$1" | sed 's/^Received //' | tr '\n' ' '; }

# qemu-user fakes a process's own /proc entry: the daemon cannot register the
# start time the kernel gives everyone else, so no entry is ever live there.
if emulator_limit "ending live sessions" "qemu-user fakes a process's own /proc/PID/stat"; then
    live=no
else
    live=yes
fi

if [ $live = yes ]; then
    : >$R/acct/detail
    start_port 2
    up 1
    session=$(field session_id)
    before=$("$DSCONF" sessions 2>&1)
    out=$(radclient_send disconnect "Acct-Session-Id = \"$session\"")
    expect_eq "radclient: Disconnect-ACK for the session's Acct-Session-Id" "$(reply_of "$out")" "Disconnect-ACK "
    up 2
    expect_eq "...the link ended by SIGHUP, and (persist) the next call is answered" \
        "$(grep -o '"end":"[a-z]*"' $S/port.json | head -1)" '"end":"sighup"'
    sleep 0.3
    stop=$(detail | awk -v RS= -v s="$session" 'index($0, s) && /Status-Type = Stop/')
    expect_contains "...its Stop says Admin-Reset" "$stop" "Acct-Terminate-Cause = Admin-Reset"
    expect_eq "...and so does FreeRADIUS's radacct" \
        "$(radacct "SELECT acctterminatecause FROM radacct WHERE acctsessionid = '$session'")" "Admin-Reset"
    expect_eq "...the registry names the next call's session now" "$(field session_id | grep -c "$session")" "0"
    printf '%s\n' "radclient:" "$(grep -E 'Sent|Received|Error|Acct-Session' <<<"$out")" \
        "registry before:" "$before" "registry after:" "$("$DSCONF" sessions 2>&1)" \
        "Stop:" "$(grep -E 'Status-Type|Session-Id|Terminate' <<<"$stop")" | sed 's/^/# /'
    kill -TERM $port
    wait $port

    # Every identification attribute alone names the session; the link of
    # each row ends, the next one comes up for the next row.
    start_port 8
    n=1
    while IFS='|' read -r what attribute; do
        up $n
        attribute=${attribute//@SESSION@/$(field session_id)}
        attribute=${attribute//@PORTID@/$(field nas_port_id)}
        attribute=${attribute//@NASPORT@/$(awk '$1 == "nas_port" {print $2}' $entries/port-0)}
        out=$(radclient_send disconnect "$attribute")
        n=$((n + 1))
        up $n
        expect_eq "by $what: ACK, the link ended" "$(reply_of "$out")$(ends)" "Disconnect-ACK $((n - 1))"
    done <<'TABLE'
Acct-Session-Id|Acct-Session-Id = "@SESSION@"
User-Name|User-Name = "alice"
NAS-Port|NAS-Port = @NASPORT@
NAS-Port-Id|NAS-Port-Id = "@PORTID@"
Framed-IP-Address|Framed-IP-Address = 10.0.0.2
Calling-Station-Id|Calling-Station-Id = "5550100"
all of them and our NAS-Identifier|User-Name = "alice", NAS-Port = @NASPORT@, Calling-Station-Id = "5550100", NAS-Identifier = "dsppp-test"
TABLE
    ended=$(ends)
    out=$(radclient_send disconnect 'User-Name = "alice", Calling-Station-Id = "5550199"')
    expect_eq "one attribute that differs: NAK 503, nothing ends" "$(reply_of "$out")$(ends)" \
        "Disconnect-NAK Error-Cause = Session-Context-Not-Found $ended"
fi

# Refusals: what names no session of ours, and what this NAS does not do.
while IFS='|' read -r what type attribute want; do
    expect_eq "$what" "$(reply_of "$(radclient_send $type "$attribute")")" "$want"
done <<'TABLE'
an unknown session: NAK 503|disconnect|User-Name = "nobody-here"|Disconnect-NAK Error-Cause = Session-Context-Not-Found 
another NAS-Identifier: NAK 403|disconnect|User-Name = "alice", NAS-Identifier = "nas-b"|Disconnect-NAK Error-Cause = NAS-Identification-Mismatch 
no session named: NAK 402|disconnect|NAS-Identifier = "dsppp-test"|Disconnect-NAK Error-Cause = Missing-Attribute 
a CoA-Request: CoA-NAK 405|coa|User-Name = "alice", Session-Timeout = 60|CoA-NAK Error-Cause = Unsupported-Service 
TABLE

# Hostile requests and registry entries. A victim process stands for a port
# daemon: SIGHUP would end it. Its entry is planted as each row says.
sleep 300 &
victim=$!
victim_start=$(awk '{sub(/.*\) /, ""); print $20}' /proc/$victim/stat)
plant() { # OWNER MODE START-TIME [PID]
    mkdir -p $entries && chmod 700 $entries
    printf 'session_id %s\nuser %s\nnas_port 7\nnas_port_id %s\nframed_ip %s\ncalling_station_id \nifname %s\npid %s\nstart_time %s\nsince 1\n' \
        "$(hex victim)" "$(hex victim)" "$(hex /dev/ttyS7)" "$(hex 10.9.9.9)" "$(hex ppp7)" "${4:-$victim}" "$3" \
        >$entries/port-7
    chown "$1" $entries/port-7 && chmod "$2" $entries/port-7
}
send() { "$DAE_SEND" 127.0.0.1 3799 "$DAE_SECRET" "$@" user=victim; }
plant root 600 "$victim_start"
while IFS='|' read -r what options want; do
    # shellcheck disable=SC2086
    expect_eq "$what" "$(send $options | tr '\n' ' ')" "$want"
    expect_eq "...the victim still runs" "$(kill -0 $victim 2>&1 && echo alive)" "alive"
done <<'TABLE'
wrong secret: no answer|--sign-with wrong-secret|no answer 
no Message-Authenticator: no answer|--ma none|no answer 
a bad Message-Authenticator: no answer|--ma bad|no answer 
two Message-Authenticators: no answer|--ma two|no answer 
Event-Timestamp 310 s old: no answer|--stamp -310|no answer 
Event-Timestamp 310 s ahead: no answer|--stamp +310|no answer 
no Event-Timestamp: no answer|--stamp none|no answer 
a User-Password: NAK 401|password=x|Disconnect-NAK 401 
Proxy-State comes back, in order|--stamp +1 proxy=a proxy=b nas-id=nas-b|Disconnect-NAK 403 proxy=a proxy=b 
from an address not configured: no answer|--from 127.0.0.2|no answer 
TABLE
expect_contains "the drops are logged, naming why" "$(cat $S/dae.log)" "dropped: bad Message-Authenticator"
expect_contains "...and who sent what is no client's" "$(cat $S/dae.log)" "datagram from 127.0.0.2, not a client, dropped"

# The entry itself: root's private file naming the running victim is acted
# on (the check of the rows above); anything else is not.
while IFS='|' read -r what owner mode start id; do
    plant $owner $mode $start
    expect_eq "$what: NAK 503" "$(send --id $id)" "Disconnect-NAK 503"
    expect_eq "...the victim still runs" "$(kill -0 $victim 2>&1 && echo alive)" "alive"
done <<TABLE
an entry planted by another user|nobody|600|$victim_start|11
an entry others may read|root|644|$victim_start|12
the victim's pid, another start time (a reused pid)|root|600|$((victim_start + 1))|13
TABLE
expect_contains "...the planted entry is named in the log" "$(cat $S/dae.log)" "port-7 is not a private regular file of root's; ignored"

# An entry naming a thread of a running process (one of FreeRADIUS's
# workers), with its start time: no process descriptor opens for a thread,
# so nothing is signalled and the answer says the signal failed.
fr=$(pgrep -xo freeradius)
thread=$(ls /proc/$fr/task | grep -vxm1 "$fr")
plant root 600 "$(awk '{sub(/.*\) /, ""); print $20}' /proc/$fr/task/$thread/stat)" "$thread"
expect_eq "an entry naming a thread, not a process: NAK 506" "$(send --id 14)" "Disconnect-NAK 506"
expect_eq "...and FreeRADIUS still runs" "$(kill -0 $fr && echo alive)" "alive"

# A replay: the same datagram twice gets the same ACK; one signal only (the
# first ends the victim, so a second would find no session: NAK 503).
plant root 600 "$victim_start"
expect_eq "a repeated request: the same ACK twice" "$(send --id 9 --times 2 | tr '\n' ' ')" \
    "Disconnect-ACK Disconnect-ACK "
wait $victim
expect_eq "...the victim got one SIGHUP" "$?" "$((128 + 1))"
expect_contains "...the repeat is logged, nothing done" "$(cat $S/dae.log)" "a repeat; its reply sent again, nothing done"

# A flood of junk, half of it looking like Disconnect-Requests, from a
# client and from elsewhere: the daemon still answers, and logs once a minute.
before=$(grep -c 'dropped since the last' $S/dae.log)
"$DAE_SEND" 127.0.0.1 3799 "$DAE_SECRET" --from 127.0.0.3 --junk 20000 --times 0 user=x
out=$(send --junk 20000 --times 3)
expect_contains "after 40000 junk datagrams a valid request is answered" "$out" "Disconnect-NAK 503"
added=$(($(grep -c 'dropped since the last' $S/dae.log) - before))
if [ $added -le 3 ]; then ok "...the drops took $added log lines (at most one a minute for each reason)"
else not_ok "...the drops took $added log lines"; fi
expect_eq "...and dsdae still runs" "$(kill -0 $dae && echo alive)" "alive"

kill -HUP $dae
sleep 0.2
expect_eq "SIGHUP does not end dsdae (it could not bind again)" "$(kill -0 $dae && send --id 20)" "Disconnect-NAK 503"
kill -TERM $dae
wait $dae
expect_eq "SIGTERM stops dsdae" "$?" "0"
finish
