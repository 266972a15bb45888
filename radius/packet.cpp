// SPDX-License-Identifier: BSD-3-Clause
#include "radius/packet.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <syslog.h>

#include <cstring>

#include "base/md5.h"
#include "base/secret.h"
#include "radius/log_name.h"

namespace radius {

namespace {

constexpr std::size_t kErrorText = 256;
constexpr std::size_t kMessageAuthenticatorAttr = kAttrHeader + kMessageAuthenticatorSize;

std::string_view bytes_of(const void *data, std::size_t n) {
    return {static_cast<const char *>(data), n};
}

std::size_t length_field(const uint8_t *bytes) {
    return (static_cast<std::size_t>(bytes[kLengthOffset]) << 8) | bytes[kLengthOffset + 1];
}

void put_u16(std::vector<uint8_t> &out, std::size_t at, std::size_t value) {
    out[at] = static_cast<uint8_t>(value >> 8);
    out[at + 1] = static_cast<uint8_t>(value & 0xff);
}

// Logs the OpenSSL call that failed with the library's own reason.
void crypto_failed(const char *step) {
    char reason[kErrorText] = "no reason given";
    if (unsigned long e = ERR_get_error()) ERR_error_string_n(e, reason, sizeof reason);
    ERR_clear_error();
    syslog(LOG_ERR, "%s: %s failed (%s); no request is sent and no reply trusted", log_name, step,
           reason);
}

// Returns the wire form with the authenticator in `p`, or nothing when too long.
std::optional<std::vector<uint8_t>> serialize(const packet &p) {
    std::vector<uint8_t> out(kHeaderSize);
    out[0] = p.code;
    out[1] = p.identifier;
    std::memcpy(out.data() + kAuthOffset, p.auth.data(), kAuthenticatorSize);
    for (const attribute &a : p.attributes) {
        if (a.value.size() > kMaxAttrValue) return std::nullopt;
        out.push_back(a.type);
        out.push_back(static_cast<uint8_t>(a.value.size() + kAttrHeader));
        out.insert(out.end(), a.value.begin(), a.value.end());
    }
    if (out.size() > kMaxPacket) {
        syslog(LOG_ERR, "%s: request of %zu bytes exceeds the %zu a packet may have; not sent", log_name,
               out.size(), kMaxPacket);
        return std::nullopt;
    }
    put_u16(out, kLengthOffset, out.size());
    return out;
}

enum class ma_scan { none, one, bad };

// Finds the Message-Authenticator of a decoded, well-formed packet: it must be
// the only one and 18 octets long (RFC 3579 section 3.2).
ma_scan find_message_authenticator(const uint8_t *bytes, std::size_t length, std::size_t &value_at) {
    ma_scan found = ma_scan::none;
    for (std::size_t at = kHeaderSize; at + kAttrHeader <= length;) {
        std::size_t len = bytes[at + 1];
        if (bytes[at] == message_authenticator) {
            if (found != ma_scan::none || len != kMessageAuthenticatorAttr) return ma_scan::bad;
            found = ma_scan::one;
            value_at = at + kAttrHeader;
        }
        at += len;
    }
    return found;
}

}  // namespace

bool packet::add(uint8_t type, std::string_view value) {
    if (value.size() > kMaxAttrValue) return false;
    attributes.push_back({type, std::string(value)});
    return true;
}

std::string u32_bytes(uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

bool packet::add_u32(uint8_t type, uint32_t value) { return add(type, u32_bytes(value)); }

std::optional<std::string> packet::first(uint8_t type) const {
    for (const attribute &a : attributes)
        if (a.type == type) return a.value;
    return std::nullopt;
}

bool random_bytes(void *out, std::size_t size) {
    if (RAND_bytes(static_cast<unsigned char *>(out), static_cast<int>(size)) == 1) return true;
    crypto_failed("RAND_bytes");
    return false;
}

std::optional<authenticator> md5(std::initializer_list<std::string_view> parts) {
    base::md5_result r = base::md5(parts);
    if (r.failed_call != nullptr) {
        crypto_failed(r.failed_call);
        return std::nullopt;
    }
    return r.digest;
}

std::optional<authenticator> hmac_md5(std::string_view key, const uint8_t *data, std::size_t size) {
    authenticator mac{};
    unsigned len = 0;
    if (HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()), data, size, mac.data(), &len) ==
            nullptr ||
        len != mac.size()) {
        crypto_failed("HMAC(MD5)");
        return std::nullopt;
    }
    return mac;
}

std::optional<uint32_t> u32_value(std::string_view value) {
    if (value.size() != sizeof(uint32_t)) return std::nullopt;
    const auto *b = reinterpret_cast<const unsigned char *>(value.data());
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

std::optional<std::vector<uint8_t>> encode_access_request(const packet &p, std::string_view secret) {
    packet with_ma = p;
    with_ma.add(message_authenticator, std::string(kMessageAuthenticatorSize, '\0'));
    auto out = serialize(with_ma);
    if (!out) return std::nullopt;
    auto mac = hmac_md5(secret, out->data(), out->size());
    if (!mac) return std::nullopt;
    std::memcpy(out->data() + out->size() - mac->size(), mac->data(), mac->size());
    return out;
}

std::optional<std::vector<uint8_t>> encode_reply(const packet &request, const packet &reply, std::string_view secret) {
    packet p = reply;
    p.identifier = request.identifier;
    p.auth = request.auth;
    auto out = encode_access_request(p, secret);  // the Message-Authenticator, over the request's authenticator
    if (!out) return std::nullopt;
    auto digest = md5({bytes_of(out->data(), out->size()), secret});
    if (!digest) return std::nullopt;
    std::memcpy(out->data() + kAuthOffset, digest->data(), digest->size());
    return out;
}

std::optional<std::vector<uint8_t>> encode_accounting_request(packet &p, std::string_view secret) {
    p.auth.fill(0);
    auto out = serialize(p);
    if (!out) return std::nullopt;
    auto digest = md5({bytes_of(out->data(), out->size()), secret});
    if (!digest) return std::nullopt;
    std::memcpy(out->data() + kAuthOffset, digest->data(), digest->size());
    p.auth = *digest;
    return out;
}

std::optional<packet> decode(const uint8_t *bytes, std::size_t size) {
    if (bytes == nullptr || size < kHeaderSize) return std::nullopt;
    std::size_t length = length_field(bytes);
    if (length < kHeaderSize || length > size || length > kMaxPacket) return std::nullopt;
    packet p;
    p.code = bytes[0];
    p.identifier = bytes[1];
    std::memcpy(p.auth.data(), bytes + kAuthOffset, kAuthenticatorSize);
    for (std::size_t at = kHeaderSize; at < length;) {
        if (at + kAttrHeader > length) return std::nullopt;
        std::size_t len = bytes[at + 1];
        if (len < kAttrHeader || at + len > length) return std::nullopt;
        p.attributes.push_back({bytes[at], std::string(reinterpret_cast<const char *>(bytes + at + kAttrHeader),
                                                       len - kAttrHeader)});
        at += len;
    }
    return p;
}

reply_check check_reply(const uint8_t *bytes, std::size_t size, const reply_expectation &want,
                        std::string_view secret, packet *decoded) {
    auto p = decode(bytes, size);
    if (!p) return reply_check::malformed;
    if (p->identifier != want.identifier) return reply_check::wrong_identifier;
    std::vector<uint8_t> copy(bytes, bytes + length_field(bytes));
    std::size_t ma_at = 0;
    ma_scan ma = find_message_authenticator(copy.data(), copy.size(), ma_at);
    if (ma == ma_scan::bad) return reply_check::malformed_message_authenticator;

    std::memcpy(copy.data() + kAuthOffset, want.request_auth.data(), kAuthenticatorSize);
    auto expected = md5({bytes_of(copy.data(), copy.size()), secret});
    if (!expected) return reply_check::crypto_failure;
    if (CRYPTO_memcmp(expected->data(), bytes + kAuthOffset, kAuthenticatorSize) != 0)
        return reply_check::bad_authenticator;

    if (ma == ma_scan::none && want.require_message_authenticator)
        return reply_check::missing_message_authenticator;
    if (ma == ma_scan::one) {
        authenticator received{};
        std::memcpy(received.data(), copy.data() + ma_at, received.size());
        std::memset(copy.data() + ma_at, 0, received.size());
        // An Accounting-Response is signed over zero octets in place of the
        // request's authenticator, which is not random (as FreeRADIUS does).
        if (want.accounting) std::memset(copy.data() + kAuthOffset, 0, kAuthenticatorSize);
        auto mac = hmac_md5(secret, copy.data(), copy.size());
        if (!mac) return reply_check::crypto_failure;
        if (CRYPTO_memcmp(mac->data(), received.data(), mac->size()) != 0)
            return reply_check::bad_message_authenticator;
    }
    if (decoded != nullptr) *decoded = std::move(*p);
    return reply_check::ok;
}

std::optional<std::string> hide_password(std::string_view password, std::string_view secret,
                                         const authenticator &request_auth) {
    if (password.size() > kMaxPassword) return std::nullopt;
    std::size_t padded = password.empty() ? kAuthenticatorSize
                                          : (password.size() + kAuthenticatorSize - 1) /
                                                kAuthenticatorSize * kAuthenticatorSize;
    // Plain text until each block is hidden; wiped on every way out.
    secret::string out(padded, '\0');
    std::memcpy(out.data(), password.data(), password.size());
    std::string_view previous = bytes_of(request_auth.data(), request_auth.size());
    for (std::size_t block = 0; block < padded; block += kAuthenticatorSize) {
        auto keystream = md5({secret, previous});
        if (!keystream) return std::nullopt;
        for (std::size_t i = 0; i < kAuthenticatorSize; ++i)
            out[block + i] = static_cast<char>(out[block + i] ^ (*keystream)[i]);
        secret::wipe(keystream->data(), keystream->size());
        previous = std::string_view(out).substr(block, kAuthenticatorSize);
    }
    return std::string(out);
}

const char *describe(reply_check result) {
    switch (result) {
    case reply_check::ok: return "valid";
    case reply_check::malformed: return "malformed";
    case reply_check::wrong_identifier: return "wrong identifier";
    case reply_check::bad_authenticator: return "bad Response Authenticator";
    case reply_check::bad_message_authenticator: return "bad Message-Authenticator";
    case reply_check::missing_message_authenticator: return "no Message-Authenticator";
    case reply_check::malformed_message_authenticator: return "not exactly one 18-octet Message-Authenticator";
    case reply_check::crypto_failure: return "uncheckable (digest failed)";
    }
    return "unknown";
}

}  // namespace radius
