// SPDX-License-Identifier: BSD-3-Clause
// RADIUS packets (RFC 2865, 2866, 3579): building requests and checking
// replies. Pure functions over byte buffers; the shared secret is a parameter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace radius {

inline constexpr std::size_t kHeaderSize = 20;
inline constexpr std::size_t kMaxPacket = 4096;
inline constexpr std::size_t kAuthenticatorSize = 16;
inline constexpr std::size_t kAttrHeader = 2;
inline constexpr std::size_t kMaxAttrValue = 253;
inline constexpr std::size_t kMaxPassword = 128;
inline constexpr std::size_t kChapResponseSize = 16;

enum code : uint8_t {
    access_request = 1, access_accept = 2, access_reject = 3, accounting_request = 4,
    accounting_response = 5, access_challenge = 11,
};

enum attr : uint8_t {
    user_name = 1, user_password = 2, chap_password = 3, nas_ip_address = 4, nas_port = 5,
    service_type = 6, framed_protocol = 7, framed_ip_address = 8, framed_route = 22,
    framed_mtu = 12, framed_compression = 13, reply_message = 18, callback_number = 19,
    callback_id = 20, class_ = 25, session_timeout = 27, idle_timeout = 28, nas_identifier = 32,
    acct_status_type = 40, acct_delay_time = 41, acct_input_octets = 42, acct_output_octets = 43,
    acct_session_id = 44, acct_authentic = 45, acct_session_time = 46, acct_input_packets = 47,
    acct_output_packets = 48, chap_challenge = 60, nas_port_type = 61,
    message_authenticator = 80, nas_port_id = 87, framed_interface_id = 96,
    framed_ipv6_route = 99,
};

inline constexpr uint32_t kServiceCallbackFramed = 4;
inline constexpr uint32_t kAcctStart = 1;
inline constexpr uint32_t kAcctStop = 2;

using authenticator = std::array<uint8_t, kAuthenticatorSize>;

struct attribute {
    uint8_t type;
    std::string value;  // raw octets
};

struct packet {
    uint8_t code = 0;
    uint8_t identifier = 0;
    authenticator auth{};
    std::vector<attribute> attributes;

    // Appends an attribute; returns false when the value is longer than 253.
    bool add(uint8_t type, std::string_view value);
    bool add_u32(uint8_t type, uint32_t value);
    // Returns the first value of `type`, if any.
    std::optional<std::string> first(uint8_t type) const;
};

// Returns the wire form of an Access-Request carrying a Message-Authenticator
// (its value computed here), or nothing when it would exceed kMaxPacket.
std::optional<std::vector<uint8_t>> encode_access_request(const packet &p, std::string_view secret);

// Returns the wire form of an Accounting-Request with its keyed authenticator
// (RFC 2866 section 3); the authenticator is written back into `p`.
std::optional<std::vector<uint8_t>> encode_accounting_request(packet &p, std::string_view secret);

// Returns the packet in `bytes` when every length is within the buffer and
// the packet's own length; nothing otherwise. Bytes past the length are ignored.
std::optional<packet> decode(const uint8_t *bytes, std::size_t size);

enum class reply_check { ok, malformed, wrong_identifier, bad_authenticator, bad_message_authenticator,
                         missing_message_authenticator };

// Checks a reply to `request` (sent with `request_auth`): identifier, Response
// Authenticator, and Message-Authenticator when present or `require_ma`.
// On ok, the decoded reply is left in `*decoded` when it is given.
reply_check check_reply(const uint8_t *bytes, std::size_t size, uint8_t identifier,
                        const authenticator &request_auth, std::string_view secret,
                        bool require_ma, packet *decoded = nullptr);

// Returns User-Password hidden per RFC 2865 section 5.2, or nothing past 128 bytes.
std::optional<std::string> hide_password(std::string_view password, std::string_view secret,
                                         const authenticator &request_auth);

// Returns MD5 over the concatenation of `parts`.
std::array<uint8_t, 16> md5(std::initializer_list<std::string_view> parts);

const char *describe(reply_check result);

}  // namespace radius
