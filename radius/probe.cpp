// SPDX-License-Identifier: BSD-3-Clause
#include "radius/probe.h"

#include <poll.h>
#include <sys/socket.h>
#include <syslog.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "base/signals.h"
#include "radius/hold_down.h"
#include "radius/log_name.h"
#include "radius/nas.h"
#include "radius/tls.h"

namespace radius {

namespace {

using clock = std::chrono::steady_clock;

int ms_until(clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Sends probe `p` over UDP; returns false (the socket closed) when it could not.
bool send_udp_probe(const config &c, service kind, probe &p) {
    const server &s = c.servers[p.server];
    sockaddr_storage local{};
    int fd = connect_udp(s, kind, local);
    if (fd < 0) return false;
    p.socket.reset(fd);
    auto request = status_server_request(c, s, local);
    if (!request || ::send(fd, request->bytes.data(), request->bytes.size(), 0) < 0) {
        p.socket.reset();
        return false;
    }
    p.identifier = request->bytes[1];
    p.auth = request->auth;
    return true;
}

// Runs TLS probe `p` (one connection, one Status-Server) until `deadline`;
// returns whether the server answered it validly.
bool run_tls_probe(const config &c, service kind, probe &p, clock::time_point deadline) {
    const server &s = c.servers[p.server];
    base::sigpipe_held no_sigpipe;
    tls_link link;
    std::string why;
    if (!link.open(s, why)) return false;
    auto wait_for = [&](short events) {
        pollfd waiting{link.fd(), events, 0};
        int ready;
        do ready = poll(&waiting, 1, ms_until(deadline));
        while (ready < 0 && errno == EINTR);
        return ready > 0;
    };
    auto drive = [&](auto step) { return radius::drive(step, wait_for) == tls_link::progress::done; };
    if (!drive([&] { return link.handshake(why); })) return false;
    auto request = status_server_request(c, s, link.local());
    if (!request) return false;
    p.identifier = request->bytes[1];
    p.auth = request->auth;
    std::vector<uint8_t> reply;
    if (!drive([&] { return link.send(request->bytes, why); }) || !drive([&] { return link.receive(reply, why); }))
        return false;
    link.close();
    return answers_probe(s, kind, p, reply.data(), reply.size());
}

}  // namespace

std::optional<request_bytes> status_server_request(const config &c, const server &s, const sockaddr_storage &local) {
    packet p;
    p.code = status_server;
    if (!random_bytes(&p.identifier, sizeof p.identifier) || !random_bytes(p.auth.data(), p.auth.size()))
        return std::nullopt;
    add_nas_identity(c, local, p);
    auto bytes = encode_access_request(p, s.secret);  // signed as an Access-Request is
    if (!bytes) return std::nullopt;
    return request_bytes{std::move(*bytes), p.auth};
}

bool answers_probe(const server &s, service kind, const probe &p, const uint8_t *reply, std::size_t size) {
    // A reply to a Status-Server is signed over the probe's Request
    // Authenticator, from an accounting port too. FreeRADIUS (3.2) answers
    // without a Message-Authenticator: the Response Authenticator proves it
    // (one that is there must be valid). A forged answer could only bring a
    // server back early, never a caller in.
    reply_expectation want{p.identifier, p.auth, false, false};
    packet decoded;
    if (check_reply(reply, size, want, s.secret, &decoded) != reply_check::ok) return false;
    bool accounting_port = kind == service::accounting && s.via == transport::udp;
    return decoded.code == (accounting_port ? accounting_response : access_accept);
}

probe_run start_probes(const config &c, service kind, const std::vector<server_key> &dead, int64_t now) {
    probe_run run;
    run.kind = kind;
    if (c.hold_down_s == 0 || dead.empty()) return run;
    const mark_rules rules = rules_of(c, kind);
    std::vector<std::size_t> asked = servers_to_ask(dead, c, kind);
    for (std::size_t si = 0; si < c.servers.size(); ++si) {
        const server &s = c.servers[si];
        server_key key = key_of(s, kind);
        bool skipped = std::find(asked.begin(), asked.end(), si) == asked.end();
        if (!s.status_server || !skipped || !claim_probe(kStateDir, key, now, c.status_interval_s, rules)) continue;
        probe p;
        p.server = si;
        if (s.via == transport::udp && !send_udp_probe(c, kind, p)) continue;
        run.probes.push_back(std::move(p));
    }
    return run;
}

probe_run start_probes(const config &c, service kind) {
    if (c.hold_down_s == 0) return probe_run{kind, {}};
    int64_t now = state_now();
    return start_probes(c, kind, dead_servers(kStateDir, now, rules_of(c, kind)), now);
}

void finish_probes(const config &c, probe_run &run) {
    if (run.probes.empty()) return;
    const auto deadline = clock::now() + kProbeGrace;
    std::vector<bool> answered(run.probes.size(), false);
    for (std::size_t i = 0; i < run.probes.size(); ++i)
        if (c.servers[run.probes[i].server].via == transport::tls)
            answered[i] = run_tls_probe(c, run.kind, run.probes[i], deadline);
    // UDP answers wait in their sockets since the probes went out.
    for (;;) {
        std::vector<pollfd> polled;
        std::vector<std::size_t> owners;
        for (std::size_t i = 0; i < run.probes.size(); ++i)
            if (run.probes[i].socket && !answered[i]) {
                polled.push_back({run.probes[i].socket.get(), POLLIN, 0});
                owners.push_back(i);
            }
        if (polled.empty()) break;
        int ready = poll(polled.data(), polled.size(), ms_until(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        for (std::size_t k = 0; k < polled.size(); ++k) {
            if (polled[k].revents == 0) continue;
            probe &p = run.probes[owners[k]];
            uint8_t reply[kMaxPacket];
            ssize_t got = recv(p.socket.get(), reply, sizeof reply, 0);
            if (got < 0) {
                p.socket.reset();  // refused: the port is closed
                continue;
            }
            answered[owners[k]] = answers_probe(c.servers[p.server], run.kind, p, reply, static_cast<std::size_t>(got));
        }
    }
    std::vector<server_change> cleared;
    for (std::size_t i = 0; i < run.probes.size(); ++i) {
        if (!answered[i]) continue;
        server_key key = key_of(c.servers[run.probes[i].server], run.kind);
        syslog(LOG_NOTICE, "%s: server %s (%s port %u) answered a Status-Server probe; no longer skipped", log_name,
               key.address.c_str(), key.transport.c_str(), key.port);
        cleared.push_back({key, false, 0});
    }
    if (!cleared.empty()) record_changes(kStateDir, cleared, state_now(), rules_of(c, run.kind));
    run.probes.clear();
}

}  // namespace radius
