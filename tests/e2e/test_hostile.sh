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
# Ports 0 to 7 have records: PORT=8 would read the route table as a port and
# a huge PORT would overflow the offset. Such a port has no local user (PAM
# decides), and nothing of the store is read for it.
for port in 8 40 99999999999; do
    out=$(sim --port $port --user u --password pw --ipv6 --peer-id ::5)
    expect_contains "PORT=$port: PAM decides" "$out" '"event":"pap","message":"Success","result":1'
    expect_contains "...and says why no local user was looked for" "$out" "has no record in the store"
    expect_lacks "...nothing is read past the store's ports" "$out" "lie outside"
done
expect_contains "...and its NAS_PORT is the index plus one" "$(grep '^authenticate' $S/record | tail -1)" \
    "NAS_PORT=2147483647"
mv $DSDEVICE_DIR/store.img $S/store.img
out=$(sim --port 0 --user u --password pw)
expect_contains "no store image: refused with a clear line" "$out" "reprom(): cannot open"
expect_contains "...and the refusal" "$out" '"result":0'
mkdir $DSDEVICE_DIR/store.img
out=$(sim --port 0 --user u --password pw)
expect_contains "a directory instead of the image: refused" "$out" '"result":0'
rmdir $DSDEVICE_DIR/store.img
mv $S/store.img $DSDEVICE_DIR/store.img

# A route entry naming a host past the table (as an old image may hold;
# dsconf refuses it now): nothing is read for it, it is skipped.
"$DSCONF" set routes.0.type 0 >/dev/null
"$DSCONF" set routes.0.destination 192.168.99.0 >/dev/null
"$DSCONF" set routes.0.prefix_length 120 >/dev/null
"$DSCONF" set routes.0.via_host 1 >/dev/null
printf '\xff' | dd of=$DSDEVICE_DIR/store.img bs=1 seek=$((142437 + 17)) conv=notrunc status=none
out=$(sim --port 0 --auth none --tun --while-up 'ip route')
expect_lacks "a route through host 255 installs nothing" "$out" "192.168.99.0"
expect_lacks "...reads nothing past the host table" "$out" "lie outside"
expect_contains "...and the link comes up" "$out" '"status":0'

# A setuid PAM application must not let its caller choose the users file:
# DSDEVICE_DIR is ignored there. The caller (nobody) points it at a users
# file of its own naming itself with a password it knows.
mkdir -p $S/evil && echo "nobody:known" >$S/evil/users && chmod 600 $S/evil/users && chown nobody $S/evil/users
chmod 755 $S $S/evil
mkdir -p $S/pam.d && printf 'auth required %s\n' "$BUILD/pam/pam_dslocal.so" >$S/pam.d/login
emulator_limit "a setuid caller" "without binfmt_misc the kernel cannot exec a setuid program of the target" || {
    cp "$BUILD/tests/pam-drive" $S/pam-drive-suid && chmod 4755 $S/pam-drive-suid
    out=$(DSDEVICE_DIR=$S/evil setpriv --reuid=65534 --regid=65534 --clear-groups \
          $S/pam-drive-suid $S/pam.d login nobody --env USER_PASSWORD=known authenticate 2>&1)
    expect_eq "a setuid caller's DSDEVICE_DIR is not used" "$out" "authenticate 10"
}
out=$(DSDEVICE_DIR=$S/evil "$PAM_DRIVE" $S/pam.d login nobody --env USER_PASSWORD=known authenticate)
expect_eq "...while root's own is" "$out" "authenticate 0"

# PORT that is no number counts as port 0.
out=$(PORT=x "$SIM" --plugin "$PLUGIN" --json --auth none)
expect_contains "PORT=x is port 0" "$out" '"status":0'

finish
