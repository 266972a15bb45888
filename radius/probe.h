// SPDX-License-Identifier: BSD-3-Clause
// Status-Server probes (RFC 5997) of servers marked dead whose configuration
// asks for them (`status-server`): such a server comes back only by
// answering one, so that no caller waits for a server still silent. A
// transaction that skips one starts its probe before its own exchange (one
// per server and `status-interval` for the whole device: the shared state
// records who probed when) and finishes it at most kProbeGrace after that
// exchange ended.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "base/unique_fd.h"
#include "radius/client.h"

namespace radius {

inline constexpr std::chrono::milliseconds kProbeGrace{100};

// One Status-Server under way: over UDP sent, over TLS to be run.
struct probe {
    std::size_t server = 0;
    base::unique_fd socket;
    uint8_t identifier = 0;
    authenticator auth{};
};

struct probe_run {
    service kind = service::authentication;
    std::vector<probe> probes;
};

// Returns the probes `kind`'s transaction owes the servers of `c` it skips
// (marked in `dead`, probed with Status-Server, and due); UDP ones are sent.
probe_run start_probes(const config &c, service kind, const std::vector<server_key> &dead, int64_t now);

// The same, reading the marks itself (for a transaction that chose its
// servers from `unmarked_servers`).
probe_run start_probes(const config &c, service kind);

// Collects the answers until kProbeGrace from now (running TLS probes in
// that time) and clears the mark of each server that answered validly, with
// one log line each.
void finish_probes(const config &c, probe_run &run);

// Returns the Status-Server for server `s`, sent from `local`: a fresh
// identifier and Request Authenticator, the NAS's identity and a
// Message-Authenticator (section 4.1); nothing (logged) when a random or
// digest call fails.
std::optional<request_bytes> status_server_request(const config &c, const server &s, const sockaddr_storage &local);

// Returns whether `reply` answers probe `p` of server `s`, serving `kind`:
// an Access-Accept from an authentication or TLS port, an Accounting-Response
// from an accounting port, its Response Authenticator and any
// Message-Authenticator checked as every reply's.
bool answers_probe(const server &s, service kind, const probe &p, const uint8_t *reply, std::size_t size);

}  // namespace radius
