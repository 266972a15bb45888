#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Every text field of the store, at its width and one past it: dsconf takes
# the longest text that leaves room for the terminator and refuses one more
# character, and the runtime reads the longest back whole (the local user's
# name and password decide a dial-in; the dynamic-DNS values and the SSL list
# entry reach the client's files). The widths are written here on purpose,
# apart from the store's map: a map that changed would show.
source "$(dirname "$0")/lib.sh"

declare -A longest
while IFS='|' read -r key width; do
    value=$(head -c $((width - 1)) /dev/zero | tr '\0' "$(printf "\\x$(printf %x $((97 + ${#longest[@]})))")")
    out=$("$DSCONF" set "$key" "${value}z" 2>&1)
    expect_contains "$key: $width characters are refused" "$out" "longer than $((width - 1)) characters"
    "$DSCONF" set "$key" "$value"
    expect_eq "$key: $((width - 1)) characters are kept" "$?" "0"
    longest[$key]=$value
done <<'TABLE'
ports.0.local_user.name|255
ports.0.local_user.password|28
ports.0.dyndns.alias|61
ports.0.dyndns.user|17
ports.0.dyndns.password|129
ssl_list_entry|256
TABLE

"$DSCONF" set ports.0.dyndns.enabled 1 >/dev/null
"$DSCONF" set dyndns.connection 2 >/dev/null
"$DSCONF" set dyndns_ssl.verify_peer 1 >/dev/null
wait_for_client='for i in $(seq 100); do [ -s '$S'/inadyn.args ] && break; sleep 0.02; done'
for auth in pap chap; do
    out=$(sim --port 0 --auth $auth --user "${longest[ports.0.local_user.name]}" \
          --password "${longest[ports.0.local_user.password]}" --while-up "$wait_for_client")
    expect_contains "$auth: the longest local user name and password are read whole" "$out" '"result":1'
done
cfg=$(cat /etc/ppp/dyndns.cfg0)
expect_contains "the longest alias reaches the client whole" "$cfg" "--alias ${longest[ports.0.dyndns.alias]}"$'\n'
expect_contains "the longest user" "$cfg" "--username ${longest[ports.0.dyndns.user]}"$'\n'
expect_contains "the longest password" "$cfg" "--password ${longest[ports.0.dyndns.password]}"$'\n'
expect_eq "the longest SSL list entry" "$(tail -1 /etc/ppp/dyndns.ssl0)" "${longest[ssl_list_entry]}"
finish
