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
    "nameserver 10.0.0.56" "nameserver 10.0.0.58" "nameserver 10.0.0.57" >/etc/ppp/resolv.conf0
printf 'search example\nnameserver 10.0.0.54' >/etc/resolv.conf
out=$(sim --port 0 --auth none)
# A CR stays part of its token, which then is no address: skipped.
expected=$'search example\nnameserver 10.0.0.54\nnameserver 10.0.0.53\nnameserver 10.0.0.56\nnameserver 10.0.0.58'
expect_eq "new servers appended once each, after a newline the file lacked" "$(cat /etc/resolv.conf)" "$expected"
expect_contains "each addition is logged" "$out" "ds_update_resolv(): added nameserver: 10.0.0.53 to resolv.conf"
expect_lacks "a known server is not logged" "$out" "added nameserver: 10.0.0.54"
expect_lacks "the fifth server is not read" "$(cat /etc/resolv.conf)" "10.0.0.57"
expect_lacks "an overlong address is skipped, not cut" "$(cat /etc/resolv.conf)" "aaaa"
expect_lacks "an address with a CR is skipped" "$(cat /etc/resolv.conf)" "10.0.0.55"

before=$(md5sum </etc/resolv.conf)
out=$(sim --port 0 --auth none)
expect_eq "every server already named: the file is unchanged" "$(md5sum </etc/resolv.conf)" "$before"
expect_lacks "...and nothing is logged" "$out" "added nameserver"

rm /etc/resolv.conf
echo "nameserver 192.0.2.99" >/etc/ppp/resolv.conf1
sim --port 1 --auth none >/dev/null
expect_eq "a missing system file is created" "$(cat /etc/resolv.conf)" "nameserver 192.0.2.99"

# Tokens that are no numeric address never reach the resolver file; a scope
# suffix is part of an address.
printf '%s\n' "nameserver evil;rm" "nameserver 10.0.0.300" "nameserver fe80::1%ppp0" "nameserver bad.example" \
    >/etc/ppp/resolv.conf2
: >/etc/resolv.conf
sim --port 2 --auth none --tun >/dev/null
expect_eq "only numeric addresses are merged" "$(cat /etc/resolv.conf)" "nameserver fe80::1%ppp0"

# A FIFO planted as the port's file does not hang IP-up.
mkfifo /etc/ppp/resolv.conf3
out=$(timeout 10 "$SIM" --plugin "$PLUGIN" --json --port 3 --auth none)
expect_contains "a FIFO as the port's resolver file: the link comes up" "$out" '"status":0'
expect_contains "...and it is named" "$out" "resolv.conf3 is not a regular file, not used"
rm /etc/ppp/resolv.conf3

# A full file system: the failed append is logged, and the file is cut back
# to the whole lines it had. With 6 bytes left in its last page the disk
# takes "namese" of the first line, then refuses the rest: a short write.
mkdir -p $S/full && mount -t tmpfs -o size=8k tmpfs $S/full
head -c 4096 /dev/zero >$S/full/filler
while IFS='|' read -r what size; do
    { head -c $((size - 1)) /dev/zero | tr '\0' '#'; echo; } >$S/full/resolv.conf
    before=$(md5sum <$S/full/resolv.conf)
    mount --bind $S/full/resolv.conf /etc/resolv.conf
    printf 'nameserver 192.0.2.53\nnameserver 192.0.2.54\n' >/etc/ppp/resolv.conf4
    out=$(sim --port 4 --auth none)
    umount /etc/resolv.conf
    expect_contains "$what: logged" "$out" "ds_update_resolv(): writing /etc/resolv.conf failed: No space left on device"
    expect_eq "$what: the file holds what it held, no cut line" "$(md5sum <$S/full/resolv.conf)" "$before"
done <<'TABLE'
no room at all|4096
room for 6 bytes (a short write)|4090
TABLE

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
