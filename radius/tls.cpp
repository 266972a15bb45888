// SPDX-License-Identifier: BSD-3-Clause
#include "radius/tls.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "radius/packet.h"

namespace radius {

namespace {

constexpr std::size_t kErrorText = 256;
// OpenSSL's level 1: at least 80 bits of security, and no anonymous suites.
constexpr int kMinSecurityLevel = 1;

// Returns OpenSSL's reason for the last failure, or errno's.
std::string last_error() {
    char text[kErrorText] = {};
    unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (e != 0) {
        ERR_error_string_n(e, text, sizeof text);
        return text;
    }
    return errno != 0 ? std::strerror(errno) : "no reason given";
}

// A key with a passphrase cannot be used: never prompt for one.
int no_passphrase(char *, int, int, void *) { return 0; }

struct bio_free {
    void operator()(BIO *b) const { BIO_free(b); }
};
struct x509_free {
    void operator()(X509 *x) const { X509_free(x); }
};
using bio_ptr = std::unique_ptr<BIO, bio_free>;
using x509_ptr = std::unique_ptr<X509, x509_free>;

// Returns a memory BIO over PEM text read (and checked) with the configuration.
bio_ptr pem_bio(const char *data, std::size_t size) { return bio_ptr(BIO_new_mem_buf(data, static_cast<int>(size))); }

// Returns the next certificate of `bio`, or nothing at its end.
x509_ptr next_certificate(BIO *bio) {
    ERR_set_mark();
    x509_ptr cert(PEM_read_bio_X509(bio, nullptr, no_passphrase, nullptr));
    // The end of the text is reported as an error too: not a failure here.
    ERR_pop_to_mark();
    return cert;
}

// Returns whether every certificate of the CA text (at least one) is now a
// trust anchor of `ctx`.
bool load_trust_anchors(SSL_CTX *ctx, const server &s, std::string &why) {
    bio_ptr bio = pem_bio(s.ca_pem.data(), s.ca_pem.size());
    X509_STORE *store = SSL_CTX_get_cert_store(ctx);
    int added = 0;
    for (x509_ptr cert; bio && store && (cert = next_certificate(bio.get())); ++added) {
        if (X509_STORE_add_cert(store, cert.get()) != 1) {
            why = "cannot use ca-file \"" + s.ca_file + "\": " + last_error();
            return false;
        }
    }
    if (added == 0) why = "ca-file \"" + s.ca_file + "\" holds no certificate";
    return added > 0;
}

// Returns whether our certificate (the first of the cert text) and the
// chain after it are now `ctx`'s.
bool load_certificate_chain(SSL_CTX *ctx, const server &s, std::string &why) {
    bio_ptr bio = pem_bio(s.cert_pem.data(), s.cert_pem.size());
    x509_ptr leaf = bio ? next_certificate(bio.get()) : nullptr;
    bool ok = leaf && SSL_CTX_use_certificate(ctx, leaf.get()) == 1;
    for (x509_ptr cert; ok && (cert = next_certificate(bio.get()));)
        ok = SSL_CTX_add1_chain_cert(ctx, cert.get()) == 1;
    if (!ok) why = "cannot use cert-file \"" + s.cert_file + "\": " + (leaf ? last_error() : "no certificate in it");
    return ok;
}

// Returns whether `name` is a literal IPv4 or IPv6 address.
bool is_address(const std::string &name) {
    unsigned char probe[sizeof(in6_addr)];
    return inet_pton(AF_INET, name.c_str(), probe) == 1 || inet_pton(AF_INET6, name.c_str(), probe) == 1;
}

bool load_key(SSL_CTX *ctx, const secret::string &pem, std::string &why) {
    struct key_free {
        void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
    };
    bio_ptr bio = pem_bio(pem.data(), pem.size());
    std::unique_ptr<EVP_PKEY, key_free> key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, no_passphrase, nullptr)
                                                : nullptr);
    if (!key || SSL_CTX_use_PrivateKey(ctx, key.get()) != 1 || SSL_CTX_check_private_key(ctx) != 1) {
        why = "the client key cannot be used: " + last_error();
        return false;
    }
    return true;
}

}  // namespace

tls_link::~tls_link() { close(); }

bool tls_link::open(const server &s, std::string &why) {
    ERR_clear_error();
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (ctx_ == nullptr || SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION) != 1) {
        why = "no TLS context: " + last_error();
        return false;
    }
    // The system configuration may lower the level to 0, which allows
    // anonymous suites: a server without a certificate. Never below ours.
    if (SSL_CTX_get_security_level(ctx_) < kMinSecurityLevel) SSL_CTX_set_security_level(ctx_, kMinSecurityLevel);
    if (!load_trust_anchors(ctx_, s, why) || !load_certificate_chain(ctx_, s, why) || !load_key(ctx_, s.key, why))
        return false;
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
    ssl_ = SSL_new(ctx_);
    if (ssl_ == nullptr) {
        why = "no TLS session: " + last_error();
        return false;
    }
    // The server's certificate must name it: by its name, or its address.
    // Only a DNS name goes out as the server name indication: RFC 6066
    // section 3 does not permit a literal address there.
    const std::string &expected = s.name.empty() ? s.address : s.name;
    bool dns_name = !is_address(expected);
    if (dns_name ? SSL_set1_host(ssl_, expected.c_str()) != 1 || SSL_set_tlsext_host_name(ssl_, expected.c_str()) != 1
                 : X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), expected.c_str()) != 1) {
        why = "cannot set the name to check: " + last_error();
        return false;
    }

    sockaddr_storage addr{};
    socklen_t len = server_sockaddr(s.address, s.auth_port, addr);
    if (len == 0) {
        why = "the server's address is not numeric";
        return false;
    }
    fd_.reset(socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    // One small request after the handshake: Nagle would hold it for the
    // server's delayed acknowledgement of our last handshake message.
    int on = 1;
    if (fd_) setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (!fd_ || (connect(fd_.get(), reinterpret_cast<sockaddr *>(&addr), len) != 0 && errno != EINPROGRESS)) {
        why = std::string("cannot connect: ") + std::strerror(errno);
        return false;
    }
    if (SSL_set_fd(ssl_, fd_.get()) != 1) {
        why = "cannot attach the connection: " + last_error();
        return false;
    }
    return true;
}

tls_link::progress tls_link::ssl_progress(int result, const char *step, std::string &why) {
    int error = SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_WANT_READ) return progress::want_read;
    if (error == SSL_ERROR_WANT_WRITE) return progress::want_write;
    long verified = SSL_get_verify_result(ssl_);
    certificate_failed_ = verified != X509_V_OK;
    if (certificate_failed_)
        why = std::string("the server's certificate failed verification: ") +
              X509_verify_cert_error_string(verified);
    else if (error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0))
        why = std::string(step) + ": the server closed the connection";
    else
        why = std::string(step) + ": " + last_error();
    return progress::failed;
}

tls_link::progress tls_link::handshake(std::string &why) {
    if (!connected_) {
        // Writable: the connect ended; SO_ERROR and the peer tell how.
        int error = 0;
        socklen_t len = sizeof error;
        if (getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
            why = std::string("cannot connect: ") + std::strerror(error != 0 ? error : errno);
            return progress::failed;
        }
        sockaddr_storage peer{};
        socklen_t peer_len = sizeof peer;
        if (getpeername(fd_.get(), reinterpret_cast<sockaddr *>(&peer), &peer_len) != 0)
            return errno == ENOTCONN ? progress::want_write : progress::failed;
        socklen_t local_len = sizeof local_;
        getsockname(fd_.get(), reinterpret_cast<sockaddr *>(&local_), &local_len);
        connected_ = true;
    }
    ERR_clear_error();
    int result = SSL_connect(ssl_);
    if (result != 1) return ssl_progress(result, "TLS handshake", why);
    // Verification judges only a certificate the server sent: a handshake
    // that ended without one, or without a verified one, is no server of ours.
    long verified = SSL_get_verify_result(ssl_);
    if (SSL_get0_peer_certificate(ssl_) == nullptr || verified != X509_V_OK) {
        certificate_failed_ = true;
        why = SSL_get0_peer_certificate(ssl_) == nullptr
                  ? std::string("the server presented no certificate")
                  : std::string("the server's certificate failed verification: ") +
                        X509_verify_cert_error_string(verified);
        return progress::failed;
    }
    return progress::done;
}

tls_link::progress tls_link::send(const std::vector<uint8_t> &bytes, std::string &why) {
    ERR_clear_error();
    int result = SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()));
    return result > 0 ? progress::done : ssl_progress(result, "sending the request", why);
}

tls_link::progress tls_link::receive(std::vector<uint8_t> &reply, std::string &why) {
    for (;;) {
        std::size_t want = kHeaderSize;
        if (received_.size() >= kLengthOffset + 2)
            want = (static_cast<std::size_t>(received_[kLengthOffset]) << 8) | received_[kLengthOffset + 1];
        if (want < kHeaderSize || want > kMaxPacket) {
            why = "the server sent a packet of " + std::to_string(want) + " bytes";
            return progress::failed;
        }
        if (received_.size() >= want && received_.size() >= kHeaderSize) {
            reply.assign(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(want));
            return progress::done;
        }
        uint8_t chunk[kMaxPacket];
        ERR_clear_error();
        int result = SSL_read(ssl_, chunk, static_cast<int>(want - received_.size()));
        if (result <= 0) return ssl_progress(result, "reading the reply", why);
        received_.insert(received_.end(), chunk, chunk + result);
    }
}

void tls_link::close() {
    if (ssl_ != nullptr) {
        if (SSL_is_init_finished(ssl_)) SSL_shutdown(ssl_);
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (ctx_ != nullptr) {
        SSL_CTX_free(ctx_);
        ctx_ = nullptr;
    }
    fd_.reset();
    ERR_clear_error();
}

}  // namespace radius
