#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The dynamic-DNS client launch at IP-up: input files, SSL files, modes,
# links at the paths, refusals, and the child killed at IP-down.
source "$(dirname "$0")/lib.sh"

"$DSCONF" build - <<'JSON'
{"ports": [{"index": 0, "dyndns": {"enabled": 1, "alias": "host.example.org", "user": "dsuser",
                                    "password": "dspw"}}],
 "ssl_list_entry": "/etc/extra.pem"}
JSON
wait_for_client='for i in $(seq 100); do [ -s '$S'/inadyn.args ] && break; sleep 0.02; done'
link_up() { rm -f $S/inadyn.args; sim --port 0 --auth none --while-up "$wait_for_client" >$S/out; }

ln -s $S/target /etc/ppp/dyndns.cfg0
echo keep >$S/target
link_up
expected='--alias host.example.org
--username dsuser
--password dspw
--iterations 10
--wildcard NO
--oneshot YES
--dyndns_system dyndns@dyndns.org
--dyndns_server_name members.dyndns.org:80
--dyndns_server_url /nic/update?
--ip_server_name checkip.dyndns.org:80 /
--stats_filename /etc/ppp/dyndns.stats0'
expect_eq "input file for a plain connection" "$(cat /etc/ppp/dyndns.cfg0)" "$expected"
expect_eq "the client is started on it" "$(cat $S/inadyn.args)" "--input_file /etc/ppp/dyndns.cfg0"
expect_eq "a link at the path is replaced, not written through" "$(cat $S/target)" "keep"
expect_eq "the input file is a private regular file" "$(stat -c '%F %a' /etc/ppp/dyndns.cfg0)" "regular file 600"
expect_eq "no SSL files without secure mode" "$(ls /etc/ppp | grep -c ssl)" "0"
sleep 0.1
expect_eq "the client is killed at IP-down" "$(pgrep -fc 'sleep 30')" "0"

"$DSCONF" set dyndns.connection 1 >/dev/null
"$DSCONF" set dyndns.system 1 >/dev/null
"$DSCONF" set dyndns.wildcard 2 >/dev/null
link_up
cfg=$(cat /etc/ppp/dyndns.cfg0)
expect_contains "connection 1: update server on 8245" "$cfg" "--dyndns_server_name members.dyndns.org:8245"
expect_contains "connection 1: address check on 8245" "$cfg" "--ip_server_name checkip.dyndns.org:8245 /"
expect_contains "system 1: static DNS" "$cfg" "--dyndns_system statdns@dyndns.org"
expect_contains "wildcard 2 is YES" "$cfg" "--wildcard YES"

"$DSCONF" set dyndns.connection 2 >/dev/null
link_up
expect_lacks "secure mode without SSL settings starts no client" "$(cat $S/inadyn.args 2>/dev/null)" "input_file"
expect_eq "...and leaves lines 1 to 11" "$(wc -l </etc/ppp/dyndns.cfg0)" "11"
expect_eq "...and no SSL file" "$(ls /etc/ppp | grep -c ssl)" "0"

"$DSCONF" set dyndns_ssl.verify_peer 1 >/dev/null
"$DSCONF" set dyndns.system 2 >/dev/null
link_up
cfg=$(cat /etc/ppp/dyndns.cfg0)
expect_contains "connection 2: update server on 443" "$cfg" "--dyndns_server_name members.dyndns.org:443"
expect_contains "connection 2: address check stays on 80" "$cfg" "--ip_server_name checkip.dyndns.org:80 /"
expect_contains "system 2: custom DNS" "$cfg" "--dyndns_system custom@dyndns.org"
expect_eq "the input file ends with the SSL line, no newline" "$(tail -c 40 /etc/ppp/dyndns.cfg0)" \
    "--ssl_cfg_filenames /etc/ppp/dyndns.ssl0"
expect_eq "SSL file list" "$(cat /etc/ppp/dyndns.ssl0)" "/etc/ppp/dyndns.sslopt0
/etc/https_cert.pem
/etc/https_key.pem
/etc/ssl_dsa_cert.pem
/etc/ssl_dsa_key
/etc/ldap_cacert.pem
/etc/extra.pem"
expect_eq "SSL options block: 551 bytes" "$(stat -c %s /etc/ppp/dyndns.sslopt0)" "551"
expect_eq "SSL options block starts enabled, then verify_peer" "$(od -An -tu1 -N2 /etc/ppp/dyndns.sslopt0 | tr -s ' ')" " 1 1"
expect_eq "SSL files are private" "$(stat -c %a /etc/ppp/dyndns.ssl0 /etc/ppp/dyndns.sslopt0 | tr '\n' ' ')" "600 600 "

# Full file systems: one page leaves the SSL options block short; two pages
# leave the input file unfinished. Neither starts a client.
mount -t tmpfs -o size=4k tmpfs /etc/ppp
link_up
expect_eq "a short SSL options block starts no client" "$(cat $S/inadyn.args 2>/dev/null)" ""
expect_eq "...and the block on disk is short" "$(($(stat -c %s /etc/ppp/dyndns.sslopt0) < 551))" "1"
umount /etc/ppp
mount -t tmpfs -o size=8k tmpfs /etc/ppp
link_up
expect_eq "an input file that cannot be finished starts no client" "$(cat $S/inadyn.args 2>/dev/null)" ""
umount /etc/ppp

# A control character in a field would inject options: refused, nothing written.
rm -f /etc/ppp/dyndns.*
printf 'pw\n--x' | dd of=$DSDEVICE_DIR/store.img bs=1 seek=$((64533 + 826)) conv=notrunc status=none
link_up
expect_contains "a line break in the password is refused with the field named" "$(cat $S/out)" \
    "dyndns_password holds a control character"
expect_lacks "...without its value" "$(cat $S/out)" "--x"
expect_eq "...and no file is written" "$(ls /etc/ppp | grep -c dyndns)" "0"

# A path that cannot be created: no client, and the next link-up tries again.
"$DSCONF" set ports.0.dyndns.password dspw >/dev/null
"$DSCONF" set dyndns.connection 0 >/dev/null
mkdir -p /etc/ppp/dyndns.cfg0/blocked
link_up
expect_eq "an uncreatable input file starts no client" "$(cat $S/inadyn.args 2>/dev/null)" ""
rm -r /etc/ppp/dyndns.cfg0
link_up
expect_eq "the next link-up starts it" "$(cat $S/inadyn.args)" "--input_file /etc/ppp/dyndns.cfg0"

# The client gets nothing of the daemon: exactly descriptors 0-2, not the
# serial line the daemon keeps open (inheritably, at whatever number), no
# blocked or ignored signal. A compiled stand-in looks (a shell would hold
# descriptors of its own); it exits at once, and the daemon reaps it.
export DYNDNS_STANDIN_RECORD=$S/inadyn
if emulator_limit "the client's descriptors and signals" "without binfmt_misc the kernel cannot exec a program of the target"; then
    printf '#!/bin/sh\necho "$*" >>%s/inadyn.args\necho $$ >%s/inadyn.pid\n' $S $S >$S/bin/inadyn
else
    cp "$BUILD/tests/dyndns-standin" $S/bin/inadyn
    : >$S/ttyS0
    rm -f $S/inadyn.args
    sim --port 0 --auth none --devnam $S/ttyS0 --while-up "$wait_for_client" >/dev/null
    expect_eq "the client gets exactly descriptors 0-2" "$(cat $S/inadyn.fds | tr '\n' ' ')" "0 1 2 "
    expect_eq "...and no blocked or ignored signal" "$(cat $S/inadyn.signals)" \
        $'SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000'
fi

# The daemon reaps the client once it exits and its number goes to another
# process; IP-down must not kill that one. The while-up command waits for the
# reaping, then starts a process on the client's old number (ns_last_pid, in
# this sandbox's own PID namespace).
rm -f $S/inadyn.args $S/inadyn.pid $S/victim.pid
take_its_pid='pid=$(cat '$S'/inadyn.pid); for i in $(seq 300); do [ -e /proc/$pid ] || break; sleep 0.01; done;
    echo $((pid - 1)) >/proc/sys/kernel/ns_last_pid; sleep 60 </dev/null >/dev/null 2>&1 & echo $! >'$S'/victim.pid'
out=$(sim --port 0 --auth none --reap --while-up "$wait_for_client; for i in \$(seq 100); do [ -s $S/inadyn.pid ] && break; sleep 0.02; done; $take_its_pid")
victim=$(cat $S/victim.pid)
expect_eq "the process on the client's old number is the one tested" "$victim" "$(cat $S/inadyn.pid)"
sleep 0.2
expect_eq "IP-down does not kill a process that took the client's number" \
    "$(kill -0 "$victim" 2>/dev/null && echo alive)" "alive"
kill "$victim" 2>/dev/null

"$DSCONF" set ports.0.dyndns.enabled 0 >/dev/null
rm -f /etc/ppp/dyndns.*
link_up
expect_eq "dynamic DNS off: no file at all" "$(ls /etc/ppp | grep -c dyndns)" "0"

finish
