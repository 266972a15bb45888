#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Hostile and broken input at every place the plug-in reads or writes; each
# case must end in a clear result with nothing lost or half-written.
source "$(dirname "$0")/lib.sh"
pam_stacks
pam_script "ppp.password pw"

# The resolver file: a 1 MiB line, then a usable one.
{ printf 'nameserver '; head -c 1048576 /dev/zero | tr '\0' 'x'; printf '\nnameserver 192.0.2.7\n'; } >/etc/ppp/resolv.conf0
out=$(sim --port 0 --auth none)
expect_eq "a 1 MiB resolver line is skipped, the next one used" "$(cat /etc/resolv.conf)" "nameserver 192.0.2.7"
expect_contains "...and the daemon came through" "$out" '"status":0'

# The system resolver file is a directory: nothing written, nothing broken.
rm /etc/resolv.conf && mkdir /etc/resolv.conf
out=$(sim --port 0 --auth none)
expect_contains "resolv.conf as a directory: the link still comes up" "$out" '"status":0'
rmdir /etc/resolv.conf && : >/etc/resolv.conf

# Read-only /etc/ppp and resolver file: the dynamic-DNS files cannot be made,
# the merge cannot append, and the link is still served.
"$DSCONF" set ports.0.dyndns.enabled 1 >/dev/null
mount -o remount,ro /etc/ppp
mount --bind -o ro /etc/resolv.conf /etc/resolv.conf 2>/dev/null || mount --bind /etc/resolv.conf /etc/resolv.conf
mount -o remount,bind,ro /etc/resolv.conf
out=$(sim --port 0 --user u --password pw)
expect_contains "read-only /etc: the peer is still authenticated" "$out" '"event":"pap","message":"Success","result":1'
expect_contains "...and the link comes up" "$out" '"status":0'
expect_eq "...without a dynamic-DNS client" "$(cat $S/inadyn.args 2>/dev/null)" ""
expect_eq "...and the resolver file is unchanged" "$(cat /etc/resolv.conf)" ""
umount /etc/resolv.conf
mount -o remount,rw /etc/ppp
"$DSCONF" set ports.0.dyndns.enabled 0 >/dev/null

# The marker file: a symbolic link at its path is not written through; a
# directory there is left alone.
echo "precious" >$S/target
ln -s $S/target /run/ppp-hostile.ipup
out=$(sim --port 0 --auth none --linkname hostile)
expect_eq "a link at the marker path is not written through" "$(cat $S/target)" "precious"
expect_contains "...and is named in the log" "$out" "ppp-hostile.ipup is a symbolic link, not written"
expect_eq "IP-down removes the planted link itself, not its target" "$(ls /run/ppp-hostile.ipup 2>/dev/null; cat $S/target)" "precious"
mkdir /run/ppp-hostile.ipup
out=$(sim --port 0 --auth none --linkname hostile)
expect_contains "a directory at the marker path: the link is served" "$out" '"status":0'
expect_eq "...and the directory is left" "$(test -d /run/ppp-hostile.ipup && echo dir)" "dir"
out=$(sim --port 0 --auth none --linkname "$(printf 'l%.0s' $(seq 100))")
expect_contains "a link name too long for the marker path is reported" "$out" "link name too long for the marker file"

# The configuration store: a port beyond the image, a missing image, a
# directory instead of an image.
out=$(sim --port 40 --user u --password pw)
expect_contains "a port beyond the store is refused, not passed to PAM" "$out" '"result":0'
expect_contains "...with a log line naming the port" "$out" "cannot read PPP settings of port 40"
mv $DSDEVICE_DIR/store.img $S/store.img
out=$(sim --port 0 --user u --password pw)
expect_contains "no store image: refused with a clear line" "$out" "reprom(): cannot open"
expect_contains "...and the refusal" "$out" '"result":0'
mkdir $DSDEVICE_DIR/store.img
out=$(sim --port 0 --user u --password pw)
expect_contains "a directory instead of the image: refused" "$out" '"result":0'
rmdir $DSDEVICE_DIR/store.img
mv $S/store.img $DSDEVICE_DIR/store.img

# A route entry naming a host far past the table: read, found disabled, skipped.
"$DSCONF" set routes.0.type 0 >/dev/null
"$DSCONF" set routes.0.destination 192.168.99.0 >/dev/null
"$DSCONF" set routes.0.prefix_length 120 >/dev/null
"$DSCONF" set routes.0.host 255 >/dev/null
"$DSCONF" set routes.0.via_host 1 >/dev/null
out=$(sim --port 0 --auth none --tun --while-up 'ip route')
expect_lacks "a route through host 255 installs nothing" "$out" "192.168.99.0"
expect_contains "...and the link comes up" "$out" '"status":0'

# PORT that is no number counts as port 0.
out=$(PORT=x "$SIM" --plugin "$PLUGIN" --json --auth none)
expect_contains "PORT=x is port 0" "$out" '"status":0'

finish
