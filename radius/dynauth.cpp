// SPDX-License-Identifier: BSD-3-Clause
#include "radius/dynauth.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>

#include "base/addr.h"

namespace radius {

namespace {

// The attributes a Disconnect-Request may carry (RFC 5176 section 3.6):
// identification, the NAS's, and what only describes or protects the request.
constexpr uint8_t kAllowed[] = {user_name, nas_ip_address, nas_port, framed_ip_address, class_, calling_station_id,
                                nas_identifier, proxy_state, acct_session_id, event_timestamp, nas_port_type,
                                message_authenticator, nas_port_id, nas_ipv6_address, acct_terminate_cause,
                                reply_message, vendor_specific};
constexpr uint8_t kCalledStationId = 30, kAcctMultiSessionId = 50, kServiceType = service_type;

bool allowed(uint8_t type) {
    return std::find(std::begin(kAllowed), std::end(kAllowed), type) != std::end(kAllowed) ||
           type == kCalledStationId || type == kAcctMultiSessionId || type == kServiceType;
}

// Returns whether the address value `v` (4 or 16 octets) names this NAS: the
// configured one, else the address the request arrived on.
bool is_ours(const std::string &v, const std::optional<std::string> &configured, const sockaddr_storage &local) {
    return !v.empty() && v == (configured ? std::string_view(*configured) : address_bytes(local));
}

}  // namespace

dynauth_check check_dynauth_request(const uint8_t *bytes, std::size_t size, std::string_view secret,
                                    const dynauth_rules &rules, int64_t now, packet *request) {
    if (size < kHeaderSize) return dynauth_check::malformed;
    if (bytes[0] != disconnect_request && bytes[0] != coa_request) return dynauth_check::not_a_request;
    // Signed as an Accounting-Request is: both authenticators over a zero
    // Request Authenticator, which is why a reply check can verify it.
    reply_expectation want{bytes[1], authenticator{}, true, rules.require_message_authenticator};
    packet p;
    switch (check_reply(bytes, size, want, secret, &p)) {
    case reply_check::ok: break;
    case reply_check::malformed:
    case reply_check::wrong_identifier: return dynauth_check::malformed;
    case reply_check::bad_authenticator: return dynauth_check::bad_authenticator;
    case reply_check::missing_message_authenticator: return dynauth_check::missing_message_authenticator;
    case reply_check::bad_message_authenticator: return dynauth_check::bad_message_authenticator;
    case reply_check::malformed_message_authenticator: return dynauth_check::malformed_message_authenticator;
    case reply_check::crypto_failure: return dynauth_check::crypto_failure;
    }
    auto stamp = p.first(event_timestamp);
    if (stamp && !u32_value(*stamp)) return dynauth_check::malformed;
    if (!stamp && rules.require_event_timestamp) return dynauth_check::missing_event_timestamp;
    if (stamp) {
        int64_t when = *u32_value(*stamp);
        int64_t skew = when > now ? when - now : now - when;
        if (skew > static_cast<int64_t>(rules.event_window_s)) return dynauth_check::stale_event_timestamp;
    }
    if (request != nullptr) *request = std::move(p);
    return dynauth_check::ok;
}

const char *describe(dynauth_check verdict) {
    switch (verdict) {
    case dynauth_check::ok: return "valid";
    case dynauth_check::malformed: return "malformed";
    case dynauth_check::not_a_request: return "not a Disconnect- or CoA-Request";
    case dynauth_check::bad_authenticator: return "bad Request Authenticator";
    case dynauth_check::missing_message_authenticator: return "no Message-Authenticator";
    case dynauth_check::bad_message_authenticator: return "bad Message-Authenticator";
    case dynauth_check::malformed_message_authenticator: return "malformed Message-Authenticator";
    case dynauth_check::missing_event_timestamp: return "no Event-Timestamp";
    case dynauth_check::stale_event_timestamp: return "Event-Timestamp outside the window";
    case dynauth_check::crypto_failure: return "unverifiable (a digest failed)";
    }
    return "unknown";
}

uint32_t read_disconnect(const packet &request, const config &nas, const sockaddr_storage &local,
                         session_selector &out) {
    out = session_selector{};
    std::optional<std::string> nas_ip, nas_ipv6;
    if (nas.nas_ip) nas_ip = std::string(reinterpret_cast<const char *>(&*nas.nas_ip), base::kIpv4Size);
    if (nas.nas_ipv6) nas_ipv6 = std::string(reinterpret_cast<const char *>(&*nas.nas_ipv6), base::kIpv6Size);
    bool identified = false;
    for (const attribute &a : request.attributes) {
        if (!allowed(a.type)) return kUnsupportedAttribute;
        switch (a.type) {
        case nas_ip_address:
            if (!is_ours(a.value, nas_ip, local)) return kNasIdentificationMismatch;
            break;
        case nas_ipv6_address:
            if (!is_ours(a.value, nas_ipv6, local)) return kNasIdentificationMismatch;
            break;
        case nas_identifier:
            if (a.value != nas.nas_identifier) return kNasIdentificationMismatch;
            break;
        case acct_session_id: out.session_id = a.value; identified = true; break;
        case user_name: out.user = a.value; identified = true; break;
        case nas_port_id: out.nas_port_id = a.value; identified = true; break;
        case calling_station_id: out.calling_station_id = a.value; identified = true; break;
        case nas_port:
            out.nas_port = u32_value(a.value);
            if (!out.nas_port) return kUnsupportedAttribute;
            identified = true;
            break;
        case framed_ip_address: {
            char text[INET_ADDRSTRLEN];
            if (a.value.size() != base::kIpv4Size || inet_ntop(AF_INET, a.value.data(), text, sizeof text) == nullptr)
                return kUnsupportedAttribute;
            out.framed_ip = text;
            identified = true;
            break;
        }
        default: break;
        }
    }
    return identified ? 0 : kMissingAttribute;
}

std::optional<std::vector<uint8_t>> dynauth_reply(const packet &request, uint32_t error, std::string_view secret) {
    packet reply;
    bool coa = request.code == coa_request;
    reply.code = error == 0 ? (coa ? coa_ack : disconnect_ack) : (coa ? coa_nak : disconnect_nak);
    if (error != 0) reply.add_u32(error_cause, error);
    for (const attribute &a : request.attributes)
        if (a.type == proxy_state) reply.add(proxy_state, a.value);
    return encode_reply(request, reply, secret);
}

}  // namespace radius
