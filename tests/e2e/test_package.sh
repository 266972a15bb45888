#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The Debian package: its file list, lintian, an install into a throw-away
# root, the installed pppd-sim loading the installed plug-in, and the
# README's quick start run command by command against the installed files.
source "$(dirname "$0")/lib.sh"
RELEASE=${DS_RELEASE_BUILD:?DS_RELEASE_BUILD must name a release build (./run test makes one)}
P=$S/package
mkdir -p $P
(cd "$RELEASE" && cpack -G DEB -B $P >$P/cpack.log 2>&1)
expect_eq "cpack builds the package" "$?" "0"
deb=$P/dsppp_0.1.0_amd64.deb

files=$(dpkg-deb -c $deb | awk '{print $6}' | grep -v '/$' | sort | tr '\n' ' ')
expect_eq "the package holds exactly the installed files" "$files" \
"./usr/bin/pppd-sim ./usr/lib/pppd/2.4.2/dsppp.so ./usr/lib/systemd/system/dsacct.service ./usr/lib/systemd/system/dsdae.service ./usr/lib/x86_64-linux-gnu/libdsdevice.so.0 ./usr/lib/x86_64-linux-gnu/libdsdevice.so.0.1.0 ./usr/lib/x86_64-linux-gnu/security/pam_dslocal.so ./usr/lib/x86_64-linux-gnu/security/pam_dsradius.so ./usr/sbin/dsacct ./usr/sbin/dsconf ./usr/sbin/dsdae ./usr/share/doc/dsppp/changelog.gz ./usr/share/doc/dsppp/copyright ./usr/share/doc/dsppp/examples/device.example.json ./usr/share/doc/dsppp/examples/dsacct.init.example ./usr/share/doc/dsppp/examples/dsdae.conf.example ./usr/share/doc/dsppp/examples/dsdae.init.example ./usr/share/doc/dsppp/examples/pam.d-ds_no_auth.example ./usr/share/doc/dsppp/examples/pam.d-ppp.example ./usr/share/doc/dsppp/examples/pam_dsradius.conf.example ./usr/share/man/man1/pppd-sim.1.gz ./usr/share/man/man8/dsacct.8.gz ./usr/share/man/man8/dsconf.8.gz ./usr/share/man/man8/dsdae.8.gz ./usr/share/man/man8/dsppp.8.gz ./usr/share/man/man8/pam_dslocal.8.gz ./usr/share/man/man8/pam_dsradius.8.gz "
depends=$(dpkg-deb -f $deb Depends)
for library in libpam0g libnl-route-3-200 libssl3; do
    expect_contains "depends on $library" "$depends" "$library"
done

lint=$(lintian --allow-root $deb 2>&1)
expect_lacks "lintian reports no error" "$lint" "E: "
grep '^W: ' <<<"$lint" | sed 's/^/# /'

ROOT=$S/root
mkdir -p $ROOT/var/lib/dpkg/info $ROOT/var/lib/dpkg/updates $ROOT/var/lib/dpkg/triggers
: >$ROOT/var/lib/dpkg/status
dpkg --root=$ROOT --force-depends --force-script-chrootless -i $deb >$P/dpkg.log 2>&1
expect_eq "dpkg installs it into a throw-away root" "$?" "0"
expect_eq "the plug-in is in the daemon's plug-in directory" \
    "$(test -f $ROOT/usr/lib/pppd/2.4.2/dsppp.so && echo yes)" "yes"

export LD_LIBRARY_PATH=$ROOT/usr/lib/x86_64-linux-gnu
out=$($ROOT/usr/bin/pppd-sim --plugin $ROOT/usr/lib/pppd/2.4.2/dsppp.so --json --auth none --no-port)
expect_eq "the installed pppd-sim runs a link through the installed plug-in" "$?" "0"
expect_contains "...which loaded and took over both protocols" "$out" '"chap":"plugin","event":"loaded","pap":"plugin"'
expect_contains "the installed dsconf runs" "$($ROOT/usr/sbin/dsconf --help)" "usage: dsconf"
expect_contains "the installed dsacct runs" "$($ROOT/usr/sbin/dsacct 2>&1)" "usage: dsacct"
expect_eq "its unit starts it at boot and stops it at shutdown" \
    "$(grep -E '^Exec' $ROOT/usr/lib/systemd/system/dsacct.service | tr '\n' ' ')" \
    "ExecStart=-/usr/sbin/dsacct on ExecStop=-/usr/sbin/dsacct off "
expect_contains "the installed dsdae runs" "$($ROOT/usr/sbin/dsdae -x 2>&1)" "usage: dsdae"
expect_contains "the manual page reads" "$(MANWIDTH=200 man -l $ROOT/usr/share/man/man8/dsppp.8.gz 2>/dev/null | col -b)" \
    "PAM authentication, accounting and link"
unset LD_LIBRARY_PATH

# The quick start, as the README writes it: the installed files are laid
# over /usr (this sandbox's mount namespace only) and every command of its
# blocks after the build and install runs verbatim, as an operator would.
mount -t overlay overlay -o lowerdir=$ROOT/usr:/usr /usr
ldconfig
unset DSDEVICE_DIR DSTEST_SCRIPT DSTEST_RECORD
rm -f /etc/ppp/pap-secrets /etc/ppp/chap-secrets
mapfile -t quick < <(sed -n '/^## Quick start/,/^## Troubleshooting/p' "$SOURCE/README.md" |
    awk '/^ *```/ {inside = !inside; next} inside {sub(/^ +/, ""); print}' |
    grep -vE '^(\./run|cmake|apt) ')
expect_eq "the quick start has its commands after the install" "$((${#quick[@]} >= 7))" "1"
for command in "${quick[@]}"; do
    out=$(bash -c "$command" 2>&1)
    status=$?
    expect_eq "quick start: $command" "$status" "0"
    [[ $command == pppd-sim* ]] && dialin=$out
done
expect_contains "the quick start's dial-in ends as the README says" "${dialin:-}" "[pap] message=Success result=1"
expect_eq "its secret file is private" "$(stat -c '%a %U' /etc/dsdevice/radius.secret)" "600 root"
umount /usr
finish
