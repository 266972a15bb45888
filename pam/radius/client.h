// SPDX-License-Identifier: BSD-3-Clause
// Sends a request to the configured servers in order, with per-server
// time-outs and retries, and returns the first reply that checks out.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "pam/radius/config.h"
#include "pam/radius/packet.h"

namespace radius {

enum class service { authentication, accounting };

// Builds the wire form of one try: given the server, a fresh identifier and
// the seconds since the first try, it returns the bytes and the Request
// Authenticator replies are checked against.
using request_builder = std::function<std::optional<std::vector<uint8_t>>(
    const server &s, uint8_t identifier, unsigned delay_seconds, authenticator &request_auth)>;

// Returns the first valid reply, or nothing when no server answered validly
// within the configured bounds (each failure is logged).
std::optional<packet> exchange(const config &c, service kind, const request_builder &build);

}  // namespace radius
