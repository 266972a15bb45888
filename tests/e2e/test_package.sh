#!/usr/bin/env bash
# The Debian package: its file list, lintian, an install into a throw-away
# root, and the installed pppd-sim loading the installed plug-in.
source "$(dirname "$0")/lib.sh"
RELEASE=${DS_RELEASE_BUILD:?DS_RELEASE_BUILD must name a release build (./run test makes one)}
P=$S/package
mkdir -p $P
(cd "$RELEASE" && cpack -G DEB -B $P >$P/cpack.log 2>&1)
expect_eq "cpack builds the package" "$?" "0"
deb=$P/dsppp_0.1.0_amd64.deb

files=$(dpkg-deb -c $deb | awk '{print $6}' | grep -v '/$' | sort | tr '\n' ' ')
expect_eq "the package holds exactly the installed files" "$files" \
"./usr/bin/pppd-sim ./usr/lib/pppd/2.4.2/dsppp.so ./usr/lib/x86_64-linux-gnu/libdsdevice.so.0 ./usr/lib/x86_64-linux-gnu/libdsdevice.so.0.1.0 ./usr/lib/x86_64-linux-gnu/security/pam_dslocal.so ./usr/lib/x86_64-linux-gnu/security/pam_dsradius.so ./usr/sbin/dsconf ./usr/share/doc/dsppp/changelog.gz ./usr/share/doc/dsppp/copyright ./usr/share/doc/dsppp/examples/device.example.json ./usr/share/doc/dsppp/examples/pam.d-ds_no_auth.example ./usr/share/doc/dsppp/examples/pam.d-ppp.example ./usr/share/doc/dsppp/examples/pam_dsradius.conf.example ./usr/share/man/man1/pppd-sim.1.gz ./usr/share/man/man8/dsconf.8.gz ./usr/share/man/man8/dsppp.8.gz ./usr/share/man/man8/pam_dslocal.8.gz ./usr/share/man/man8/pam_dsradius.8.gz "
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
expect_contains "the manual page reads" "$(MANWIDTH=200 man -l $ROOT/usr/share/man/man8/dsppp.8.gz 2>/dev/null | col -b)" \
    "PAM authentication, accounting and link"
unset LD_LIBRARY_PATH
finish
