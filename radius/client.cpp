// SPDX-License-Identifier: BSD-3-Clause
#include "radius/client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cstring>

#include "base/signals.h"
#include "base/unique_fd.h"
#include "radius/hold_down.h"
#include "radius/log_name.h"
#include "radius/probe.h"
#include "radius/tls.h"

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

}  // namespace

int connect_udp(const server &s, service kind, sockaddr_storage &local) {
    unsigned port = kind == service::authentication ? s.auth_port : s.acct_port;
    sockaddr_storage addr{};
    socklen_t len = server_sockaddr(s.address, port, addr);
    if (len == 0) return kNoSocket;
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

server_key key_of(const server &s, service kind) {
    bool tls = s.via == transport::tls;
    return {tls ? "tls" : "udp", s.address, kind == service::authentication || tls ? s.auth_port : s.acct_port};
}

mark_rules rules_of(const config &c, service kind) {
    mark_rules rules{c.hold_down_s, {}};
    for (const server &s : c.servers)
        if (s.status_server) rules.sticky.push_back(key_of(s, kind));
    return rules;
}

namespace {

bool expected_code(service kind, uint8_t code) {
    if (kind == service::accounting) return code == accounting_response;
    return code == access_accept || code == access_reject || code == access_challenge;
}

const char *kind_name(service kind) {
    return kind == service::authentication ? "authentication" : "accounting";
}

// Returns the servers of `c` for `kind` that `dead` does not name, in order.
std::vector<std::size_t> not_in(const std::vector<server_key> &dead, const config &c, service kind) {
    std::vector<std::size_t> alive;
    for (std::size_t si = 0; si < c.servers.size(); ++si)
        if (std::find(dead.begin(), dead.end(), key_of(c.servers[si], kind)) == dead.end()) alive.push_back(si);
    return alive;
}

std::string describe_server(const server_key &k) {
    return k.address + " (" + k.transport + " port " + std::to_string(k.port) + ")";
}

class exchange_run {
public:
    exchange_run(const config &c, service kind)
        : c_(c), kind_(kind), sockets_(c.servers.size()), failed_(c.servers.size(), false),
          require_ma_(kind == service::authentication && c.require_message_authenticator) {}

    exchange_result run(const request_builder &build) {
        start_ = clock::now();
        overall_ = start_ + std::chrono::milliseconds(c_.total_timeout_ms);
        std::vector<server_key> dead;
        int64_t now = state_now();
        const mark_rules rules = rules_of(c_, kind_);
        if (c_.hold_down_s > 0) dead = dead_servers(kStateDir, now, rules);
        probe_run probes = start_probes(c_, kind_, dead, now);
        for (std::size_t si : servers_to_ask(dead, c_, kind_)) {
            if (c_.servers[si].via == transport::tls)
                try_tls(si, build);
            else
                try_udp(si, build);
            if (result_) break;
            if (clock::now() >= overall_) break;
        }
        if (c_.hold_down_s > 0 && (!result_ || result_->how == outcome::answered)) remember(dead, now, rules);
        finish_probes(c_, probes);
        return result_ ? *result_ : exchange_result{};
    }

private:
    enum class wait_end { deadline, refused, ready, finished };

    // Marks every server whose own tries failed dead for the hold-down, and
    // clears the one that answered; logs only what changes. A server whose
    // tries another server's answer or the overall deadline cut short is
    // left as it was.
    void remember(const std::vector<server_key> &dead, int64_t now, const mark_rules &rules) {
        std::vector<server_change> changes;
        for (std::size_t si = 0; si < c_.servers.size(); ++si) {
            server_key key = key_of(c_.servers[si], kind_);
            bool was_dead = std::find(dead.begin(), dead.end(), key) != dead.end();
            if (answered_by_ == si) {
                if (!was_dead) continue;
                syslog(LOG_NOTICE, "%s: server %s answered again; no longer skipped", log_name,
                       describe_server(key).c_str());
                changes.push_back({key, false, 0});
            } else if (failed_[si]) {
                if (!was_dead)
                    syslog(LOG_WARNING, "%s: server %s did not answer; skipped for %u s", log_name,
                           describe_server(key).c_str(), c_.hold_down_s);
                changes.push_back({key, true, now + c_.hold_down_s});
            }
        }
        record_changes(kStateDir, changes, now, rules);
    }

    exchange_result failed() {
        exchange_result r;
        r.how = outcome::failed;
        return r;
    }

    // Returns whether an earlier try to server `si` used identifier `id`.
    bool identifier_used(std::size_t si, uint8_t id) const {
        for (const sent_try &t : tries_)
            if (t.server == si && t.identifier == id) return true;
        return false;
    }

    // Builds a request for server `si` from `local` and records its try.
    // Each try to a server has an identifier of its own: an accounting try
    // differs from the last (Acct-Delay-Time), and RFC 5080 section 2.2.1
    // wants a new identifier for new content.
    std::optional<request_bytes> build_try(std::size_t si, const sockaddr_storage &local,
                                           const request_builder &build) {
        uint8_t id = 0;
        if (!random_bytes(&id, sizeof id)) {
            result_ = failed();
            return std::nullopt;
        }
        static_assert(kMaxRetries + 1 <= UINT8_MAX, "a server's tries always leave an identifier free");
        while (identifier_used(si, id)) ++id;
        unsigned delay = static_cast<unsigned>(
            std::chrono::duration_cast<std::chrono::seconds>(clock::now() - start_).count());
        auto request = build(c_.servers[si], local, id, delay);
        if (!request) {
            result_ = failed();
            return std::nullopt;
        }
        tries_.push_back({si, id, request->auth});
        return request;
    }

    void try_udp(std::size_t si, const request_builder &build) {
        const server &s = c_.servers[si];
        sockaddr_storage local{};
        int fd = connect_udp(s, kind_, local);
        if (fd == kNoSocket) {
            syslog(LOG_ERR, "%s: cannot reach server %s: %m", log_name, s.address.c_str());
            failed_[si] = true;
            return;
        }
        sockets_[si].reset(fd);
        std::optional<request_bytes> request;
        bool refused = false;
        for (unsigned attempt = 0; attempt <= s.retries && !refused; ++attempt) {
            if (clock::now() >= overall_) return;
            // Accounting tries differ (Acct-Delay-Time); authentication
            // retransmits the very same packet to the same server.
            if (!request || kind_ == service::accounting) {
                request = build_try(si, local, build);
                if (!request) return;
            }
            sent_ = clock::now();
            if (::send(fd, request->bytes.data(), request->bytes.size(), 0) < 0) {
                syslog(LOG_ERR, "%s: send to %s: %m", log_name, s.address.c_str());
                break;
            }
            auto own = sent_ + std::chrono::milliseconds(s.timeout_ms);
            wait_end end = wait(si, std::min(own, overall_), kNoSocket, 0);
            if (result_) return;
            // The overall deadline, not this try's own, ended the wait.
            if (end == wait_end::deadline && overall_ < own) return;
            refused = end == wait_end::refused;
        }
        if (refused)
            syslog(LOG_WARNING, "%s: server %s refused the request (port closed)", log_name, s.address.c_str());
        syslog(LOG_WARNING, "%s: no valid answer from server %s", log_name, s.address.c_str());
        failed_[si] = true;
    }

    void try_tls(std::size_t si, const request_builder &build) {
        const server &s = c_.servers[si];
        for (unsigned attempt = 0; attempt <= s.retries; ++attempt) {
            if (clock::now() >= overall_ || result_) return;
            std::string why;
            tls_end end = tls_attempt(si, build, why);
            if (result_ || end == tls_end::cut_short) return;
            syslog(LOG_WARNING, "%s: TLS server %s: %s", log_name, s.address.c_str(), why.c_str());
            if (end == tls_end::failed_for_good) break;
        }
        syslog(LOG_WARNING, "%s: no valid answer from server %s", log_name, s.address.c_str());
        failed_[si] = true;
    }

    enum class tls_end {
        failed,           // another connection may fare better
        failed_for_good,  // the configuration or the server's certificate is at fault
        cut_short,        // another server's answer or the overall deadline ended it
    };

    // One connection with its exchange, bounded by the server's timeout.
    tls_end tls_attempt(std::size_t si, const request_builder &build, std::string &why) {
        const server &s = c_.servers[si];
        base::sigpipe_held no_sigpipe;  // the server may close before we write
        tls_link link;
        if (!link.open(s, why)) return tls_end::failed_for_good;
        sent_ = clock::now();
        auto own = sent_ + std::chrono::milliseconds(s.timeout_ms);
        auto deadline = std::min(own, overall_);
        bool cut_short = false;
        // Between steps: the link, and late UDP replies.
        auto wait_for = [&](short events) {
            wait_end end = wait(si, deadline, link.fd(), events);
            if (end == wait_end::ready) return true;
            cut_short = result_.has_value() || (end == wait_end::deadline && overall_ < own);
            return false;
        };
        auto drive = [&](auto step) { return radius::drive(step, wait_for); };
        auto timed_out = [&] {
            if (why.empty()) why = "no answer within " + std::to_string(s.timeout_ms) + " ms";
        };
        if (drive([&] { return link.handshake(why); }) != tls_link::progress::done) {
            timed_out();
            if (cut_short) return tls_end::cut_short;
            return link.certificate_failed() ? tls_end::failed_for_good : tls_end::failed;
        }
        auto request = build_try(si, link.local(), build);
        if (!request) return tls_end::failed_for_good;
        std::vector<uint8_t> reply;
        if (drive([&] { return link.send(request->bytes, why); }) != tls_link::progress::done ||
            drive([&] { return link.receive(reply, why); }) != tls_link::progress::done) {
            timed_out();
            return cut_short ? tls_end::cut_short : tls_end::failed;
        }
        link.close();
        judge(si, reply.data(), reply.size());
        if (!result_) why = "its reply was not valid";
        return tls_end::failed;
    }

    // Waits until `deadline` for a valid reply on any UDP server's socket,
    // and for `events` on `extra`; returns why it stopped. A verdict ends in
    // result_; `current` refusing a UDP request is `refused`.
    wait_end wait(std::size_t current, clock::time_point deadline, int extra, short events) {
        for (;;) {
            if (result_) return wait_end::finished;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
            if (left.count() <= 0) return wait_end::deadline;
            std::vector<pollfd> polled;
            std::vector<std::size_t> owners;
            for (std::size_t si = 0; si < sockets_.size(); ++si) {
                if (!sockets_[si]) continue;
                polled.push_back({sockets_[si].get(), POLLIN, 0});
                owners.push_back(si);
            }
            if (extra != kNoSocket) polled.push_back({extra, events, 0});
            int ready = poll(polled.data(), polled.size(), static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return wait_end::deadline;
            for (std::size_t i = 0; i < owners.size(); ++i) {
                if (polled[i].revents == 0) continue;
                std::size_t si = owners[i];
                uint8_t reply[kMaxPacket];
                ssize_t got = recv(polled[i].fd, reply, sizeof reply, 0);
                if (got < 0) {
                    if (errno != ECONNREFUSED) continue;
                    if (si == current) return wait_end::refused;
                    sockets_[si].reset();
                    continue;
                }
                judge(si, reply, static_cast<std::size_t>(got));
                if (result_) return wait_end::finished;
            }
            if (extra != kNoSocket && polled.back().revents != 0) return wait_end::ready;
        }
    }

    // Checks a reply from server `si` against every try sent to it.
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
                syslog(LOG_WARNING, "%s: ignoring unexpected reply from %s", log_name, s.address.c_str());
                return;
            }
            auto us = std::chrono::duration_cast<std::chrono::microseconds>(clock::now() - sent_);
            syslog(LOG_DEBUG, "%s: %s answered by %s in %lld us", log_name, kind_name(kind_), s.address.c_str(),
                   static_cast<long long>(us.count()));
            result_ = exchange_result{outcome::answered, std::move(decoded), si};
            answered_by_ = si;
            return;
        }
        if (size < kHeaderSize) verdict = reply_check::malformed;
        syslog(LOG_WARNING, "%s: ignoring %s reply from %s", log_name, describe(verdict), s.address.c_str());
    }

    const config &c_;
    service kind_;
    // One socket per UDP server, each kept open until the exchange ends so
    // that a late reply to an earlier server's try is still heard.
    std::vector<base::unique_fd> sockets_;
    // Servers whose own tries ended without a valid answer.
    std::vector<bool> failed_;
    bool require_ma_;
    std::vector<sent_try> tries_;
    clock::time_point start_, overall_, sent_;
    std::optional<exchange_result> result_;
    std::size_t answered_by_ = SIZE_MAX;
};

}  // namespace

std::vector<std::size_t> unmarked_servers(const config &c, service kind) {
    std::vector<server_key> dead;
    if (c.hold_down_s > 0) dead = dead_servers(kStateDir, state_now(), rules_of(c, kind));
    return not_in(dead, c, kind);
}

std::vector<std::size_t> servers_to_ask(const std::vector<server_key> &dead, const config &c, service kind) {
    std::vector<std::size_t> alive = not_in(dead, c, kind);
    return alive.empty() ? not_in({}, c, kind) : alive;
}

exchange_result exchange(const config &c, service kind, const request_builder &build) {
    return exchange_run(c, kind).run(build);
}

}  // namespace radius
