#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Loading: exported symbols, version check, and the secrets-file switch.
source "$(dirname "$0")/lib.sh"

symbols=$(nm -D --defined-only "$PLUGIN" | awk '{print $3}' | sort | tr '\n' ' ')
expect_eq "only the interface symbols leave the plug-in" "$symbols" \
    "check_and_launch_ppp_dyndns ds_cbcp_init ds_update_resolv plugin_init pppd_version "

printf 'char pppd_version[] = "2.4.9";\nvoid plugin_init(void) {}\n' >$S/old.c
"$TARGET_CC" -shared -fPIC -o $S/old.so $S/old.c
out=$("$SIM" --plugin $S/old.so --auth none 2>&1)
expect_eq "a plug-in for another version is refused" "$?" "2"
expect_contains "the refusal names the version" "$out" "is for pppd version 2.4.9, not 2.4.2"

out=$(sim --auth none --no-port)
expect_contains "no secrets files: both protocols go through the plug-in" "$out" \
    '"chap":"plugin","event":"loaded","pap":"plugin"'

echo 'alice * apw' >/etc/ppp/pap-secrets
out=$(sim --user alice --password apw --no-port)
expect_contains "PAP secrets file: the daemon checks PAP" "$out" '"pap":"secrets"'
expect_contains "...and still leaves CHAP to the plug-in" "$out" '"chap":"plugin"'
expect_contains "...and authenticates from its own file" "$out" \
    '"event":"pap","message":"Login ok","result":1,"user":"alice","verifier":"secrets"'
expect_contains "...while the IP-up handlers still run" "$out" '"event":"ip-up"'

echo 'bob * bpw' >/etc/ppp/chap-secrets
out=$(sim --auth chap --user bob --password bpw --no-port)
expect_contains "both files: the daemon checks both" "$out" '"chap":"secrets","event":"loaded","pap":"secrets"'
expect_contains "...and verifies CHAP-MD5 itself" "$out" '"message":"Access granted","result":1'

rm /etc/ppp/pap-secrets
ln -s /nonexistent /etc/ppp/pap-secrets
out=$(sim --auth none --no-port)
expect_contains "a secrets file that cannot be opened counts as absent" "$out" '"pap":"plugin"'

finish
