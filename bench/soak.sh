#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# ./run soak: long soak runs on the release build, reporting resident memory
# and open descriptors after the first and the last link, and failing on a
# refused link, a non-zero exit, descriptor growth or memory that keeps
# growing (a leak).
#   soak.sh [--quick | TEST_MODULE_CYCLES [FREERADIUS_CYCLES]]
source "$(dirname "$0")/../tests/e2e/lib.sh"
if [ "${1:-}" == "--quick" ]; then
    local_cycles=500 radius_cycles=200
else
    local_cycles=${1:-100000}
    radius_cycles=${2:-10000}
fi
# The first link's allocations (PAM, libnl, OpenSSL) are the baseline; 100,000
# links have grown it by less than 200 kB, so 1 MB means memory kept per link.
MAX_GROWTH_KB=1024
STATUS=0

# soak NAME CYCLES SIM-OPTIONS...: runs the links and checks what they left.
soak() {
    local name=$1 cycles=$2 out status start
    shift 2
    echo "== $cycles links against $name"
    start=$(date +%s)
    out=$("$SIM" --plugin "$PLUGIN" --json --quiet --port 0 --auth chap --user u --password pw \
          --rechallenges 2 --cycles "$cycles" "$@")
    status=$?
    grep -E '"event":"(resources|exit)"' <<<"$out" | sed 's/^/  /'
    echo "  $(( $(date +%s) - start )) s"
    fds() { grep "\"when\":\"$1\"" <<<"$out" | grep -o '"fds":[0-9]*' | cut -d: -f2; }
    rss() { grep "\"when\":\"$1\"" <<<"$out" | grep -o '"rss_kb":[0-9]*' | cut -d: -f2; }
    local problems=()
    [ "$status" == 0 ] || problems+=("exit status $status")
    grep -q '"refused":0' <<<"$out" || problems+=("refused links")
    [ -n "$(fds first)" ] && [ "$(fds first)" == "$(fds last)" ] ||
        problems+=("descriptors $(fds first) -> $(fds last)")
    local rss_first rss_last
    rss_first=$(rss first) rss_last=$(rss last)
    if [ -z "$rss_first" ] || [ -z "$rss_last" ]; then
        problems+=("no resource report")
    elif [ $((rss_last - rss_first)) -ge "$MAX_GROWTH_KB" ]; then
        problems+=("resident memory grew by $((rss_last - rss_first)) kB")
    fi
    if [ ${#problems[@]} -ne 0 ]; then
        echo "soak: $name: ${problems[*]}" >&2
        STATUS=1
    fi
}

pam_stacks
pam_script "ppp.password pw" "ppp.put FRAMED_CALLBACK_ENABLED=1" "ppp.put LOGIN_CALLBACK_NUMBER=555" \
    "ppp.put CLASS_VX_ENCODED=1:0a0b"
unset DSTEST_RECORD
soak "the test PAM module" "$local_cycles" --ipv6 --peer-id ::5 --callback

source "$SOURCE/tests/e2e/radius/server.sh"
if start_freeradius "$(printf 'u Cleartext-Password := "pw"\n\tFramed-MTU = 1400,\n\tClass = 0x0a0b\n')"; then
    soak FreeRADIUS "$radius_cycles"
else
    STATUS=1
fi
kill $(jobs -p) 2>/dev/null
[ $STATUS -eq 0 ] && echo "soak: no errors" || echo "soak: FAILED (see above)" >&2
exit $STATUS
