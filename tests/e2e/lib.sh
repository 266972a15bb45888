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
DSACCT=$BUILD/tools/dsacct
DSDAE=$BUILD/tools/dsdae
DAE_SEND=$BUILD/tests/dae-send
PAM_DRIVE=$BUILD/tests/pam-drive
RADIUS_FAKE=$BUILD/tests/radius-fake
TARGET_CC=${DSPPP_TARGET_CC:-cc}

# A private /tmp: what the plug-in keeps there (its lock's key file) and what
# the tests plant there neither touches the host's nor races another test.
# The sandbox, the build and the sources come back at their own paths when
# they live under /tmp.
private_tmp() {
    local host=/run/host-tmp dir
    mkdir -p $host
    mount --rbind /tmp $host
    mount -t tmpfs tmpfs /tmp
    for dir in "$S" "$BUILD" "$SOURCE" ${DS_RELEASE_BUILD:+"$DS_RELEASE_BUILD"}; do
        case $dir in /tmp/*) mkdir -p "$dir" && mount --rbind "$host/${dir#/tmp/}" "$dir" ;; esac
    done
    umount --lazy $host && rmdir $host
}

sandbox_up() {
    # Private scratch space, under the host's /tmp until private_tmp.
    S=$DSPPP_SANDBOX
    mount -t tmpfs tmpfs "$S"
    mkdir -p $S/etc-upper $S/etc-work $S/bin $S/dev
    mount -t overlay overlay -o lowerdir=/etc,upperdir=$S/etc-upper,workdir=$S/etc-work /etc
    mkdir -p /etc/ppp /etc/pam.d
    mount -t tmpfs tmpfs /etc/ppp
    mount -t tmpfs tmpfs /etc/pam.d
    mount -t tmpfs tmpfs /run
    private_tmp
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
    # Programs built for another CPU run under its emulator (a command line,
    # such as qemu-user with its library prefix): the tests call them through
    # small wrappers, so every script runs unchanged.
    if [ -n "${DSPPP_EMULATOR:-}" ]; then
        local name
        for name in SIM DSCONF DSACCT DSDAE DAE_SEND PAM_DRIVE RADIUS_FAKE; do
            printf '#!/bin/sh\nexec %s %s "$@"\n' "$DSPPP_EMULATOR" "${!name}" >$S/bin/target-${name,,}
            chmod +x $S/bin/target-${name,,}
            printf -v $name '%s' $S/bin/target-${name,,}
        done
    fi
    "$DSCONF" build - <<<'{}' >/dev/null
}
sandbox_up

source "$(dirname "${BASH_SOURCE[0]}")/assert.sh"

# Under an emulator: names a check it cannot make, and why, and succeeds.
emulator_limit() { # WHAT WHY
    [ -n "${DSPPP_EMULATOR:-}" ] || return 1
    echo "# SKIP under ${DSPPP_EMULATOR##*/}: $1 ($2)"
}

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
sim() { "$SIM" --plugin "$PLUGIN" --json "$@"; }
