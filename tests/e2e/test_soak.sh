#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Thousands of whole links in one process (authentication, re-challenges,
# callback, IP-up, IPv6-up, IP-down) under LeakSanitizer: no leak, no
# descriptor growth, flat memory.
source "$(dirname "$0")/lib.sh"
pam_stacks
pam_script "ppp.password pw" "ppp.put FRAMED_CALLBACK_ENABLED=1" "ppp.put LOGIN_CALLBACK_NUMBER=555" \
    "ppp.put FRAMED_ROUTE=1:10.9.0.0/16 0.0.0.0" "ppp.put FRAMED_IPV6_ROUTE=1:2001:db8:9::/48 ::" \
    "ppp.put CLASS_VX_ENCODED=1:0a0b" "ppp.put FRAMED_IP_ADDRESS=167772162"
unset DSTEST_RECORD
echo "nameserver 192.0.2.53" >/etc/ppp/resolv.conf0
cycles=${SOAK_CYCLES:-3000}
export ASAN_OPTIONS=quarantine_size_mb=0:detect_leaks=1
out=$("$SIM" --plugin "$PLUGIN" --json --quiet --port 0 --auth chap --user u --password pw --rechallenges 2 \
      --ipv6 --peer-id ::5 --callback --cycles "$cycles" 2>$S/stderr)
status=$?
expect_eq "$cycles links up and down, exit status" "$status" "0"
expect_lacks "no leak reported" "$(cat $S/stderr)" "LeakSanitizer"
expect_contains "no link refused" "$out" '"refused":0'
fds() { grep "\"when\":\"$1\"" <<<"$out" | grep -o '"fds":[0-9]*' | cut -d: -f2; }
rss() { grep "\"when\":\"$1\"" <<<"$out" | grep -o '"rss_kb":[0-9]*' | cut -d: -f2; }
expect_eq "open descriptors after the first link and after the last" "$(fds last)" "$(fds first)"
growth=$(($(rss last) - $(rss first)))
echo "# resident memory: $(rss first) kB after the first link, $(rss last) kB after $cycles"
expect_eq "resident memory grows by less than 8 MB" "$((growth < 8192))" "1"
finish
