// SPDX-License-Identifier: BSD-3-Clause
// RADIUS over TLS (RFC 6614): one connection for one transaction. TCP, then
// TLS 1.2 or later with our certificate; the server's must chain to the
// configured CA and carry the configured name (or the server's address).
// Every step is non-blocking, so the exchange can watch its UDP sockets too.
#pragma once

#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "radius/config.h"

namespace radius {

class tls_link {
public:
    enum class progress { done, want_read, want_write, failed };

    tls_link() = default;
    tls_link(const tls_link &) = delete;
    tls_link &operator=(const tls_link &) = delete;
    ~tls_link();

    // Prepares the TLS context for `s` and starts connecting; returns false
    // with `why` (naming the file or call) when that cannot be done.
    bool open(const server &s, std::string &why);
    int fd() const { return fd_.get(); }
    // The address the connection leaves from (once connected).
    const sockaddr_storage &local() const { return local_; }

    // Each returns done, what to wait for before calling again, or failed
    // with `why`; a failed certificate check is named as such.
    progress handshake(std::string &why);
    progress send(const std::vector<uint8_t> &bytes, std::string &why);
    progress receive(std::vector<uint8_t> &reply, std::string &why);

    // Sends close_notify (without waiting for the server's) and closes.
    void close();

    // Whether the last failure was the server's certificate: another
    // connection would fail the same way.
    bool certificate_failed() const { return certificate_failed_; }

private:
    progress ssl_progress(int result, const char *step, std::string &why);

    SSL_CTX *ctx_ = nullptr;
    SSL *ssl_ = nullptr;
    base::unique_fd fd_;
    bool connected_ = false;
    bool certificate_failed_ = false;
    sockaddr_storage local_{};
    std::vector<uint8_t> received_;
};

// Returns how a step of a tls_link (handshake, send, receive) ended: it runs
// again after each `wait(events)` (POLLIN or POLLOUT on the link) that
// returns true; one that returns false fails it.
template <typename Step, typename Wait>
tls_link::progress drive(Step step, Wait wait) {
    for (;;) {
        tls_link::progress p = step();
        if (p == tls_link::progress::done || p == tls_link::progress::failed) return p;
        if (!wait(static_cast<short>(p == tls_link::progress::want_read ? POLLIN : POLLOUT)))
            return tls_link::progress::failed;
    }
}

}  // namespace radius
