# SPDX-License-Identifier: BSD-3-Clause
# Sourced by every end-to-end test. Re-runs the test inside a private network,
# mount, IPC and PID namespace with its own /etc (overlay), /etc/ppp, /run,
# /etc/pam.d and resolver file, then offers small assertion helpers. Without
# root it reports the test skipped (exit 77), never passed.
set -uo pipefail

if [ -z "${DSPPP_SANDBOX:-}" ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "SKIP: end-to-end tests need root for namespaces"
        exit 77
    fi
    DSPPP_SANDBOX=$(mktemp -d /tmp/dsppp-sandbox.XXXXXX)
    export DSPPP_SANDBOX
    unshare --net --mount --ipc --pid --fork --mount-proc --propagation private bash "$0" "$@"
    status=$?
    rm -rf "$DSPPP_SANDBOX"
    exit $status
fi

BUILD=${DSPPP_BUILD:?DSPPP_BUILD must name the build directory}
SOURCE=${DSPPP_SOURCE:?DSPPP_SOURCE must name the source directory}
MODULE=${DSTEST_MODULE:-$BUILD/tests/pam_dstest.so}
SIM=$BUILD/tools/pppd-sim
PLUGIN=$BUILD/plugin/dsppp.so
DSCONF=$BUILD/tools/dsconf
# Programs built for another CPU run under its emulator (a command line, such
# as qemu-user with its library prefix); native builds leave it empty.
read -ra EMULATOR <<<"${DSPPP_EMULATOR:-}"
target() { "${EMULATOR[@]}" "$@"; }

sandbox_up() {
    # Private scratch space; /tmp itself stays shared, as the build may live there.
    S=$DSPPP_SANDBOX
    mount -t tmpfs tmpfs "$S"
    mkdir -p $S/etc-upper $S/etc-work $S/bin $S/dev
    mount -t overlay overlay -o lowerdir=/etc,upperdir=$S/etc-upper,workdir=$S/etc-work /etc
    mkdir -p /etc/ppp /etc/pam.d
    mount -t tmpfs tmpfs /etc/ppp
    mount -t tmpfs tmpfs /etc/pam.d
    mount -t tmpfs tmpfs /run
    rm -f /etc/resolv.conf
    : >/etc/resolv.conf
    ip link set lo up
    export DSDEVICE_DIR=$S/dev
    # The dynamic-DNS client stand-in records how it was started.
    cat >$S/bin/inadyn <<STUB
#!/bin/sh
echo "\$*" >>$S/inadyn.args
exec sleep 30
STUB
    chmod +x $S/bin/inadyn
    export PATH=$S/bin:$PATH
    target "$DSCONF" build - <<<'{}' >/dev/null
}
sandbox_up

source "$(dirname "${BASH_SOURCE[0]}")/assert.sh"

# PAM stacks for "ppp" and "ds_no_auth" on the scriptable test module.
pam_stacks() {
    for service in ppp ds_no_auth other; do
        printf '%s required %s section=%s\n' auth "$MODULE" $service account "$MODULE" $service \
            session "$MODULE" $service >/etc/pam.d/$service
    done
}
# Script for the test module: lines "<section>.<key> <value>".
pam_script() {
    printf '%s\n' "$@" >$S/script
    : >$S/record
    export DSTEST_SCRIPT=$S/script DSTEST_RECORD=$S/record
}
# Transactions the test module saw begin and not end.
live_transactions() {
    local begun ended
    begun=$(grep -c '^begin' $S/record)
    ended=$(grep -c '^end' $S/record)
    echo $((begun - ended))
}
sim() { target "$SIM" --plugin "$PLUGIN" --json "$@"; }
