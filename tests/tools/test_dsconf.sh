#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# dsconf: exact round trip, single-setting edits, and refusals that change nothing.
set -uo pipefail
source "$(dirname "$0")/../e2e/assert.sh"
DSCONF=${DSPPP_BUILD:?}/tools/dsconf
D=$(mktemp -d)
trap 'rm -rf "$D"' EXIT
conf() { "$DSCONF" --dir "$D/dev" "$@"; }

conf build "${DSPPP_SOURCE:?}/conf/device.example.json"
expect_eq "build from the example description" "$?" "0"
conf dump >"$D/first.json"
conf --help >/dev/null 2>&1
mkdir "$D/again"
"$DSCONF" --dir "$D/again" build "$D/first.json"
expect_eq "dump then build gives the same store image" "$(cmp "$D/dev/store.img" "$D/again/store.img" && echo same)" "same"
expect_eq "...and the same description" "$("$DSCONF" --dir "$D/again" dump)" "$(cat "$D/first.json")"
expect_eq "the user database and the store image (it holds passwords) are private" \
    "$(stat -L -c %a "$D/dev/users" "$D/dev/store.img" | tr '\n' ' ')" "600 600 "
expect_eq "the store image has the store's size" "$(stat -L -c %s "$D/dev/store.img")" "254468"

conf set routes.3.prefix_length 120
conf set ports.1.local_user.name alice
conf set dyndns.connection 2
dump=$(conf dump)
expect_contains "a route field is set" "$dump" '"prefix_length": 120'
expect_contains "a port's local user is set" "$dump" '"name": "alice"'
expect_contains "a dynamic-DNS setting is set" "$dump" '"connection": 2'

# A byte dsconf does not describe survives an edit.
printf '\x5a' | dd of="$D/dev/store.img" bs=1 seek=100000 conv=notrunc status=none
conf set hosts.2.enabled 1
expect_eq "bytes outside the known fields are kept" "$(od -An -tx1 -j100000 -N1 "$D/dev/store.img" | tr -d ' ')" "5a"

before=$(md5sum "$D/dev/"* | sort)
refuse() { # description expected-message args...
    local what=$1 message=$2
    shift 2
    out=$(conf "$@" 2>&1)
    local status=$?
    expect_eq "$what: non-zero exit" "$([ $status -ne 0 ] && echo refused)" "refused"
    expect_contains "$what: the message names it" "$out" "$message"
}
refuse "route index out of range" 'routes[].index: must lie in 0..19 (got 20)' set routes.20.type 1
refuse "text too long" 'longer than 27 characters' set ports.0.local_user.password "$(printf 'p%.0s' $(seq 30))"
refuse "not an address" 'ports.0.ipv6_prefix: not an IPv4 or IPv6 address (got "2001:zz::")' set ports.0.ipv6_prefix 2001:zz::
refuse "a number that is no number" 'dyndns.connection: expected an integer (got "two")' set dyndns.connection two
refuse "an unknown setting" 'unknown setting "ports.0.colour"' set ports.0.colour blue
# Every text value: a line break would corrupt the line-based files read at
# run time; a blank, '#' or '\' in a dynamic-DNS value would add options.
while IFS='|' read -r key value message; do
    refuse "$key $value" "$key: $message" set "$key" "$(printf "$value")"
done <<'TABLE'
ports.0.dyndns.alias|a\nb|holds a control character
ports.0.local_user.name|al\tice|holds a control character
ports.0.dyndns.password|pw --exec /tmp/x|holds a blank, '#' or '\', which the dynamic-DNS client would split
ports.0.dyndns.user|user#x|holds a blank, '#' or '\'
ports.0.dyndns.alias|a\\b|holds a blank, '#' or '\'
dyndns_ssl.ca_file|/etc/ca\n.pem|holds a control character
routes.0.host|198|must lie in 0..197 (got 198)
TABLE
refuse "a port service with a line break" 'port_services[]: holds a control character' \
    service add "$(printf 'port 0 route 1.2.3.0/24\nport 1 route 5.6.7.0/24')"
refuse "a bad port service" 'bad route destination "1.2.3.0/40"' service add "port 0 route 1.2.3.0/40"
refuse "removing a user that is not there" 'no local user "zz"' user del zz
echo '{"hosts": [{"index": 1, "address": "10.0.0.1", "enabled": 300}]}' >"$D/bad.json"
refuse "a description with a bad value" 'hosts.1.enabled: must lie in 0..255 (got 300)' build "$D/bad.json"
echo '{"hosts": [' >"$D/broken.json"
refuse "a file that is not JSON" 'is not valid JSON' build "$D/broken.json"
expect_eq "no refusal changed a file" "$(md5sum "$D/dev/"* | sort)" "$before"
expect_eq "no temporary file is left behind" "$(ls "$D/dev" | tr '\n' ' ')" "dyndns-ssl.conf port-services.conf store.img users "

# A local password CHAP cannot verify (over 32 bytes) is kept, with a warning
# that the user is then PAP only; 32 bytes draw none.
out=$(conf user add longpw "$(printf 'p%.0s' $(seq 33))" 2>&1)
expect_contains "a password of 33 bytes: a warning" "$out" \
    'password of local user "longpw" is 33 bytes; CHAP takes at most 32, so longpw can log in with PAP only'
expect_contains "...and the user is kept" "$(conf dump)" '"name": "longpw"'
expect_lacks "a password of 32 bytes: no warning" "$(conf user add pw32 "$(printf 'p%.0s' $(seq 32))" 2>&1)" '"pw32"'
conf user del longpw 2>/dev/null && conf user del pw32

# Every file the device library reads is a link into one generation, and a
# save switches them all with one rename.
expect_eq "the files are links into the current generation" \
    "$(cd "$D/dev" && readlink store.img users dyndns-ssl.conf port-services.conf | tr '\n' ' ')" \
    ".dsconf/current/store.img .dsconf/current/users .dsconf/current/dyndns-ssl.conf .dsconf/current/port-services.conf "

# A save killed at every step leaves the old set or the new set, never a
# mix, and the next run removes what the killed one left. strace kills dsconf
# at its Nth call of one system call that writes, renames, links, syncs or
# opens, for each such call and N = 1, 2, ... until a save runs through it:
# once over a set still in plain files (an upgrade), once over a set already
# in generations.
cp "${DSPPP_SOURCE}/conf/device.example.json" "$D/change.json"
sed -i 's/"192.168.10.0"/"192.168.11.0"/; s/"erin-pw"/"a-new-password"/' "$D/change.json"
set_of() { (cd "$1" && cat store.img | md5sum; cat users dyndns-ssl.conf port-services.conf | md5sum) | tr '\n' ' '; }
KILLED=write,pwrite64,rename,renameat,renameat2,symlink,symlinkat,link,linkat,unlink,unlinkat,mkdir,mkdirat,rmdir,fsync,fdatasync,chmod,fchmod,fchmodat,open,openat,creat,ftruncate
mkdir "$D/plain" && cp -L "$D/dev/"* "$D/plain/" && cp -a "$D/dev" "$D/linked"
"$DSCONF" --dir "$D/linked" build "$D/change.json" 2>/dev/null && new=$(set_of "$D/linked") && rm -rf "$D/linked"
cp -a "$D/dev" "$D/linked"
old=$(set_of "$D/dev")
for layout in plain linked; do
    steps=0 mixed=0 left=0
    for call in ${KILLED//,/ }; do for n in $(seq 200); do
        rm -rf "$D/k" && cp -a "$D/$layout" "$D/k"
        # (LeakSanitizer cannot run under ptrace.)
        ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/null -e trace=$call -e inject=$call:signal=KILL:when=$n \
            "$DSCONF" --dir "$D/k" build "$D/change.json" 2>/dev/null && break
        steps=$((steps + 1))
        n="$call #$n"
        now=$(set_of "$D/k")
        [ "$now" == "$old" ] || [ "$now" == "$new" ] || { mixed=$((mixed + 1)); echo "# killed at $n: a mix"; }
        "$DSCONF" --dir "$D/k" dump >/dev/null
        # Left: the lock, and the generation `current` names (if any yet).
        [ "$(ls "$D/k/.dsconf" 2>/dev/null | grep -v '^lock$' | tr '\n' ' ')" == \
          "$(readlink "$D/k/.dsconf/current" | sed 's/^\(.*\)$/current \1 /')" ] ||
            { left=$((left + 1)); echo "# killed at $n: left behind $(ls "$D/k/.dsconf" | tr '\n' ' ')"; }
        [ "$(set_of "$D/k")" == "$now" ] || { mixed=$((mixed + 1)); echo "# killed at $n: the next run changed the set"; }
    done; done
    echo "# $layout: killed at each of $steps calls"
    expect_eq "$layout: a save killed at any of its steps leaves the old or the new set" "$((steps > 10)) $mixed" "1 0"
    expect_eq "$layout: ...and the next run removes what it left" "$left" "0"
    expect_eq "$layout: run through, the save gives the new set" "$(set_of "$D/k")" "$new"
done
expect_eq "the upgrade turned plain files into links" "$(readlink "$D/k/users")" ".dsconf/current/users"
# Only dsconf's files move: the RADIUS module's files in the same directory stay.
printf 'server 127.0.0.1 secret-file radius.secret\n' >"$D/k/pam_dsradius.conf"
conf_k() { "$DSCONF" --dir "$D/k" "$@"; }
conf_k user add frank frank-pw
expect_eq "the operator's own files stay as they are" "$(cat "$D/k/pam_dsradius.conf")" "server 127.0.0.1 secret-file radius.secret"
# A generations directory that others may write, or a link nobody made, is refused.
chmod 777 "$D/k/.dsconf"
refuse_k() { out=$(conf_k user add grace grace-pw 2>&1); expect_contains "$1" "$out" "$2"; }
refuse_k "a generations directory others may write is refused" "is not a directory of ours that only we may write"
chmod 755 "$D/k/.dsconf"
rm "$D/k/users" && ln -s /etc/shadow "$D/k/users"
refuse_k "a link dsconf did not make is not followed" "users is a symbolic link dsconf did not make"

# A change that fails part-way changes nothing: on a file system with room
# for the new image but not for the new users file, the image stays as it was.
if [ "$(id -u)" == 0 ] && unshare --mount true 2>/dev/null; then
    out=$(unshare --mount bash -c '
        set -e
        mkdir -p "$1/full"
        "$2" --dir "$1/dev" dump >/dev/null  # the previous generation goes
        pages=$(( ($(stat -L -c %s "$1/dev/store.img") + 4095) / 4096 ))
        mount -t tmpfs -o size=$(( (2 * pages + 3) * 4 ))k tmpfs "$1/full"
        cp -a "$1/dev/." "$1/full/"
        inode=$(stat -L -c %i "$1/full/store.img")
        sum=$(md5sum "$1/full/"* | sort)
        "$2" --dir "$1/full" build "$1/change.json" 2>&1 || true
        [ "$(stat -L -c %i "$1/full/store.img")" == "$inode" ] && echo "image kept"
        [ "$(md5sum "$1/full/"* | sort)" == "$sum" ] && echo "all kept"
        ls "$1/full/.dsconf" | grep -c "^gen\." || true
        ls "$1/full" | grep -vcE "^(dyndns-ssl.conf|port-services.conf|store.img|users)$" || true' _ "$D" "$DSCONF")
    expect_contains "a full file system: the change is refused" "$out" "No space left on device"
    expect_contains "...the image is not replaced" "$out" "image kept"
    expect_contains "...no file changed" "$out" "all kept"
    expect_eq "...and no temporary file is left" "$(tail -2 <<<"$out" | tr '\n' ' ')" "1 0 "
fi

finish
