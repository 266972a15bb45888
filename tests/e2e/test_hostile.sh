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

finish
