#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# ./run bench [--quick]: every benchmark on the release build, inside the
# end-to-end sandbox. Each prints its figures and a ratio against a baseline
# measured in the same run; docs/performance.md explains the method. The exit
# status reports errors only (a failed attempt, a benchmark that stopped,
# duplicate resolver lines), never a ratio. --quick runs a few hundred
# iterations of each, for CI.
source "$(dirname "$0")/../tests/e2e/lib.sh"
BENCH=$BUILD/bench/dsppp-bench
if [ "${1:-}" == "--quick" ]; then
    AUTH_N=50 AUTH_ROUNDS=6 RADIUS_N=100 IPUP_N=100 MERGES=16 DIALINS=3
    SILENT_DIALINS=8 HOLD=2 INTERVAL=1
else
    # 300 interleaved rounds put two runs' medians within a point of each other.
    AUTH_N=${BENCH_AUTH_N:-100} AUTH_ROUNDS=${BENCH_AUTH_ROUNDS:-300}
    RADIUS_N=${BENCH_RADIUS_N:-1000} IPUP_N=2000 MERGES=64 DIALINS=20
    # The setting RFC 5997 is about, scaled down tenfold in time: a dial-in
    # every 0.5 s, hold-down 3 s (a dial-in every 5 s against 30 s).
    SILENT_DIALINS=40 HOLD=3 INTERVAL=1
fi
PACE=0.5
STATUS=0
# Runs a benchmark step; a non-zero status is an error of the run.
step() {
    "$@"
    local rc=$?
    if [ $rc -ne 0 ]; then
        echo "bench: \"$*\" failed with status $rc" >&2
        STATUS=1
    fi
}

echo "== 1. Authentication: the plug-in's own overhead over the same PAM stack"
pam_stacks
pam_script "ppp.password pw"
unset DSTEST_RECORD
echo "with PORT=0 (each attempt reads the port's local user from the store):"
PORT=0 step "$BENCH" auth $AUTH_N $AUTH_ROUNDS
echo "with PORT unset (no store read):"
step "$BENCH" auth $AUTH_N $AUTH_ROUNDS

echo "== 2. RADIUS authentication: plug-in and pam_dsradius vs radclient, $RADIUS_N attempts each"
source "$SOURCE/tests/e2e/radius/server.sh"
start_freeradius_tls "$(printf 'u Cleartext-Password := "pw"\n\tFramed-MTU = 1400\n')" || STATUS=1
echo "the same comparison as 1., on this RADIUS stack:"
PORT=0 step "$BENCH" auth $AUTH_N $((AUTH_ROUNDS / 5 + 1))
read -r ours_p50 ours_p99 exchange_p50 exchanges failures < <(PORT=0 "$BENCH" radius $RADIUS_N)
if [ "${failures:-1}" != 0 ] || [ "${exchanges:-0}" -lt "$RADIUS_N" ]; then
    echo "bench: ${failures:-all} RADIUS attempts failed, ${exchanges:-0} exchanges reported" >&2
    STATUS=1
fi
times=()
for _ in $(seq $RADIUS_N); do
    t0=$(date +%s%N)
    echo "User-Name=u,User-Password=pw,Message-Authenticator=0x00" |
        radclient -q 127.0.0.1:$AUTH_PORT auth $SECRET >/dev/null 2>&1
    times+=($((($(date +%s%N) - t0) / 1000)))
done
read -r rc_p50 rc_p99 < <(printf '%s\n' "${times[@]}" | sort -n |
    awk '{v[NR]=$1} END {printf "%.3f %.3f\n", v[int(NR*0.5+0.5)]/1000, v[int(NR*0.99+0.5)]/1000}')
t0=$(date +%s%N)
echo "User-Name=u,User-Password=pw,Message-Authenticator=0x00" |
    radclient -q -c $RADIUS_N 127.0.0.1:$AUTH_PORT auth $SECRET >/dev/null 2>&1 || STATUS=1
rc_mean=$(awk -v ns=$(($(date +%s%N) - t0)) -v n=$RADIUS_N 'BEGIN {printf "%.3f", ns / n / 1e6}')
echo "plug-in + pam_dsradius, whole attempt: p50 $ours_p50 ms, p99 $ours_p99 ms ($failures failed)"
echo "pam_dsradius's own exchange (request sent to reply accepted): p50 $exchange_p50 ms"
echo "radclient, one process an attempt: p50 $rc_p50 ms, p99 $rc_p99 ms"
echo "radclient, one process for all ($RADIUS_N in a row): mean $rc_mean ms"
awk -v a=$ours_p50 -v b=$rc_p50 -v c=$ours_p99 -v d=$rc_p99 -v e=$exchange_p50 -v m=$rc_mean \
    'BEGIN {printf "client against client: module exchange p50 / radclient in-process mean %.2f (target: within 1.5)\n", e/m;
            printf "whole attempt: ratio p50 %.2f, p99 %.2f against one process an attempt; p50 %.2f against the in-process mean (the PAM stack'"'"'s own cost per transaction)\n", a/b, c/d, a/m}'
echo "RADIUS over TLS on the same server (a connection and handshake per transaction; no target):"
module_conf "$(tls_line)"
read -r tls_p50 tls_p99 tls_exchange tls_exchanges tls_failures < <(PORT=0 "$BENCH" radius $RADIUS_N)
[ "${tls_failures:-1}" == 0 ] || { echo "bench: ${tls_failures:-all} TLS attempts failed" >&2; STATUS=1; }
echo "plug-in + pam_dsradius over TLS, whole attempt: p50 $tls_p50 ms, p99 $tls_p99 ms; its exchange p50 $tls_exchange ms"
awk -v t=$tls_exchange -v u=$exchange_p50 -v a=$tls_p50 -v b=$ours_p50 \
    'BEGIN {printf "TLS against UDP: exchange p50 ratio %.1f, whole attempt p50 ratio %.1f\n", t/u, a/b}'
kill $(jobs -p) 2>/dev/null
wait 2>/dev/null

echo "== 3. Failover remembered: dial-ins (each a new process) with the first server silent"
start_fake 18250 silent
start_fake 18251 good
start_fake 18252 good
fail_conf() { # FIRST-PORT: that server, then the good one at 18251
    printf '%s\n' "server 127.0.0.1 auth-port $1 acct-port $1 secret-file $S/radius.secret timeout 2 retries 0" \
        "server 127.0.0.1 auth-port 18251 acct-port 18251 secret-file $S/radius.secret timeout 2 retries 0" \
        "hold-down 300" >$S/dsradius.conf
}
dialin_ms() {
    local t0=$(date +%s%N)
    "$SIM" --plugin "$PLUGIN" --quiet --port 0 --user u --password pw >/dev/null || STATUS=1
    echo $((($(date +%s%N) - t0) / 1000000))
}
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
rm -rf /run/dsppp
fail_conf 18250
first=$(dialin_ms)
following=$(for _ in $(seq $DIALINS); do dialin_ms; done | median)
fail_conf 18252
alive=$(for _ in $(seq $DIALINS); do dialin_ms; done | median)
echo "first dial-in $first ms; the following $DIALINS: median $following ms; both servers alive: median $alive ms"
awk -v f=$following -v a=$alive 'BEGIN {printf "ratio following / all alive %.2f (target: within 1.5)\n", f/a}'

echo "== 3b. A silent primary, with and without Status-Server probes: $SILENT_DIALINS dial-ins every $PACE s"
echo "   (primary time-out 1 s, hold-down $HOLD s, status-interval $INTERVAL s), then the primary answers again"
PRIMARY=18253 PRIMARY_PID=
primary() { [ -z "$PRIMARY_PID" ] || { kill $PRIMARY_PID; wait $PRIMARY_PID 2>/dev/null; }; FAKE_LOG=$S/primary.log start_fake $PRIMARY $1; PRIMARY_PID=$!; }
for option in "" status-server; do
    rm -rf /run/dsppp
    primary silent
    printf '%s\n' "server 127.0.0.1 auth-port $PRIMARY acct-port $PRIMARY secret-file $S/radius.secret timeout 1 retries 0 $option" \
        "server 127.0.0.1 auth-port 18251 acct-port 18251 secret-file $S/radius.secret timeout 1 retries 0" \
        "hold-down $HOLD" "status-interval $INTERVAL" >$S/dsradius.conf
    paid=0
    for _ in $(seq $SILENT_DIALINS); do
        [ "$(dialin_ms)" -ge 1000 ] && paid=$((paid + 1))
        sleep $PACE
    done
    primary good
    : >$S/primary.log
    to_backup=0
    until grep -q 'code=1$' $S/primary.log || [ $to_backup -ge $((SILENT_DIALINS * 4)) ]; do
        dialin_ms >/dev/null
        grep -q 'code=1$' $S/primary.log || to_backup=$((to_backup + 1))
        sleep $PACE
    done
    grep -q 'code=1$' $S/primary.log || { echo "bench: the primary was never used again" >&2; STATUS=1; }
    printf '%-14s %2d of %d dial-ins waited for the silent primary; once it answered, %d went to the backup first\n' \
        "${option:-no probes}:" $paid $SILENT_DIALINS $to_backup
done
kill $(jobs -p) 2>/dev/null

echo "== 4. IP-up with a full 20-entry route table and all port services"
ip tuntap add dev ppp0 mode tun
ip link set ppp0 up
ip addr add 10.0.0.1 peer 10.0.0.2 dev ppp0
"$DSCONF" build - <<<'{}' && cp $DSDEVICE_DIR/store.img $S/empty.img
{
    printf '{"hosts": [{"index": 1, "address": "10.0.0.2", "enabled": 1}], "routes": ['
    for i in $(seq 0 19); do
        [ $i -gt 0 ] && printf ','
        printf '{"index": %d, "type": 0, "destination": "192.168.%d.0", "prefix_length": 120, "host": 1, "via_host": 1}' $i $((100 + i))
    done
    printf '], "ports": [{"index": 0, "dyndns": {"enabled": 1, "alias": "a", "user": "u", "password": "p"}}],'
    printf '"port_services": ["port 0 route 192.168.200.0/24", "port 0 route 192.168.201.0/24"]}'
} | "$DSCONF" build -
cp $DSDEVICE_DIR/store.img $S/full.img
echo "nameserver 192.0.2.53" >/etc/ppp/resolv.conf0
PORT=0 BENCH_EMPTY_STORE=$S/empty.img BENCH_FULL_STORE=$S/full.img BENCH_STORE=$DSDEVICE_DIR/store.img \
    step "$BENCH" ipup $IPUP_N

echo "== 5. $MERGES concurrent resolver merges into one file"
for port in $(seq 0 $((MERGES - 1))); do
    printf 'nameserver 10.3.0.%d\nnameserver 10.3.0.%d\nnameserver 10.4.%d.1\n' \
        $((port % 8)) $(((port + 3) % 8)) $port >/etc/ppp/resolv.conf$port
done
step "$BENCH" resolv $MERGES

echo "== 6. Stripped sizes (of the files the links point at)"
for f in plugin/dsppp.so device/libdsdevice.so pam/pam_dsradius.so pam/pam_dslocal.so; do
    strip --strip-unneeded -o $S/stripped "$BUILD/$f" || STATUS=1
    printf '%-22s %7d bytes stripped, %7d unstripped\n' "$(basename $f)" "$(stat -c %s $S/stripped)" \
        "$(stat -L -c %s "$BUILD/$f")"
done
[ $STATUS -eq 0 ] && echo "bench: no errors" || echo "bench: FAILED (see above)" >&2
exit $STATUS
