#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The accounting records billing expects, against FreeRADIUS: why each call
# ended, Interim-Updates on the daemon's (virtual) clock, octets past 4 GiB.
source "$(dirname "$0")/lib.sh"
source "$SOURCE/tests/e2e/radius/server.sh"
start_freeradius "$(cat <<'USERS'
alice Cleartext-Password := "apw"
	Class = 0x0a0b
carol Cleartext-Password := "cpw"
	Acct-Interim-Interval = 120
USERS
)" || { not_ok "FreeRADIUS starts"; finish; }
"$DSCONF" user add erin epw >/dev/null
conf() { module_conf "server 127.0.0.1 auth-port $AUTH_PORT acct-port $ACCT_PORT secret-file $S/radius.secret timeout 1 retries 1" "$@"; }
# record USER TYPE: the last accounting record of that type for the user.
record() { detail | awk -v RS= -v u="User-Name = \"$1\"" -v t="Status-Type = $2" 'index($0, u) && index($0, t)' | tail -n 20; }

# One session of 150 virtual seconds, updates every 60: Start, two
# Interim-Updates, Stop. The input counter wraps between 100 s and 130 s.
conf "interim-interval 60"
out=$(sim --port 0 --user alice --password apw --up-for 150 --counters-at 0:0:0 \
      --counters-at 100:4000000000:1000 --counters-at 130:500000000:2000 --end idle --idle 300)
expect_contains "the link ran its 150 s" "$out" '"clock":150'
sleep 0.3
session=$(record alice Start | grep -o 'Acct-Session-Id = "[0-9a-f]*"')
expect_eq "two Interim-Updates, at 60 s and 120 s" \
    "$(detail | grep -A30 'User-Name = "alice"' | grep -c 'Acct-Status-Type = Interim-Update')" "2"
expect_eq "...each with the session's Acct-Session-Id" \
    "$(detail | awk -v RS= '/Interim-Update/ && /alice/' | grep -c "$session")" "2"
expect_contains "...the second with the counters at 120 s" "$(record alice Interim-Update)" "Acct-Input-Octets = 4000000000"
stop=$(record alice Stop)
expect_contains "the Stop counts past 4 GiB: one gigaword" "$stop" "Acct-Input-Gigawords = 1"
expect_contains "...and the octets beyond it" "$stop" "Acct-Input-Octets = 500000000"
expect_contains "...with why the call ended" "$stop" "Acct-Terminate-Cause = Idle-Timeout"
expect_contains "...and the Class" "$stop" "Class = 0x0a0b"
printf '%s\n' "$(record alice Start)" "" "$(record alice Interim-Update)" "" "$stop" |
    grep -E '^\S|Status-Type|Session-Id|Octets|Gigawords|Terminate|Session-Time' | sed 's/^/# /'

# What operators look at: FreeRADIUS's SQL accounting (radacct), its times
# from Event-Timestamp. The session above: one closed row, with its cause
# and the octets past 4 GiB (gigawords << 32 | octets).
columns="callingstationid, acctstoptime IS NULL, acctsessiontime, acctinputoctets, acctoutputoctets, acctterminatecause"
expect_eq "radacct: the Stop closed the row, with the cause and the octets past 4 GiB" \
    "$(radacct "SELECT $columns FROM radacct WHERE username = 'alice'")" " 0 150 4794967296 2000 Idle-Timeout"
expect_eq "...its times are the events' (Event-Timestamp)" \
    "$(radacct "SELECT acctstarttime IS NOT NULL AND acctstoptime >= acctstarttime FROM radacct WHERE username = 'alice'")" "1"
# A daemon killed with SIGKILL after an Interim-Update (no Stop can come):
# its row stays open, with the caller's number and the update's counters,
# until the device's `dsacct on` at boot closes it.
sim --port 0 --user carol --password cpw --remote-number 5550100 --up-for 70 --counters-at 50:3000:4000 \
    --while-up "sqlite3 -separator ' ' $R/sql/radacct.db \"SELECT $columns FROM radacct WHERE username = 'carol'\" >$S/row; kill -9 \$PPID" >/dev/null
open_row=$(radacct "SELECT $columns FROM radacct WHERE username = 'carol'")
# The session registry (dsconf sessions): the killed daemon's entry stays,
# stale. Entries another user could have planted, or whose pid another
# process now has, are never taken for live.
entries=/run/dsppp/sessions
listed=$("$DSCONF" sessions 2>&1)
expect_contains "registry: the killed daemon's entry is there, stale" "$(grep '^port-0' <<<"$listed")" "carol"
expect_eq "...stale" "$(grep -c '^port-0 .* stale$' <<<"$listed")" "1"
sed "s/^pid .*/pid $$/" $entries/port-0 >$entries/port-7 && chmod 600 $entries/port-7
cp -p $entries/port-0 $entries/port-5 && chown nobody $entries/port-5
cp -p $entries/port-0 $entries/port-6 && chmod 644 $entries/port-6
listed=$("$DSCONF" sessions 2>&1)
expect_eq "an entry whose pid another process now has is stale" "$(grep -c '^port-7 .* stale$' <<<"$listed")" "1"
expect_contains "an entry of another user's is left out, and said" "$listed" "port-5 is not a private regular file of root's; left out"
expect_contains "...so is one others may read" "$listed" "port-6 is not a private regular file of root's; left out"
"$DSCONF" sessions >/dev/null 2>&1
expect_eq "...and the listing ends non-zero" "$?" "1"
printf '%s\n' "$listed" | sed 's/^/# /'
rm -f $entries/port-[567]
expect_eq "radacct: after Start and an Interim-Update, one open row with the caller's number and counters" \
    "$(cat $S/row)" "5550100 1 60 3000 4000 "
expect_eq "...still open after the daemon was killed" "$open_row" "5550100 1 60 3000 4000 "
out=$("$DSACCT" -c $S/dsradius.conf on 2>&1)
expect_eq "dsacct on: acknowledged" "$?" "0"
expect_contains "...and said so" "$out" "Accounting-On acknowledged by 127.0.0.1"
closed_row=$(radacct "SELECT $columns FROM radacct WHERE username = 'carol'")
# (FreeRADIUS takes its session time from the Accounting-On's Event-Timestamp
# less the start's: a second or so here, on a virtual clock.)
expect_eq "...and the killed daemon's row is closed, the cause NAS-Reboot" \
    "$(radacct "SELECT callingstationid, acctstoptime IS NULL, acctinputoctets, acctoutputoctets, acctterminatecause FROM radacct WHERE username = 'carol'")" \
    "5550100 0 3000 4000 NAS-Reboot"
printf '# radacct, killed session: %s\n#   after dsacct on:        %s\n' "$open_row" "$closed_row"
sleep 0.2
on=$(detail | awk -v RS= '/Accounting-On/')
expect_contains "Accounting-On in the detail file, with its Event-Timestamp" "$on" "Event-Timestamp = "
expect_contains "...and the NAS's address, as the sessions' records have it" "$on" "NAS-IP-Address = 127.0.0.1"
out=$("$DSACCT" -c $S/dsradius.conf off 2>&1)
expect_eq "dsacct off: acknowledged" "$?:$(detail | grep -c 'Acct-Status-Type = Accounting-Off')" "0:1"

# While a link is up its entry names the session as the accounting server
# knows it; IP-down removes it (the port's next daemon replaced the stale one).
: >$R/acct/detail
conf
up=$(sim --port 0 --user alice --password apw --while-up "\"$DSCONF\" sessions" | grep '^port-0')
sleep 0.2
session=$(record alice Start | grep -o 'Acct-Session-Id = "[0-9a-f]*"' | cut -d'"' -f2)
expect_contains "registry: a link's entry while it is up, with its Acct-Session-Id, live" "$up" "alice            $session 10.0.0.2"
# qemu-user answers a process's reads of its own /proc entry itself, without
# the start time the kernel gives everyone else.
emulator_limit "a live registry entry" "qemu-user fakes a process's own /proc/PID/stat" ||
    expect_eq "...live" "$(grep -c ' live$' <<<"$up")" "1"
expect_eq "...and IP-down removed it" "$(ls $entries)" ""

# A link up until a signal, as pppd 2.4.2 ends it: SIGHUP ends the link and
# (persist) the next one starts; SIGTERM ends the link and the daemon.
: >$R/acct/detail
"$SIM" --plugin "$PLUGIN" --json --port 0 --cycles 3 --user alice --password apw --until-signal >$S/signalled &
daemon=$!
waiting() { for _ in $(seq 100); do [ "$(grep -c '"event":"waiting"' $S/signalled)" -ge "$1" ] && return; sleep 0.05; done; }
waiting 1 && kill -HUP $daemon
waiting 2 && kill -TERM $daemon
wait $daemon
expect_eq "SIGHUP ends the link, the next starts; SIGTERM ends it and the run" \
    "$(grep -o '"end":"[a-z]*"' $S/signalled | tr '\n' ' ')" '"end":"sighup" "end":"sigterm" '
sleep 0.2
expect_eq "...each Stop says Admin-Reset" "$(detail | grep -c 'Acct-Terminate-Cause = Admin-Reset')" "2"

# Which interval: ours over the Access-Accept's, at least 60 s.
while IFS='|' read -r what user password setting updates; do
    conf "$setting"
    : >$R/acct/detail
    sim --port 0 --user $user --password $password --up-for 200 >/dev/null
    sleep 0.2
    expect_eq "$what: $updates updates in 200 s" "$(detail | grep -c 'Interim-Update')" "$updates"
done <<'TABLE'
none configured, none in the Accept|alice|apw||0
the Accept's 120 s|carol|cpw||1
ours, 90 s, over the Accept's|carol|cpw|interim-interval 90|2
30 s configured is 60 s|alice|apw|interim-interval 30|3
TABLE

# pam_dslocal first: its setcred answers the refresh, so no update is sent;
# the session still starts and stops.
cat >/etc/pam.d/ppp <<PAM
auth     sufficient $LOCAL_MODULE
auth     required   $RADIUS_MODULE conf=$S/dsradius.conf
account  required   $RADIUS_MODULE conf=$S/dsradius.conf
session  required   $RADIUS_MODULE conf=$S/dsradius.conf
PAM
conf "interim-interval 60"
: >$R/acct/detail
out=$(sim --port 0 --user erin --password epw --up-for 200)
sleep 0.2
expect_contains "pam_dslocal first: the link is up and down" "$out" '"event":"ip-down"'
expect_eq "...no Interim-Update" "$(detail | grep -c 'Interim-Update')" "0"
expect_eq "...Start and Stop as ever" "$(detail | grep -cE 'Status-Type = (Start|Stop)')" "2"
radius_stacks

# A silent accounting server: a tick holds the daemon's loop for one try to
# one server at most (timeout 1), not the whole exchange (2 servers x 2 tries).
start_fake 18300 silent
module_conf "server 127.0.0.1 auth-port $AUTH_PORT acct-port 18300 secret-file $S/radius.secret timeout 1 retries 1" \
    "server 127.0.0.1 auth-port $AUTH_PORT acct-port 18300 secret-file $S/radius.secret timeout 1 retries 1" \
    "interim-interval 60"
out=$(sim --port 0 --user alice --password apw --up-for 130)
longest=$(grep -o '"longest_timer_ms":[0-9]*' <<<"$out" | cut -d: -f2)
echo "# longest tick with a silent accounting server: $longest ms"
expect_eq "a tick with a silent server holds the loop for one try (took $longest ms)" \
    "$((longest >= 900 && longest < 1500))" "1"

kill $(jobs -p) 2>/dev/null
finish
