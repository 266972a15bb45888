#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Failover remembered across processes: each dial-in is a new daemon, and a
# server that did not answer is skipped by the next ones for its hold-down.
source "$(dirname "$0")/lib.sh"
source "$SOURCE/tests/e2e/radius/server.sh"
radius_stacks
SILENT=18250 GOOD=18251 STATE=/run/dsppp/radius-servers
start_fake $SILENT silent
start_fake $GOOD good
GOOD_PID=$!
conf() { # HOLD-DOWN: the silent server first, then the good one
    printf '%s\n' "server 127.0.0.1 auth-port $SILENT acct-port $SILENT secret-file $S/radius.secret timeout 2 retries 0" \
        "server 127.0.0.1 auth-port $GOOD acct-port $GOOD secret-file $S/radius.secret timeout 2 retries 0" \
        "hold-down $1" >$S/dsradius.conf
}
# dial: one dial-in in a new process; prints its milliseconds, keeps its transcript in $S/out.
dial() {
    local t0
    t0=$(date +%s%N)
    sim --port 0 --user alice --password apw --auth pap >$S/out
    echo $((($(date +%s%N) - t0) / 1000000))
}

conf 30
first=$(dial)
expect_contains "the first dial-in waits for the silent server" "$(cat $S/out)" "did not answer; skipped for 30 s"
expect_eq "...its 2 s" "$((first >= 2000))" "1"
for n in second third; do
    ms=$(dial)
    expect_eq "the $n dial-in skips it: under 0.5 s (took $ms ms)" "$((ms < 500))" "1"
    expect_lacks "...without asking it or logging it again" "$(cat $S/out)" "127.0.0.1 (udp port $SILENT)"
    expect_contains "...and is accepted" "$(cat $S/out)" '"result":1'
done
expect_eq "the state is root's and private" "$(stat -c '%U %a' /run/dsppp $STATE | tr '\n' ' ')" "root 700 root 600 "

# Every server marked: all are asked anyway, in order. Then the second
# answers again, and its mark goes at once.
rm -rf /run/dsppp
conf 30
replace_good() { kill $GOOD_PID && wait $GOOD_PID 2>/dev/null; start_fake $GOOD $1; GOOD_PID=$!; }
replace_good silent
dial >/dev/null
ms=$(dial)
expect_contains "every server marked: none is left out" "$(cat $S/out)" "no RADIUS server answered for alice"
expect_eq "...all were asked, in order, each for its own time-out (took $ms ms)" "$((ms >= 4000 && ms < 5500))" "1"
replace_good good
dial >/dev/null
expect_contains "a marked server that answers is no longer skipped" "$(cat $S/out)" "(udp port $GOOD) answered again"
ms=$(dial)
expect_eq "...the next dial-in goes straight to it (took $ms ms)" "$((ms < 500))" "1"

# Which server a transaction marks: only one whose own tries ended without a
# valid answer, never one that another server's answer or the overall
# deadline cut short. Each row: server A, server B (transport, address, port,
# timeout), directives, the result, and whether A and B are marked after
# one dial-in. Besides SILENT and GOOD: two servers answering after 1.5 s, a
# closed port, an unroutable address, and a TLS server whose certificate is
# not from our CA.
source "$SOURCE/tests/e2e/radius/certs.sh"
PKI=$S/pki LATE1=18252 LATE2=18253 CLOSED=18254 STRANGER=18255
make_certs $PKI
FAKE_DELAY_MS=1500 start_fake $LATE1 late
FAKE_DELAY_MS=1500 start_fake $LATE2 late
start_fake_tls $STRANGER $PKI/other-client
line() { # TRANSPORT ADDRESS PORT TIMEOUT
    if [ "$1" = tls ]; then
        echo "server $2 tls port $3 ca-file $PKI/ca.pem cert-file $PKI/client.pem key-file $PKI/client.key timeout $4 retries 0"
    else
        echo "server $2 auth-port $3 acct-port $3 secret-file $S/radius.secret timeout $4 retries 0"
    fi
}
marked() { grep -q "^$1 $2 $3 " $STATE 2>/dev/null && echo marked || echo clear; }
while IFS='|' read -r what a b extra result marks; do
    rm -rf /run/dsppp
    eval "a=($a) b=($b)"
    printf '%s\n' "$(line "${a[@]}")" "$(line "${b[@]}")" "hold-down 30" "$extra" >$S/dsradius.conf
    dial >/dev/null
    expect_contains "$what: result $result" "$(cat $S/out)" "\"result\":$result"
    expect_eq "$what: A and B" "$(marked "${a[@]:0:3}") $(marked "${b[@]:0:3}")" "$marks"
done <<'TABLE'
B cut short by A's late answer|udp 127.0.0.1 $LATE1 1|udp 127.0.0.1 $LATE2 2||1|clear clear
B cut short by total-timeout|udp 127.0.0.1 $SILENT 1|udp 127.0.0.1 $LATE2 5|total-timeout 2|0|marked clear
A refused the request (port closed)|udp 127.0.0.1 $CLOSED 1|udp 127.0.0.1 $GOOD 2||1|marked clear
A unreachable|udp 192.0.2.1 $GOOD 1|udp 127.0.0.1 $GOOD 2||1|marked clear
A failed the certificate check|tls 127.0.0.1 $STRANGER 2|udp 127.0.0.1 $GOOD 2||1|marked clear
TABLE
# The first row again, and a second dial-in: both servers are asked again
# and A's late answer is heard (had B been marked, only A would be asked, and
# its 1 s would end before its answer came).
rm -rf /run/dsppp
printf '%s\n' "$(line udp 127.0.0.1 $LATE1 1)" "$(line udp 127.0.0.1 $LATE2 2)" "hold-down 30" >$S/dsradius.conf
dial >/dev/null
dial >/dev/null
expect_contains "after B was cut short, the next dial-in still gets an answer" "$(cat $S/out)" '"result":1'

# Status-Server (RFC 5997): P is probed (status-server), B always answers;
# the device probes a server at most every 2 s. FAKE_LOG notes each packet P
# gets, with its code (12: Status-Server, 1: Access-Request).
P=18260 B=18261 P_PID=
start_fake $B good
start_p() { [ -z "$P_PID" ] || { kill $P_PID && wait $P_PID 2>/dev/null; }; FAKE_LOG=$S/p.log start_fake $P $1; P_PID=$!; }
probe_conf() { # HOLD-DOWN
    printf '%s\n' "server 127.0.0.1 auth-port $P acct-port $P secret-file $S/radius.secret timeout 1 retries 0 status-server" \
        "server 127.0.0.1 auth-port $B acct-port $B secret-file $S/radius.secret timeout 1 retries 0" \
        "hold-down $1" "status-interval 2" >$S/dsradius.conf
}
got() { grep -c "code=$1\$" $S/p.log; }
rm -rf /run/dsppp && : >$S/p.log
start_p silent
probe_conf 30
dial >/dev/null  # marks P (its accounting already probes it)
sleep 2.1
: >$S/p.log
ms=$(dial)
expect_eq "a marked, probed server is skipped; its probe holds the dial-in up 100 ms at most (took $ms ms)" \
    "$((ms < 700)):$(got 12)" "1:1"
dial >/dev/null
expect_eq "...and within the interval no process probes it again" "$(got 12)" "1"
start_p good
sleep 2.1
: >$S/p.log
ms=$(dial)
expect_contains "back: its answer to the probe clears the mark at once" "$(cat $S/out)" \
    "server 127.0.0.1 (udp port $P) answered a Status-Server probe; no longer skipped"
expect_eq "...without holding the dial-in up (took $ms ms), which B served" "$((ms < 700)):$(got 1)" "1:0"
dial >/dev/null
expect_eq "...and the next dial-in asks it again" "$(got 1)" "1"
# A probe never answered: the mark outlives the hold-down.
rm -rf /run/dsppp
start_p silent
probe_conf 1
dial >/dev/null
sleep 1.5
ms=$(dial)
expect_eq "hold-down 1, 1.5 s on: a probed server still silent is still skipped (took $ms ms)" "$((ms < 700))" "1"
# Forged answers: from another source port, the right bytes do not count.
start_p other-port
sleep 2.1
dial >/dev/null
expect_lacks "an answer from another source port clears nothing" "$(cat $S/out)" "answered a Status-Server probe"
# A server that answers requests but not Status-Server (probes off there)
# stays skipped while another server answers: turn the option on only for
# servers that answer probes. When every server is marked, all are asked,
# and its answer to the request clears its mark.
start_p no-status
sleep 2.1
: >$S/p.log
dial >/dev/null
expect_eq "probes unanswered: skipped, asked nothing but the probe" "$(got 12):$(got 1)" "1:0"
printf '%s\n' "udp 127.0.0.1 $B $(($(cut -d. -f1 /proc/uptime) + 1))" >>$STATE  # B marked (hold-down 1)
dial >/dev/null
expect_contains "every server marked: asked anyway, its answer clears its mark" "$(cat $S/out)" \
    "server 127.0.0.1 (udp port $P) answered again"

kill $(jobs -p) 2>/dev/null
finish
