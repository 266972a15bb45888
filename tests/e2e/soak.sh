#!/usr/bin/env bash
# ./run soak: long soak runs on the release build, reporting resident memory
# and open descriptors after the first and the last link.
#   soak.sh [TEST_MODULE_CYCLES] [FREERADIUS_CYCLES]
source "$(dirname "$0")/lib.sh"
local_cycles=${1:-100000}
radius_cycles=${2:-10000}
report() { grep -E '"event":"(resources|exit)"' | sed 's/^/  /'; }

echo "== $local_cycles links against the test PAM module"
pam_stacks
pam_script "ppp.password pw" "ppp.put FRAMED_CALLBACK_ENABLED=1" "ppp.put LOGIN_CALLBACK_NUMBER=555" \
    "ppp.put CLASS_VX_ENCODED=1:0a0b"
unset DSTEST_RECORD
start=$(date +%s)
"$SIM" --plugin "$PLUGIN" --json --quiet --port 0 --auth chap --user u --password pw --rechallenges 2 \
    --ipv6 --peer-id ::5 --callback --cycles "$local_cycles" | report
echo "  $(( $(date +%s) - start )) s"

echo "== $radius_cycles links against FreeRADIUS"
source "$SOURCE/tests/e2e/radius/server.sh"
start_freeradius "$(printf 'u Cleartext-Password := "pw"\n\tFramed-MTU = 1400,\n\tClass = 0x0a0b\n')"
start=$(date +%s)
"$SIM" --plugin "$PLUGIN" --json --quiet --port 0 --auth chap --user u --password pw --rechallenges 2 \
    --cycles "$radius_cycles" | report
echo "  $(( $(date +%s) - start )) s"
kill $(jobs -p) 2>/dev/null
