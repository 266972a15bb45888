// SPDX-License-Identifier: BSD-3-Clause
#include "pam/radius/tls.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "pam/radius/packet.h"

namespace radius {

namespace {

constexpr std::size_t kErrorText = 256;

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

bool load_key(SSL_CTX *ctx, const secret::string &pem, std::string &why) {
    struct bio_free {
        void operator()(BIO *b) const { BIO_free(b); }
    };
    struct key_free {
        void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
    };
    std::unique_ptr<BIO, bio_free> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
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
    if (SSL_CTX_load_verify_locations(ctx_, s.ca_file.c_str(), nullptr) != 1) {
        why = "cannot load ca-file \"" + s.ca_file + "\": " + last_error();
        return false;
    }
    if (SSL_CTX_use_certificate_chain_file(ctx_, s.cert_file.c_str()) != 1) {
        why = "cannot load cert-file \"" + s.cert_file + "\": " + last_error();
        return false;
    }
    if (!load_key(ctx_, s.key, why)) return false;
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
    ssl_ = SSL_new(ctx_);
    if (ssl_ == nullptr) {
        why = "no TLS session: " + last_error();
        return false;
    }
    // The server's certificate must name it: by its name, or its address.
    bool named = !s.name.empty();
    if (named ? SSL_set1_host(ssl_, s.name.c_str()) != 1 || SSL_set_tlsext_host_name(ssl_, s.name.c_str()) != 1
              : X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), s.address.c_str()) != 1) {
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
    return result == 1 ? progress::done : ssl_progress(result, "TLS handshake", why);
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
