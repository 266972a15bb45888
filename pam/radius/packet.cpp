// SPDX-License-Identifier: BSD-3-Clause
#include "pam/radius/packet.h"

#include <cstring>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/crypto.h>

namespace radius {

namespace {

constexpr std::size_t kLengthOffset = 2;
constexpr std::size_t kAuthOffset = 4;

std::string_view bytes_of(const void *data, std::size_t n) {
    return {static_cast<const char *>(data), n};
}

void put_u16(std::vector<uint8_t> &out, std::size_t at, std::size_t value) {
    out[at] = static_cast<uint8_t>(value >> 8);
    out[at + 1] = static_cast<uint8_t>(value & 0xff);
}

// Returns the wire form with a zero authenticator, or nothing when too long.
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
    if (out.size() > kMaxPacket) return std::nullopt;
    put_u16(out, kLengthOffset, out.size());
    return out;
}

std::array<uint8_t, 16> hmac_md5(std::string_view key, const uint8_t *data, std::size_t n) {
    std::array<uint8_t, 16> mac{};
    unsigned len = 0;
    HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()), data, n, mac.data(), &len);
    return mac;
}

// Returns the offset of the Message-Authenticator value in a well-formed packet.
std::optional<std::size_t> find_message_authenticator(const uint8_t *bytes, std::size_t length) {
    for (std::size_t at = kHeaderSize; at + kAttrHeader <= length;) {
        std::size_t len = bytes[at + 1];
        if (bytes[at] == message_authenticator && len == kAttrHeader + 16) return at + kAttrHeader;
        at += len;
    }
    return std::nullopt;
}

}  // namespace

bool packet::add(uint8_t type, std::string_view value) {
    if (value.size() > kMaxAttrValue) return false;
    attributes.push_back({type, std::string(value)});
    return true;
}

bool packet::add_u32(uint8_t type, uint32_t value) {
    char be[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                  static_cast<char>(value >> 8), static_cast<char>(value)};
    return add(type, bytes_of(be, sizeof be));
}

std::optional<std::string> packet::first(uint8_t type) const {
    for (const attribute &a : attributes)
        if (a.type == type) return a.value;
    return std::nullopt;
}

std::array<uint8_t, 16> md5(std::initializer_list<std::string_view> parts) {
    std::array<uint8_t, 16> digest{};
    unsigned len = 0;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
    for (std::string_view part : parts) EVP_DigestUpdate(ctx, part.data(), part.size());
    EVP_DigestFinal_ex(ctx, digest.data(), &len);
    EVP_MD_CTX_free(ctx);
    return digest;
}

std::optional<std::vector<uint8_t>> encode_access_request(const packet &p, std::string_view secret) {
    packet with_ma = p;
    with_ma.add(message_authenticator, std::string(16, '\0'));
    auto out = serialize(with_ma);
    if (!out) return std::nullopt;
    auto mac = hmac_md5(secret, out->data(), out->size());
    std::memcpy(out->data() + out->size() - mac.size(), mac.data(), mac.size());
    return out;
}

std::optional<std::vector<uint8_t>> encode_accounting_request(packet &p, std::string_view secret) {
    p.auth.fill(0);
    auto out = serialize(p);
    if (!out) return std::nullopt;
    auto digest = md5({bytes_of(out->data(), out->size()), secret});
    std::memcpy(out->data() + kAuthOffset, digest.data(), digest.size());
    std::memcpy(p.auth.data(), digest.data(), digest.size());
    return out;
}

std::optional<packet> decode(const uint8_t *bytes, std::size_t size) {
    if (bytes == nullptr || size < kHeaderSize) return std::nullopt;
    std::size_t length = (static_cast<std::size_t>(bytes[kLengthOffset]) << 8) | bytes[kLengthOffset + 1];
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

reply_check check_reply(const uint8_t *bytes, std::size_t size, uint8_t identifier,
                        const authenticator &request_auth, std::string_view secret,
                        bool require_ma, packet *decoded) {
    auto p = decode(bytes, size);
    if (!p) return reply_check::malformed;
    if (p->identifier != identifier) return reply_check::wrong_identifier;
    std::size_t length = (static_cast<std::size_t>(bytes[kLengthOffset]) << 8) | bytes[kLengthOffset + 1];
    std::vector<uint8_t> copy(bytes, bytes + length);
    std::memcpy(copy.data() + kAuthOffset, request_auth.data(), kAuthenticatorSize);
    auto expected = md5({bytes_of(copy.data(), copy.size()), secret});
    if (CRYPTO_memcmp(expected.data(), bytes + kAuthOffset, kAuthenticatorSize) != 0)
        return reply_check::bad_authenticator;
    auto ma_at = find_message_authenticator(copy.data(), copy.size());
    if (!ma_at && require_ma) return reply_check::missing_message_authenticator;
    if (ma_at) {
        std::array<uint8_t, 16> received{};
        std::memcpy(received.data(), copy.data() + *ma_at, received.size());
        std::memset(copy.data() + *ma_at, 0, received.size());
        auto mac = hmac_md5(secret, copy.data(), copy.size());
        if (CRYPTO_memcmp(mac.data(), received.data(), mac.size()) != 0)
            return reply_check::bad_message_authenticator;
    }
    if (decoded != nullptr) *decoded = std::move(*p);
    return reply_check::ok;
}

std::optional<std::string> hide_password(std::string_view password, std::string_view secret,
                                         const authenticator &request_auth) {
    if (password.size() > kMaxPassword) return std::nullopt;
    std::size_t padded = password.empty() ? 16 : (password.size() + 15) / 16 * 16;
    std::string out(padded, '\0');
    std::memcpy(out.data(), password.data(), password.size());
    std::string_view previous = bytes_of(request_auth.data(), request_auth.size());
    for (std::size_t block = 0; block < padded; block += 16) {
        auto b = md5({secret, previous});
        for (std::size_t i = 0; i < 16; ++i) out[block + i] = static_cast<char>(out[block + i] ^ b[i]);
        previous = std::string_view(out).substr(block, 16);
    }
    return out;
}

const char *describe(reply_check result) {
    switch (result) {
    case reply_check::ok: return "valid";
    case reply_check::malformed: return "malformed";
    case reply_check::wrong_identifier: return "wrong identifier";
    case reply_check::bad_authenticator: return "bad Response Authenticator";
    case reply_check::bad_message_authenticator: return "bad Message-Authenticator";
    case reply_check::missing_message_authenticator: return "no Message-Authenticator";
    }
    return "unknown";
}

}  // namespace radius
