#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Merging the port's name servers into /etc/resolv.conf at IP-up.
source "$(dirname "$0")/lib.sh"

out=$(sim --port 0 --auth none)
expect_contains "no per-port file: the no-nameservers message" "$out" \
    "ds_update_resolv(): PPP:  no nameservers to add to resolver file."
expect_eq "...and the system file is untouched" "$(cat /etc/resolv.conf)" ""

long=$(printf 'a%.0s' $(seq 200))
printf '%s\n' "# nameserver 10.9.9.9 in a comment" "nameserver 1.2.3" " 	nameserver,10.0.0.53 trailing" \
    "nameserver $long" "nameservers 10.0.0.54" "nameserver 10.0.0.53" $'nameserver 10.0.0.55\r' \
    "nameserver 10.0.0.56" "nameserver 10.0.0.57" >/etc/ppp/resolv.conf0
printf 'search example\nnameserver 10.0.0.54' >/etc/resolv.conf
out=$(sim --port 0 --auth none)
expected=$'search example\nnameserver 10.0.0.54\nnameserver 10.0.0.53\nnameserver 10.0.0.55\r\nnameserver 10.0.0.56'
expect_eq "new servers appended once each, after a newline the file lacked" "$(cat /etc/resolv.conf)" "$expected"
expect_contains "each addition is logged" "$out" "ds_update_resolv(): added nameserver: 10.0.0.53 to resolv.conf"
expect_lacks "a known server is not logged" "$out" "added nameserver: 10.0.0.54"
expect_lacks "the fifth server is not read" "$(cat /etc/resolv.conf)" "10.0.0.57"
expect_lacks "an overlong address is skipped, not cut" "$(cat /etc/resolv.conf)" "aaaa"

before=$(md5sum </etc/resolv.conf)
out=$(sim --port 0 --auth none)
expect_eq "every server already named: the file is unchanged" "$(md5sum </etc/resolv.conf)" "$before"
expect_lacks "...and nothing is logged" "$out" "added nameserver"

rm /etc/resolv.conf
echo "nameserver 192.0.2.99" >/etc/ppp/resolv.conf1
sim --port 1 --auth none >/dev/null
expect_eq "a missing system file is created" "$(cat /etc/resolv.conf)" "nameserver 192.0.2.99"

# Sixteen ports merging overlapping lists at once: each server named once.
: >/etc/resolv.conf
for port in $(seq 0 15); do
    printf 'nameserver 10.1.0.%d\nnameserver 10.1.0.%d\nnameserver 10.1.0.%d\nnameserver 10.2.0.%d\n' \
        $((port % 5)) $(((port + 1) % 5)) $(((port + 2) % 5)) $port >/etc/ppp/resolv.conf$port
done
for port in $(seq 0 15); do sim --port $port --auth none >/dev/null & done
wait
expect_eq "all 21 distinct servers present" "$(grep -c nameserver /etc/resolv.conf)" "21"
expect_eq "none twice" "$(sort /etc/resolv.conf | uniq -d | wc -l)" "0"

finish
