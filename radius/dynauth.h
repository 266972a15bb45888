// SPDX-License-Identifier: BSD-3-Clause
// Dynamic Authorization (RFC 5176): a Disconnect-Request or CoA-Request from
// a RADIUS server, checked as strictly as the RFC allows, what it asks, and
// the reply to it.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "radius/config.h"
#include "radius/packet.h"

namespace radius {

// Error-Cause values (RFC 5176 section 3.5).
inline constexpr uint32_t kUnsupportedAttribute = 401;
inline constexpr uint32_t kMissingAttribute = 402;
inline constexpr uint32_t kNasIdentificationMismatch = 403;
inline constexpr uint32_t kUnsupportedService = 405;
inline constexpr uint32_t kSessionContextNotFound = 503;
inline constexpr uint32_t kResourcesUnavailable = 506;

inline constexpr unsigned kDefaultEventWindow = 300;  // seconds, section 6.3

struct dynauth_rules {
    bool require_message_authenticator = true;
    bool require_event_timestamp = true;
    unsigned event_window_s = kDefaultEventWindow;
};

enum class dynauth_check {
    ok, malformed, not_a_request, bad_authenticator, missing_message_authenticator, bad_message_authenticator,
    malformed_message_authenticator, missing_event_timestamp, stale_event_timestamp, crypto_failure,
};
inline constexpr std::size_t kDynauthVerdicts = static_cast<std::size_t>(dynauth_check::crypto_failure) + 1;

// Returns the verdict on `bytes` from a client sharing `secret` at `now`
// (seconds since the epoch): a Disconnect- or CoA-Request whose Request
// Authenticator (RFC 5176 section 2.3, as RFC 2866's) and Message-Authenticator
// (exactly one, over the packet with a zero Request Authenticator) check out,
// and whose Event-Timestamp lies within the window. On ok the request is in
// `*request`.
dynauth_check check_dynauth_request(const uint8_t *bytes, std::size_t size, std::string_view secret,
                                    const dynauth_rules &rules, int64_t now, packet *request);

// Returns the text of a verdict, for the log.
const char *describe(dynauth_check verdict);

// The session a Disconnect-Request names: every attribute given must match.
struct session_selector {
    std::optional<std::string> session_id, user, nas_port_id, framed_ip, calling_station_id;
    std::optional<uint32_t> nas_port;
};

// Returns the Error-Cause a Disconnect-Request earns before any session is
// looked for, or 0 with the session it names in `out`: 401 for an attribute
// it may not carry, 403 when its NAS identification is not this device's
// (`nas`, or the address it arrived on, `local`, when no address is
// configured), 402 when it names no session.
uint32_t read_disconnect(const packet &request, const config &nas, const sockaddr_storage &local,
                         session_selector &out);

// Returns the reply to `request`: ACK or NAK (`error` > 0, as Error-Cause)
// of its kind, every Proxy-State of the request in order, signed; nothing
// (logged) when a digest fails.
std::optional<std::vector<uint8_t>> dynauth_reply(const packet &request, uint32_t error, std::string_view secret);

}  // namespace radius
