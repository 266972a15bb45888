// SPDX-License-Identifier: BSD-3-Clause
// Requests already answered: a repeat (same client, identifier and Request
// Authenticator) gets the reply it got before, and nothing is done again.
// An entry is kept as long as its request could still pass the Event-Timestamp
// window (twice the window: its stamp may lie a window ahead of our clock).
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "radius/packet.h"

namespace dsdae {

inline constexpr std::size_t kReplayCapacity = 4096;

struct answered {
    sockaddr_storage client{};
    uint8_t identifier = 0;
    radius::authenticator auth{};
    std::vector<uint8_t> reply;
    int64_t at = 0;
};

struct replay_cache {
    std::vector<answered> entries;
    int64_t keep_s = 0;
    std::size_t capacity = kReplayCapacity;
};

// Returns the reply given to the same request before, or nullptr; forgets
// what has outlived `keep_s` at `now` first.
inline const std::vector<uint8_t> *answered_before(replay_cache &cache, const sockaddr_storage &client,
                                                   const radius::packet &request, int64_t now) {
    std::erase_if(cache.entries, [&](const answered &a) { return a.at > now || now - a.at > cache.keep_s; });
    for (const answered &a : cache.entries)
        if (a.identifier == request.identifier && a.auth == request.auth &&
            std::memcmp(&a.client, &client, sizeof client) == 0)
            return &a.reply;
    return nullptr;
}

// Returns whether there is room to remember one more request.
inline bool has_room(const replay_cache &cache) { return cache.entries.size() < cache.capacity; }

inline void remember(replay_cache &cache, const sockaddr_storage &client, const radius::packet &request,
                     std::vector<uint8_t> reply, int64_t now) {
    cache.entries.push_back({client, request.identifier, request.auth, std::move(reply), now});
}

}  // namespace dsdae
