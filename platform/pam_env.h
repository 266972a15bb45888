// SPDX-License-Identifier: BSD-3-Clause
// The PAM environment between the plug-in and the PAM modules: every key the
// two sides exchange, and the value formats as matched encoders and
// decoders. Keys are upper case with underscores, mostly RADIUS attribute
// names; the device's own are explained where they are declared. Values are
// decimal integers ("%d"), texts, hexadecimal bytes, or string lists.
#pragma once

#include <security/pam_appl.h>
#include <security/pam_modules.h>

#include <arpa/inet.h>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/addr.h"
#include "base/text_rules.h"
#include "base/hex.h"

namespace pam_env {

// Request attributes, put before authentication (and, without the password,
// into the accounting transaction).
inline constexpr const char *kUserName = "USER_NAME";              // text: the peer's name
inline constexpr const char *kServiceType = "SERVICE_TYPE";        // decimal: 2, Framed
inline constexpr const char *kFramedProtocol = "FRAMED_PROTOCOL";  // decimal: 1, PPP
inline constexpr const char *kNasPort = "NAS_PORT";                // decimal: port index + 1, 0 without a port
inline constexpr const char *kNasPortType = "NAS_PORT_TYPE";       // decimal: 0 async, 5 virtual
inline constexpr const char *kUserPassword = "USER_PASSWORD";      // text: PAP password; empty for CHAP
// Text: the caller's number (the daemon's remote_number), put only when known,
// at most kMaxText bytes and without control characters; sent as
// Calling-Station-Id (31) in Access- and Accounting-Requests.
inline constexpr const char *kCallingStationId = "CALLING_STATION_ID";
inline constexpr std::size_t kMaxText = 253;  // what a RADIUS text attribute holds

// CHAP attributes: present together, and then the request is CHAP.
inline constexpr const char *kChapAlgorithm = "CHAP_ALGORITHM";        // decimal: 5 for MD5
inline constexpr const char *kChapId = "CHAP_ID";                      // decimal: the exchange's identifier
inline constexpr const char *kChapChallengeHex = "CHAP_CHALLENGE_HEX";  // hex: the challenge sent
inline constexpr const char *kChapResponseHex = "CHAP_RESPONSE_HEX";    // hex: the response received
inline constexpr const char *kChapKeys[] = {kChapAlgorithm, kChapId, kChapChallengeHex, kChapResponseHex};
// The device's own: put (empty) by a module that consulted the local user
// database and refused a CHAP response, so the plug-in checks it itself.
inline constexpr const char *kAttemptedLocal = "ATTEMPTED_VX_LOCAL";

// Authorization, left by the stack on acceptance.
inline constexpr const char *kFramedIpAddress = "FRAMED_IP_ADDRESS";  // address (see encode_address)
inline constexpr const char *kFramedMtu = "FRAMED_MTU";              // decimal
inline constexpr const char *kFramedCompression = "FRAMED_COMPRESSION";  // decimal: 1 Van Jacobson
inline constexpr const char *kSessionTimeout = "SESSION_TIMEOUT";    // decimal seconds
inline constexpr const char *kIdleTimeout = "IDLE_TIMEOUT";          // decimal seconds
inline constexpr const char *kLoginCallbackNumber = "LOGIN_CALLBACK_NUMBER";  // text
inline constexpr const char *kFramedCallbackId = "FRAMED_CALLBACK_ID";        // text, wins over the number
inline constexpr const char *kFramedCallbackEnabled = "FRAMED_CALLBACK_ENABLED";  // decimal, 0 off
inline constexpr const char *kFramedRoute = "FRAMED_ROUTE";            // list of RFC 2865 route texts
inline constexpr const char *kFramedIpv6Route = "FRAMED_IPV6_ROUTE";   // list of RFC 3162 route texts
// The device's own: the user's RADIUS Class values, each hexadecimal, as a
// list ("VX", encoded); echoed in every accounting request.
inline constexpr const char *kClassList = "CLASS_VX_ENCODED";
inline constexpr const char *kFramedInterfaceId = "FRAMED_INTERFACE_ID";  // IPv6 text, upper 64 bits zero
// The DNS servers offered to the peer in IPCP (the daemon's ms-dns), from
// MS-Primary-DNS-Server and MS-Secondary-DNS-Server (vendor 311, types 28
// and 29): address (see encode_address), a unicast IPv4 address.
inline constexpr const char *kMsPrimaryDnsServer = "MS_PRIMARY_DNS_SERVER";
inline constexpr const char *kMsSecondaryDnsServer = "MS_SECONDARY_DNS_SERVER";
inline constexpr const char *kMsDnsServers[] = {kMsPrimaryDnsServer, kMsSecondaryDnsServer};

// Accounting.
// The device's own spelling of Acct-Authentic: decimal, 1 RADIUS, 2 local.
inline constexpr const char *kAcctAuthentic = "ACCT_AUTHENTICD";
inline constexpr const char *kAcctInputOctets = "ACCT_INPUT_OCTETS";    // counter (see decode_counter)
inline constexpr const char *kAcctOutputOctets = "ACCT_OUTPUT_OCTETS";  // counter
inline constexpr const char *kAcctSessionTime = "ACCT_SESSION_TIME";    // counter, seconds
inline constexpr const char *kAcctInputPackets = "ACCT_INPUT_PACKETS";  // counter
inline constexpr const char *kAcctOutputPackets = "ACCT_OUTPUT_PACKETS";  // counter
// Counters: how many times the octet counters above went past 2^32 during
// the session (RFC 2869 Acct-Input-Gigawords and Acct-Output-Gigawords).
inline constexpr const char *kAcctInputGigawords = "ACCT_INPUT_GIGAWORDS";
inline constexpr const char *kAcctOutputGigawords = "ACCT_OUTPUT_GIGAWORDS";
// Decimal: why the call ended, an RFC 2866 Acct-Terminate-Cause value
// (platform/terminate_cause.h), put at IP-down before the session closes.
inline constexpr const char *kAcctTerminateCause = "ACCT_TERMINATE_CAUSE";
// Decimal seconds: Acct-Interim-Interval from the Access-Accept, carried by
// the plug-in into the accounting transaction as ACCT_AUTHENTICD is.
inline constexpr const char *kAcctInterimInterval = "ACCT_INTERIM_INTERVAL";
// The device's own, decimal seconds: the interval of Interim-Updates the
// session module chose when it opened the session (absent: none). The
// plug-in reads it after pam_open_session and, each interval, puts the
// counters and calls pam_setcred(PAM_REFRESH_CRED | PAM_SILENT) on the
// accounting transaction. Linux-PAM runs pam_setcred on the stack's `auth`
// lines: the module that sends the updates must be on an `auth` line that
// the refresh reaches, with the same configuration as its `session` line,
// and no module whose setcred acts may stand before it.
inline constexpr const char *kInterimUpdateInterval = "INTERIM_UPDATE_INTERVAL";
// Text: the Acct-Session-Id the session module chose when it opened the
// session; the plug-in reads it after pam_open_session for the session
// registry (platform/session_registry.h).
inline constexpr const char *kAcctSessionId = "ACCT_SESSION_ID";
inline constexpr int kMinInterimInterval = 60;  // RFC 2869 section 5.16

inline constexpr int kAuthenticRadius = 1;
inline constexpr int kAuthenticLocal = 2;

// Returns the value of `key`, or nothing when absent.
inline std::optional<std::string> get(pam_handle_t *pamh, const char *key) {
    const char *v = pam_getenv(pamh, key);
    if (v == nullptr) return std::nullopt;
    return std::string(v);
}

// Puts "key=value"; returns pam_putenv's result.
inline int put(pam_handle_t *pamh, std::string_view key, std::string_view value) {
    std::string text(key);
    text += '=';
    text += value;
    return pam_putenv(pamh, text.c_str());
}

// Returns the user a request is for: USER_NAME, else PAM's own user.
inline std::string user_of(pam_handle_t *pamh) {
    if (const char *name = pam_getenv(pamh, kUserName)) return name;
    const char *user = nullptr;
    if (pam_get_user(pamh, &user, nullptr) == PAM_SUCCESS && user) return user;
    return {};
}

// Returns whether the request carries any CHAP attribute.
inline bool is_chap(pam_handle_t *pamh) {
    for (const char *key : kChapKeys)
        if (pam_getenv(pamh, key) != nullptr) return true;
    return false;
}

// Decimal integer.
inline std::string encode_decimal(int32_t value) { return std::to_string(value); }

// Returns a whole decimal text as a signed 32-bit value.
inline std::optional<int32_t> decode_decimal(std::string_view text) {
    int32_t value = 0;
    auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (err != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

// Decimal as C's atol reads it, the way the plug-in's Parts read authorization
// values: leading white space, a sign and the digits that follow; text
// without digits is 0. Saturates at the 64-bit range (atol's overflow is
// undefined); each caller clamps or refuses what its field cannot hold.
inline long long decode_leading_decimal(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    constexpr int kBase = 10;
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        if (value > (LLONG_MAX - digit) / kBase) return negative ? LLONG_MIN : LLONG_MAX;
        value = value * kBase + digit;
    }
    return negative ? -value : value;
}

// The same, clamped to an int (the daemon's fields are ints).
inline int decode_leading_int(std::string_view text) noexcept {
    long long value = decode_leading_decimal(text);
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

// Counter: an unsigned 32-bit value the plug-in writes with "%d", so those
// above 2147483647 read negative; decoded back to the unsigned value.
inline std::optional<uint32_t> decode_counter(std::string_view text) {
    long long value = 0;
    auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (err != std::errc{} || end != text.data() + text.size() || text.empty() || value < INT32_MIN ||
        value > static_cast<long long>(UINT32_MAX))
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

// Address: an IPv4 address (network byte order) as the signed decimal of its
// 32 bits, first octet most significant: 10.0.0.12 is 167772172, and
// 255.255.255.255 is -1.
inline std::string encode_address(uint32_t network_order) {
    return encode_decimal(static_cast<int32_t>(ntohl(network_order)));
}
inline std::optional<uint32_t> decode_address(std::string_view text) {
    auto value = decode_decimal(text);
    if (!value) return std::nullopt;
    return htonl(static_cast<uint32_t>(*value));
}

// Interface identifier: the 8 bytes as the low half of an IPv6 address text.
inline std::string encode_interface_id(const unsigned char *id) {
    unsigned char addr[base::kIpv6Size] = {};
    std::memcpy(addr + base::kInterfaceIdOffset, id, base::kInterfaceIdSize);
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, addr, text, sizeof text);
    return text;
}

// Hexadecimal bytes, written in lower case, read in either.
inline std::string encode_hex(std::string_view bytes) { return base::to_hex(bytes); }
inline std::optional<std::string> decode_hex(std::string_view text) { return base::from_hex(text); }

// String list: "<count>:" and the values joined with ',', each with '%', ','
// and control bytes written as %XX (upper case written, either case read).
// Any byte but NUL survives the round trip; an empty list is "0:". Anything
// else is not a list.
inline constexpr char kListEscape = '%';
inline constexpr char kListSeparator = ',';
inline constexpr char kListCountEnd = ':';
inline constexpr std::size_t kListMaxValues = 4096;

inline bool list_escapes(unsigned char c) {
    return c == kListEscape || c == kListSeparator || base::is_control(c);
}

inline std::string encode_list(const std::vector<std::string> &values) {
    static constexpr char kUpperDigits[] = "0123456789ABCDEF";
    std::string out = std::to_string(values.size());
    out += kListCountEnd;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) out += kListSeparator;
        for (unsigned char c : values[i]) {
            if (!list_escapes(c)) {
                out += static_cast<char>(c);
                continue;
            }
            out += kListEscape;
            out += kUpperDigits[c / base::kHexRadix];
            out += kUpperDigits[c % base::kHexRadix];
        }
    }
    return out;
}

// Returns one value of a list without its escapes, or nothing on a bad one.
inline std::optional<std::string> decode_list_value(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != kListEscape) {
            // A byte the encoder escapes never stands raw in a valid list.
            if (list_escapes(static_cast<unsigned char>(text[i]))) return std::nullopt;
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int hi = base::hex_digit(text[i + 1]), lo = base::hex_digit(text[i + 2]);
        if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return std::nullopt;
        out += static_cast<char>(hi * static_cast<int>(base::kHexRadix) + lo);
        i += 2;
    }
    return out;
}

inline std::optional<std::vector<std::string>> decode_list(std::string_view text) {
    std::size_t colon = text.find(kListCountEnd);
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    std::size_t count = 0;
    auto [end, err] = std::from_chars(text.data(), text.data() + colon, count);
    if (err != std::errc{} || end != text.data() + colon || count > kListMaxValues) return std::nullopt;
    std::string_view rest = text.substr(colon + 1);
    std::vector<std::string> values;
    if (count == 0) {
        if (!rest.empty()) return std::nullopt;
        return values;
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t comma = rest.find(kListSeparator);
        bool last = i + 1 == count;
        if (last != (comma == std::string_view::npos)) return std::nullopt;
        auto value = decode_list_value(rest.substr(0, comma));
        if (!value) return std::nullopt;
        values.push_back(std::move(*value));
        if (!last) rest = rest.substr(comma + 1);
    }
    return values;
}

}  // namespace pam_env
