# SPDX-License-Identifier: BSD-3-Clause
# Sourced after lib.sh: a private FreeRADIUS on loopback high ports, hostile
# servers from radius-fake, and the "ppp" and "ds_no_auth" stacks on
# pam_dsradius and pam_dslocal.
RADIUS_MODULE=$BUILD/pam/pam_dsradius.so
LOCAL_MODULE=$BUILD/pam/pam_dslocal.so
FAKE=$RADIUS_FAKE
DRIVE=$PAM_DRIVE
SECRET=s3cret-for-tests
AUTH_PORT=18121
ACCT_PORT=18131
R=$S/radius
FR_SQL=/etc/freeradius/3.0/mods-config/sql/main/sqlite  # FreeRADIUS's schema and queries

# wait_udp PORT: returns once something listens on the UDP port (or gives up).
wait_udp() {
    for _ in $(seq 100); do ss -Hlun | grep -q ":$1 " && return 0; sleep 0.05; done
    return 1
}

# radius_stacks: the module's configuration (FreeRADIUS's ports), its secret,
# the stacks for pppd-sim and "login", a stack for pam-drive.
radius_stacks() {
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
    mkdir -p $S/pam.d
    printf 'auth required %s conf=%s\nsession required %s conf=%s\n' $RADIUS_MODULE $S/dsradius.conf \
        $RADIUS_MODULE $S/dsradius.conf >$S/pam.d/login
}

# start_freeradius USERS-FILE-TEXT
start_freeradius() {
    mkdir -p $R/log $R/acct $R/run $R/sql
    sqlite3 $R/sql/radacct.db <$FR_SQL/schema.sql || return 1
    sed -e "s#@DIR@#$R#g; s#@SECRET@#$SECRET#; s#@AUTH_PORT@#$AUTH_PORT#; s#@ACCT_PORT@#$ACCT_PORT#" \
        -e "s#@SQL_QUERIES@#$FR_SQL/queries.conf#" "$SOURCE/tests/e2e/radius/radiusd.conf.in" >$R/radiusd.conf
    printf '%s\n' "$1" >$R/users
    freeradius -f -d $R -l $R/log/radius.log &
    if ! wait_udp $ACCT_PORT; then
        echo "FreeRADIUS did not start; its log:" >&2
        tail -20 $R/log/radius.log >&2
        return 1
    fi
    radius_stacks
}

# start_freeradius_tls USERS-FILE-TEXT: the same server, also listening for
# RADIUS over TLS on TLS_PORT (client certificates of $PKI/ca.pem required).
TLS_PORT=18283
PKI=$S/pki
start_freeradius_tls() {
    source "$SOURCE/tests/e2e/radius/certs.sh"
    make_certs $PKI
    mkdir -p $R
    sed -e "s#@TLS_PORT@#$TLS_PORT#; s#@PKI@#$PKI#g" "$SOURCE/tests/e2e/radius/tls.conf.in" >$R/tls.conf
    start_freeradius "$1" || return 1
    for _ in $(seq 100); do ss -Hltn | grep -q ":$TLS_PORT " && return 0; sleep 0.05; done
    return 1
}

# tls_line [OPTION VALUE]...: a TLS server line with the test PKI.
tls_line() {
    echo "server 127.0.0.1 tls port $TLS_PORT ca-file $PKI/ca.pem cert-file $PKI/client.pem" \
         "key-file $PKI/client.key timeout 2 retries 0 $*"
}

# start_fake PORT MODE: a radius-fake server (FAKE_LOG, FAKE_DELAY_MS from
# the caller's environment), ready when this returns.
start_fake() {
    "$FAKE" "$1" $SECRET "$2" &
    wait_udp "$1"
}

# start_fake_tls PORT WHAT: a radius-fake RADIUS/TLS server (FAKE_TLS=WHAT:
# "anon" or a certificate's path prefix) answering correctly, ready when this returns.
start_fake_tls() {
    FAKE_TLS=$2 "$FAKE" "$1" radsec good &
    for _ in $(seq 100); do ss -Hltn | grep -q ":$1 " && return 0; sleep 0.05; done
    return 1
}

# module_conf LINE...: the module's configuration, server lines first.
# Failover memory is off unless a test asks for it (a later "hold-down").
module_conf() {
    printf '%s\n' "hold-down 0" "$@" "nas-identifier dsppp-test" >$S/dsradius.conf
}

# The accounting records FreeRADIUS wrote, one paragraph each; and the
# Access-Requests it received.
detail() { cat $R/acct/detail 2>/dev/null; }
# radacct SQL: what FreeRADIUS's SQL accounting holds, one row per line.
radacct() { sqlite3 -separator ' ' $R/sql/radacct.db "$1"; }
auth_detail() { cat $R/acct/auth-detail 2>/dev/null; }
