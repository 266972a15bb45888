// SPDX-License-Identifier: BSD-3-Clause
#include "pam/radius/client.h"

#include "base/unique_fd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace radius {

namespace {

using clock = std::chrono::steady_clock;
constexpr int kNoSocket = -1;

// A request on the wire: which server, and what its replies must answer.
struct sent_try {
    std::size_t server;
    uint8_t identifier;
    authenticator auth;
};

// Returns a socket connected to the server's port for `kind`, with its own
// address in `local`, or kNoSocket.
int connect_to(const server &s, service kind, sockaddr_storage &local) {
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
        return kNoSocket;
    }
    int fd = socket(addr.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    socklen_t local_len = sizeof local;
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&local), &local_len) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return kNoSocket;
    }
    return fd;
}

bool expected_code(service kind, uint8_t code) {
    if (kind == service::accounting) return code == accounting_response;
    return code == access_accept || code == access_reject || code == access_challenge;
}

const char *kind_name(service kind) {
    return kind == service::authentication ? "authentication" : "accounting";
}

class exchange_run {
public:
    exchange_run(const config &c, service kind)
        : c_(c), kind_(kind), sockets_(c.servers.size()),
          require_ma_(kind == service::authentication && c.require_message_authenticator) {}

    exchange_result run(const request_builder &build) {
        const auto start = clock::now();
        const auto overall = start + std::chrono::milliseconds(c_.total_timeout_ms);
        for (std::size_t si = 0; si < c_.servers.size(); ++si) {
            const server &s = c_.servers[si];
            sockaddr_storage local{};
            int fd = connect_to(s, kind_, local);
            if (fd == kNoSocket) {
                syslog(LOG_ERR, "pam_dsradius: cannot reach server %s: %m", s.address.c_str());
                continue;
            }
            sockets_[si].reset(fd);
            std::optional<request_bytes> request;
            bool refused = false;
            for (unsigned attempt = 0; attempt <= s.retries && !refused; ++attempt) {
                if (clock::now() >= overall) return {};
                // Accounting tries differ (Acct-Delay-Time); authentication
                // retransmits the very same packet to the same server.
                if (!request || kind_ == service::accounting) {
                    uint8_t id = 0;
                    if (!random_bytes(&id, sizeof id)) return failed();
                    unsigned delay = static_cast<unsigned>(
                        std::chrono::duration_cast<std::chrono::seconds>(clock::now() - start).count());
                    request = build(s, local, id, delay);
                    if (!request) return failed();
                    tries_.push_back({si, id, request->auth});
                }
                sent_ = clock::now();
                if (send(fd, request->bytes.data(), request->bytes.size(), 0) < 0) {
                    syslog(LOG_ERR, "pam_dsradius: send to %s: %m", s.address.c_str());
                    break;
                }
                auto deadline = std::min(sent_ + std::chrono::milliseconds(s.timeout_ms), overall);
                refused = wait_for_replies(si, deadline);
                if (result_) return *result_;
            }
            if (refused)
                syslog(LOG_WARNING, "pam_dsradius: server %s refused the request (port closed)",
                       s.address.c_str());
            syslog(LOG_WARNING, "pam_dsradius: no valid answer from server %s", s.address.c_str());
        }
        return {};
    }

private:
    exchange_result failed() {
        exchange_result r;
        r.how = outcome::failed;
        return r;
    }

    // Waits until `deadline` for a valid reply on any server's socket; returns
    // true when `current` refused the request. A verdict ends in result_.
    bool wait_for_replies(std::size_t current, clock::time_point deadline) {
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
            if (left.count() <= 0) return false;
            std::vector<pollfd> polled;
            std::vector<std::size_t> owners;
            for (std::size_t si = 0; si < sockets_.size(); ++si) {
                if (!sockets_[si]) continue;
                polled.push_back({sockets_[si].get(), POLLIN, 0});
                owners.push_back(si);
            }
            int ready = poll(polled.data(), polled.size(), static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return false;
            for (std::size_t i = 0; i < polled.size(); ++i) {
                if (polled[i].revents == 0) continue;
                std::size_t si = owners[i];
                uint8_t reply[kMaxPacket];
                ssize_t got = recv(polled[i].fd, reply, sizeof reply, 0);
                if (got < 0) {
                    if (errno != ECONNREFUSED) continue;
                    if (si == current) return true;
                    sockets_[si].reset();
                    continue;
                }
                judge(si, reply, static_cast<std::size_t>(got));
                if (result_) return false;
            }
        }
    }

    // Checks a datagram from server `si` against every try sent to it.
    void judge(std::size_t si, const uint8_t *bytes, std::size_t size) {
        const server &s = c_.servers[si];
        reply_check verdict = reply_check::wrong_identifier;
        for (const sent_try &t : tries_) {
            if (t.server != si || size < kHeaderSize || bytes[1] != t.identifier) continue;
            packet decoded;
            reply_expectation want{t.identifier, t.auth, kind_ == service::accounting, require_ma_};
            verdict = check_reply(bytes, size, want, s.secret, &decoded);
            if (verdict == reply_check::crypto_failure) {
                result_ = failed();
                return;
            }
            if (verdict != reply_check::ok) continue;
            if (!expected_code(kind_, decoded.code)) {
                syslog(LOG_WARNING, "pam_dsradius: ignoring unexpected reply from %s", s.address.c_str());
                return;
            }
            auto us = std::chrono::duration_cast<std::chrono::microseconds>(clock::now() - sent_);
            syslog(LOG_DEBUG, "pam_dsradius: %s answered by %s in %lld us", kind_name(kind_),
                   s.address.c_str(), static_cast<long long>(us.count()));
            result_ = exchange_result{outcome::answered, std::move(decoded)};
            return;
        }
        if (size < kHeaderSize) verdict = reply_check::malformed;
        syslog(LOG_WARNING, "pam_dsradius: ignoring %s reply from %s", describe(verdict), s.address.c_str());
    }

    const config &c_;
    service kind_;
    // One socket per server, each kept open until the exchange ends so that a
    // late reply to an earlier server's try is still heard.
    std::vector<base::unique_fd> sockets_;
    bool require_ma_;
    std::vector<sent_try> tries_;
    clock::time_point sent_;
    std::optional<exchange_result> result_;
};

}  // namespace

exchange_result exchange(const config &c, service kind, const request_builder &build) {
    return exchange_run(c, kind).run(build);
}

}  // namespace radius
