// SPDX-License-Identifier: BSD-3-Clause
#include "pam/radius/client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

namespace radius {

namespace {

using clock = std::chrono::steady_clock;

struct scoped_socket {
    int fd = -1;
    ~scoped_socket() {
        if (fd >= 0) close(fd);
    }
};

// Returns a socket connected to the server's port for `kind`, or -1.
int connect_to(const server &s, service kind) {
    unsigned port = kind == service::authentication ? s.auth_port : s.acct_port;
    sockaddr_storage addr{};
    socklen_t len = 0;
    auto *v4 = reinterpret_cast<sockaddr_in *>(&addr);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&addr);
    if (inet_pton(AF_INET, s.address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        len = sizeof *v4;
    } else if (inet_pton(AF_INET6, s.address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        len = sizeof *v6;
    } else {
        return -1;
    }
    int fd = socket(addr.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

uint8_t random_identifier() {
    uint8_t id = 0;
    if (getrandom(&id, sizeof id, 0) != sizeof id) id = static_cast<uint8_t>(clock::now().time_since_epoch().count());
    return id;
}

bool expected_code(service kind, uint8_t code) {
    if (kind == service::accounting) return code == accounting_response;
    return code == access_accept || code == access_reject || code == access_challenge;
}

}  // namespace

std::optional<packet> exchange(const config &c, service kind, const request_builder &build) {
    const auto start = clock::now();
    const auto overall = start + std::chrono::milliseconds(c.total_timeout_ms);
    // An accounting reply carries no Message-Authenticator by custom.
    bool require_ma = kind == service::authentication && c.require_message_authenticator;
    for (const server &s : c.servers) {
        scoped_socket sock{connect_to(s, kind)};
        if (sock.fd < 0) {
            syslog(LOG_ERR, "pam_dsradius: cannot reach server %s: %m", s.address.c_str());
            continue;
        }
        for (unsigned attempt = 0; attempt <= s.retries; ++attempt) {
            if (clock::now() >= overall) return std::nullopt;
            uint8_t id = random_identifier();
            unsigned delay = static_cast<unsigned>(
                std::chrono::duration_cast<std::chrono::seconds>(clock::now() - start).count());
            authenticator request_auth{};
            auto bytes = build(s, id, delay, request_auth);
            if (!bytes) return std::nullopt;
            if (send(sock.fd, bytes->data(), bytes->size(), 0) < 0) {
                syslog(LOG_ERR, "pam_dsradius: send to %s: %m", s.address.c_str());
                break;
            }
            const auto sent = clock::now();
            auto deadline = std::min(sent + std::chrono::milliseconds(s.timeout_ms), overall);
            bool refused = false;
            while (!refused) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
                if (left.count() <= 0) break;
                pollfd p{sock.fd, POLLIN, 0};
                int ready = poll(&p, 1, static_cast<int>(left.count()));
                if (ready < 0 && errno == EINTR) continue;
                if (ready <= 0) break;
                uint8_t reply[kMaxPacket];
                ssize_t got = recv(sock.fd, reply, sizeof reply, 0);
                if (got < 0) {
                    refused = errno == ECONNREFUSED;
                    continue;
                }
                packet decoded;
                reply_check verdict = check_reply(reply, static_cast<std::size_t>(got), id, request_auth,
                                                  s.secret, require_ma, &decoded);
                bool valid = verdict == reply_check::ok;
                if (valid && expected_code(kind, decoded.code)) {
                    auto us = std::chrono::duration_cast<std::chrono::microseconds>(clock::now() - sent);
                    syslog(LOG_DEBUG, "pam_dsradius: %s answered by %s in %lld us",
                           kind == service::authentication ? "authentication" : "accounting",
                           s.address.c_str(), static_cast<long long>(us.count()));
                    return decoded;
                }
                syslog(LOG_WARNING, "pam_dsradius: ignoring %s reply from %s",
                       valid ? "unexpected" : describe(verdict), s.address.c_str());
            }
            if (refused) {
                syslog(LOG_WARNING, "pam_dsradius: server %s refused the request (port closed)",
                       s.address.c_str());
                break;
            }
        }
        syslog(LOG_WARNING, "pam_dsradius: no valid answer from server %s", s.address.c_str());
    }
    return std::nullopt;
}

}  // namespace radius
