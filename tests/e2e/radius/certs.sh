# SPDX-License-Identifier: BSD-3-Clause
# Sourced: make_certs DIR writes a test PKI: ca.pem, server.pem/.key (for
# 127.0.0.1 and radius.test), dns-only.pem/.key (radius.test alone),
# client.pem/.key, and other-ca.pem with other-client.pem/.key signed by it. EC keys, so it takes a moment only.
make_certs() {
    local d=$1
    mkdir -p "$d" && (
        cd "$d" || exit 1
        key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null; }
        ca() {
            key "$1"
            openssl req -x509 -new -key "$1.key" -subj "/CN=$1" -days 30 -out "$1.pem" \
                -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
        }
        # cert NAME CA SAN USAGE
        cert() {
            key "$1"
            openssl req -new -key "$1.key" -subj "/CN=$1" -out "$1.csr" 2>/dev/null
            printf 'subjectAltName=%s\nextendedKeyUsage=%s\n' "$3" "$4" >"$1.ext"
            openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days 30 \
                -extfile "$1.ext" -out "$1.pem" 2>/dev/null
        }
        ca ca && ca other-ca &&
            cert server ca "IP:127.0.0.1,DNS:radius.test" serverAuth &&
            cert dns-only ca "DNS:radius.test" serverAuth &&
            cert client ca "DNS:nas.test" clientAuth &&
            cert other-client other-ca "DNS:nas.test" clientAuth
        chmod 600 ./*.key
    )
}
