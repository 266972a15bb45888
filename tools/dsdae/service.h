// SPDX-License-Identifier: BSD-3-Clause
// One datagram in, at most one reply out: who sent it, whether it checks
// out, whether it was answered before, what it asks, and the reply.
#pragma once

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/dsdae/config.h"
#include "tools/dsdae/replay.h"

namespace dsdae {

inline constexpr int64_t kLogInterval = 60;  // seconds between lines of one kind of drop

// At most one log line per interval for one kind of dropped datagram, which
// says how many went since the last.
struct drop_log {
    int64_t last = -kLogInterval;
    unsigned long dropped = 0;
};

struct service {
    const config *cfg = nullptr;
    std::string registry_dir;
    replay_cache replay;
    drop_log unknown_clients;
    // One for each reason a client's datagram is dropped, so that one kind
    // of junk does not hide another.
    std::array<drop_log, radius::kDynauthVerdicts> invalid_requests{};
};

struct clocks {
    int64_t wall = 0;       // seconds since the epoch, against Event-Timestamp
    int64_t monotonic = 0;  // seconds, for what the daemon remembers
};

// Returns the reply to the datagram `bytes` that came from `from` to `local`,
// or nothing: silently dropped (not from a client, or not a request that
// checks out), or a reply that could not be signed.
std::optional<std::vector<uint8_t>> answer(service &s, const uint8_t *bytes, std::size_t size,
                                           const sockaddr_storage &from, const sockaddr_storage &local,
                                           const clocks &now);

// Returns the address of `a` as text.
std::string address_text(const sockaddr_storage &a);

}  // namespace dsdae
