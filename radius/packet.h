// SPDX-License-Identifier: BSD-3-Clause
// RADIUS packets (RFC 2865, 2866, 3579): building requests and checking
// replies. Functions over byte buffers; the shared secret is a parameter.
// Every digest and every random byte is checked: a failed crypto call means
// no request is built and no reply is trusted, with a syslog line naming the
// step that failed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/md5.h"

namespace radius {

inline constexpr std::size_t kHeaderSize = 20;
inline constexpr std::size_t kMaxPacket = 4096;
inline constexpr std::size_t kAuthenticatorSize = base::kMd5Size;
inline constexpr std::size_t kAttrHeader = 2;
inline constexpr std::size_t kMaxAttrValue = 253;
inline constexpr std::size_t kMaxPassword = 128;
inline constexpr std::size_t kChapResponseSize = 16;
inline constexpr std::size_t kMessageAuthenticatorSize = 16;
inline constexpr std::size_t kLengthOffset = 2;
inline constexpr std::size_t kAuthOffset = 4;

enum code : uint8_t {
    access_request = 1, access_accept = 2, access_reject = 3, accounting_request = 4,
    accounting_response = 5, access_challenge = 11, status_server = 12,
    disconnect_request = 40, disconnect_ack = 41, disconnect_nak = 42, coa_request = 43, coa_ack = 44, coa_nak = 45,
};

enum attr : uint8_t {
    user_name = 1, user_password = 2, chap_password = 3, nas_ip_address = 4, nas_port = 5,
    service_type = 6, framed_protocol = 7, framed_ip_address = 8, framed_route = 22,
    framed_mtu = 12, framed_compression = 13, reply_message = 18, callback_number = 19,
    callback_id = 20, class_ = 25, vendor_specific = 26, session_timeout = 27, idle_timeout = 28,
    calling_station_id = 31, nas_identifier = 32,
    acct_status_type = 40, acct_delay_time = 41, acct_input_octets = 42, acct_output_octets = 43,
    acct_session_id = 44, acct_authentic = 45, acct_session_time = 46, acct_input_packets = 47,
    acct_output_packets = 48, acct_terminate_cause = 49, acct_input_gigawords = 52, acct_output_gigawords = 53,
    proxy_state = 33, event_timestamp = 55, error_cause = 101,
    chap_challenge = 60, nas_port_type = 61, acct_interim_interval = 85,
    message_authenticator = 80, nas_port_id = 87, nas_ipv6_address = 95, framed_interface_id = 96,
    framed_ipv6_route = 99,
};

// Microsoft's vendor attributes (RFC 2548): the DNS servers for the peer.
inline constexpr uint32_t kVendorMicrosoft = 311;
inline constexpr uint8_t kMsPrimaryDnsType = 28, kMsSecondaryDnsType = 29;
inline constexpr std::size_t kVendorIdSize = 4;

inline constexpr uint32_t kServiceCallbackFramed = 4;
inline constexpr uint32_t kAcctStart = 1;
inline constexpr uint32_t kAcctStop = 2;
inline constexpr uint32_t kAcctInterimUpdate = 3;
inline constexpr uint32_t kAcctOn = 7;
inline constexpr uint32_t kAcctOff = 8;

using authenticator = base::md5_digest;

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

// Fills `out` with `size` bytes from OpenSSL's generator; returns false
// (logged) when it fails. There is no weaker fallback.
bool random_bytes(void *out, std::size_t size);

// Returns MD5 over the concatenation of `parts`, or nothing (logged, naming
// the failing step) when the digest cannot be computed.
std::optional<authenticator> md5(std::initializer_list<std::string_view> parts);

// Returns HMAC-MD5 of `data` under `key`, or nothing (logged).
std::optional<authenticator> hmac_md5(std::string_view key, const uint8_t *data, std::size_t size);

// Returns the value of a 4-octet integer attribute in host order, or nothing
// when `value` is not 4 octets.
std::optional<uint32_t> u32_value(std::string_view value);

// Returns `value` as the 4 octets of an integer attribute (network order).
std::string u32_bytes(uint32_t value);

// Returns the wire form of an Access-Request carrying a Message-Authenticator
// (its value computed here), or nothing (logged) when it would exceed
// kMaxPacket or a digest fails.
std::optional<std::vector<uint8_t>> encode_access_request(const packet &p, std::string_view secret);

// Returns the wire form of a reply with `code` to the request `request`: its
// identifier, every attribute of `reply` and a Message-Authenticator, both
// computed over the request's authenticator (RFC 2865 section 3, RFC 3579
// section 3.2); nothing (logged) on failure.
std::optional<std::vector<uint8_t>> encode_reply(const packet &request, const packet &reply, std::string_view secret);

// Returns the wire form of an Accounting-Request with its keyed authenticator
// (RFC 2866 section 3), written back into `p`; nothing (logged) on failure.
std::optional<std::vector<uint8_t>> encode_accounting_request(packet &p, std::string_view secret);

// Returns the packet in `bytes` when every length is within the buffer and
// the packet's own length; nothing otherwise. Bytes past the length are ignored.
std::optional<packet> decode(const uint8_t *bytes, std::size_t size);

enum class reply_check {
    ok, malformed, wrong_identifier, bad_authenticator, bad_message_authenticator,
    missing_message_authenticator, malformed_message_authenticator, crypto_failure,
};

// What a reply must answer: the request's identifier and authenticator, and
// whether it is an accounting request (its reply's Message-Authenticator is
// computed over 16 zero octets in the Authenticator field).
struct reply_expectation {
    uint8_t identifier = 0;
    authenticator request_auth{};
    bool accounting = false;
    bool require_message_authenticator = true;
};

// Checks a reply: identifier, Response Authenticator, and a Message-Authenticator,
// which must be exactly one of 18 octets when present and is required when
// `want.require_message_authenticator`. On ok, the decoded reply is left in
// `*decoded` when it is given. crypto_failure means nothing can be trusted.
reply_check check_reply(const uint8_t *bytes, std::size_t size, const reply_expectation &want,
                        std::string_view secret, packet *decoded = nullptr);

// Returns User-Password hidden per RFC 2865 section 5.2, or nothing past 128
// bytes or when a digest fails.
std::optional<std::string> hide_password(std::string_view password, std::string_view secret,
                                         const authenticator &request_auth);

const char *describe(reply_check result);

}  // namespace radius
