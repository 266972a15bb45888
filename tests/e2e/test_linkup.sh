#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# IP-up and IPv6-up on a tun ppp0: static routes, port routes, the host route
# to the peer, radvd's reload, accounting and the clean-up at IP-down. Which
# store entries are skipped is the unit tests' part; here the kernel takes
# one route of each kind.
source "$(dirname "$0")/lib.sh"
pam_stacks
sysctl -qw net.ipv6.conf.all.forwarding=1

cat >$S/store.json <<'JSON'
{
  "hosts": [
    {"index": 1, "address": "10.0.0.2", "enabled": 1},
    {"index": 5, "address": "fe80::211:2233:4455:6677", "enabled": 1},
    {"index": 7, "address": "fe80::1", "enabled": 1}
  ],
  "routes": [
    {"index": 0, "type": 0, "destination": "192.168.10.0", "prefix_length": 120, "host": 1, "via_host": 1},
    {"index": 1, "type": 1, "destination": "192.168.11.7", "prefix_length": 128, "host": 1, "via_host": 1},
    {"index": 4, "type": 0, "destination": "172.16.0.0", "prefix_length": 97, "host": 1, "via_host": 1},
    {"index": 5, "type": 2, "destination": "0.0.0.0", "prefix_length": 0, "host": 1, "via_host": 1},
    {"index": 8, "type": 0, "destination": "2001:db8:8::", "prefix_length": 48, "host": 5, "via_host": 1},
    {"index": 9, "type": 2, "destination": "::", "prefix_length": 64, "host": 7, "via_host": 1}
  ],
  "ports": [{"index": 0, "ipv6_prefix": "2001:db8:1:2::1", "ipv6_prefix_flag": 1}],
  "port_services": ["port 0 route 192.168.50.0/24", "port 0 route 2001:db8:50::/48"]
}
JSON
"$DSCONF" build $S/store.json

cat >$S/radvd.conf <<'CONF'
interface ppp0 { IgnoreIfMissing on; AdvSendAdvert on; prefix 2001:db8:1:2::/64 { }; };
CONF
radvd -n -C $S/radvd.conf -p /run/radvd.pid -m logfile -l $S/radvd.log -d 1 &
for _ in $(seq 50); do [ -s /run/radvd.pid ] && break; sleep 0.05; done

pam_script "ppp.password pw" "ppp.put ACCT_AUTHENTICD=1" \
    "ppp.put FRAMED_ROUTE=3:192.168.60.0/24 0.0.0.0,192.168.61.0/24 10.0.0.2 7,bogus route" \
    "ppp.put FRAMED_IPV6_ROUTE=1:2001:db8:60::/48 ::"
show='echo ==v4; ip route; echo ==v6; ip -6 route; echo ==marker; cat /run/ppp-sim.ipup'
out=$(sim --port 0 --tun --ipv6 --local-id ::1 --peer-id ::211:2233:4455:6677 --user u --password pw \
      --bytes-in 3000000000 --bytes-out 12345 --pkts-in 10 --pkts-out 20 --connect-time 77 \
      --while-up "$show")
v4=$(sed -n '/^==v4/,/^==v6/p' <<<"$out")
v6=$(sed -n '/^==v6/,/^==marker/p' <<<"$out")
expect_contains "per-user route with gateway 0.0.0.0 goes through the peer" "$v4" "192.168.60.0/24 via 10.0.0.2 dev ppp0"
expect_contains "per-user route with its metric" "$v4" "192.168.61.0/24 via 10.0.0.2 dev ppp0 metric 7"
expect_contains "a malformed per-user route is named in the log" "$out" 'malformed Framed-Route \"bogus route\", skipped'
expect_contains "per-user IPv6 route on-link" "$v6" "2001:db8:60::/48 dev ppp0"
expect_contains "type 0 route through the peer" "$v4" "192.168.10.0/24 via 10.0.0.2 dev ppp0"
expect_contains "type 1 host route (prefix 128)" "$v4" "192.168.11.7 via 10.0.0.2 dev ppp0"
expect_contains "prefix 97 is a /1" "$v4" "128.0.0.0/1 via 10.0.0.2 dev ppp0"
expect_contains "type 2 is the default route" "$v4" "default via 10.0.0.2 dev ppp0"
expect_contains "IPv6 route whose gateway ends in the peer's identifier" "$v6" "2001:db8:8::/48 via fe80::211:2233:4455:6677 dev ppp0"
expect_contains "IPv6 default route through a gateway ending in our identifier" "$v6" "default via fe80::1 dev ppp0"
expect_contains "the port's IPv4 route" "$v4" "192.168.50.0/24 dev ppp0"
expect_contains "the port's IPv6 route" "$v6" "2001:db8:50::/48 dev ppp0"
# qemu-user converts every SIOCADDRT argument as the IPv4 struct rtentry (it
# follows that struct's rt_dev pointer): the IPv6 in6_rtmsg arrives mangled.
V6_HOST_ROUTE_LIMIT="qemu-user translates SIOCADDRT only as the IPv4 struct rtentry"
emulator_limit "the IPv6 host route to the peer" "$V6_HOST_ROUTE_LIMIT" ||
    expect_contains "host route to the peer on the port's prefix" "$v6" \
        "2001:db8:1:2:211:2233:4455:6677 dev ppp0 metric 1"
expect_contains "marker file while IP is up" "$out" $'==marker\nok'
expect_eq "marker file removed at IP-down" "$(ls /run/ppp-sim.ipup 2>&1 >/dev/null | grep -c 'No such')" "1"
expect_contains "radvd was told to reload" "$(cat $S/radvd.log)" "attempting to reread config file"

# IP-down twice: the port route is removed and nothing breaks.
out=$(sim --port 0 --auth none --tun --ip-down-count 2 --while-up 'ip route')
expect_lacks "removing routes that are already gone is not an error" "$out" "route delete"
expect_contains "port route installed for a link without authentication" "$out" "192.168.50.0/24 dev ppp0"
expect_eq "two IP-downs both complete" "$(grep -c '"event":"ip-down"' <<<"$out")" "2"
expect_lacks "the port route is gone after IP-down" "$(ip route)" "192.168.50.0"

# radvd pid files that name no process are never signalled.
kill "$(cat /run/radvd.pid)"
setsid sleep 60 &
victim=$!
for bad in "0" "-$victim" "garbage"; do
    echo "$bad" >/run/radvd.pid
    sim --port 0 --auth none --tun --ipv6 --peer-id ::5 >/dev/null
done
sleep 0.2
expect_eq "a negative pid in radvd.pid signals no process group" "$(kill -0 $victim 2>&1 && echo alive)" "alive"
# A stale pid file: the id now belongs to another process (here a sleep; on a
# device, another port's daemon, which SIGHUP would hang up).
echo $victim >/run/radvd.pid
out=$(sim --port 0 --auth none --tun --ipv6 --peer-id ::5)
sleep 0.2
expect_eq "a pid that is not radvd's is not signalled" "$(kill -0 $victim 2>&1 && echo alive)" "alive"
expect_contains "...and that is said" "$out" "/var/run/radvd.pid names process $victim, which is not radvd; not signalled"
rm /run/radvd.pid
out=$(sim --port 0 --auth none --tun --ipv6 --peer-id ::6)
expect_lacks "no radvd: no message" "$out" "radvd"

# The route already present: SIOCADDRT fails with a message, and radvd still gets its signal.
radvd -n -C $S/radvd.conf -p /run/radvd.pid -m logfile -l $S/radvd2.log -d 1 &
for _ in $(seq 50); do [ -s /run/radvd.pid ] && break; sleep 0.05; done
out=$(sim --port 0 --auth none --tun --ipv6 --peer-id ::7 \
      --while-up "$SIM --plugin $PLUGIN --json --port 0 --auth none --ipv6 --peer-id ::7 --ifname ppp0")
emulator_limit "a second identical IPv6 host route" "$V6_HOST_ROUTE_LIMIT" ||
    expect_contains "a second identical host route is reported" "$out" "ds_ipv6_up(): ioctl(SIOCADDRT): File exists"
expect_eq "radvd reloaded for both link-ups" "$(grep -c 'attempting to reread' $S/radvd2.log)" "2"
kill "$(cat /run/radvd.pid)" $victim 2>/dev/null

finish
