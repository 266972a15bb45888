# SPDX-License-Identifier: BSD-3-Clause
# Sourced after lib.sh: starts a private FreeRADIUS on loopback high ports
# and points the "ppp" and "ds_no_auth" stacks at pam_dsradius and pam_dslocal.
RADIUS_MODULE=$BUILD/pam/pam_dsradius.so
LOCAL_MODULE=$BUILD/pam/pam_dslocal.so
SECRET=s3cret-for-tests
AUTH_PORT=18121
ACCT_PORT=18131
R=$S/radius

# start_freeradius USERS-FILE-TEXT
start_freeradius() {
    mkdir -p $R/log $R/acct $R/run
    sed -e "s#@DIR@#$R#g; s#@SECRET@#$SECRET#; s#@AUTH_PORT@#$AUTH_PORT#; s#@ACCT_PORT@#$ACCT_PORT#" \
        "$SOURCE/tests/e2e/radius/radiusd.conf.in" >$R/radiusd.conf
    printf '%s\n' "$1" >$R/users
    freeradius -f -d $R -l $R/log/radius.log &
    for _ in $(seq 100); do ss -Hlun | grep -q ":$ACCT_PORT" && break; sleep 0.05; done
    if ! ss -Hlun | grep -q ":$ACCT_PORT"; then
        echo "FreeRADIUS did not start; its log:" >&2
        tail -20 $R/log/radius.log >&2
        return 1
    fi
    printf '%s\n' "$SECRET" >$S/radius.secret
    chmod 600 $S/radius.secret
    module_conf "server 127.0.0.1 auth-port $AUTH_PORT acct-port $ACCT_PORT secret-file $S/radius.secret timeout 1 retries 1"
    cat >/etc/pam.d/ppp <<PAM
auth     sufficient $RADIUS_MODULE conf=$S/dsradius.conf
auth     required   $LOCAL_MODULE
account  required   $RADIUS_MODULE conf=$S/dsradius.conf
session  required   $RADIUS_MODULE conf=$S/dsradius.conf
PAM
    printf 'auth required pam_permit.so\naccount required pam_permit.so\n' >/etc/pam.d/ds_no_auth
    printf 'auth required pam_deny.so\naccount required pam_deny.so\n' >/etc/pam.d/other
}

# module_conf LINE...: the module's configuration, server lines first.
module_conf() {
    printf '%s\n' "$@" "nas-identifier dsppp-test" >$S/dsradius.conf
}

# The accounting records FreeRADIUS wrote, one paragraph each.
detail() { cat $R/acct/detail 2>/dev/null; }
