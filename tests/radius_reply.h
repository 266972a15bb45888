// SPDX-License-Identifier: BSD-3-Clause
// Builds a server's reply to a request, as FreeRADIUS would, so tests can
// answer correctly or break one piece at a time.
#pragma once

#include <openssl/hmac.h>

#include <cstring>
#include <stdexcept>

#include "radius/packet.h"

namespace radius_test {

// How the reply is signed; the defaults give a correct, signed reply.
struct reply_shape {
    bool with_ma = true;            // carry a Message-Authenticator
    bool ma_over_zero = false;      // sign it over 16 zero octets (accounting replies)
    std::size_t ma_size = 16;       // octets in its value; anything but 16 is hostile
    int ma_count = 1;               // how many of them
};

inline radius::authenticator must(std::optional<radius::authenticator> digest) {
    if (!digest) throw std::runtime_error("digest failed in a test");
    return *digest;
}

inline std::vector<uint8_t> must_bytes(std::optional<std::vector<uint8_t>> bytes) {
    if (!bytes) throw std::runtime_error("encoding failed in a test");
    return *bytes;
}

// Returns the reply to a request with `request_auth`, signed with `secret`.
inline std::vector<uint8_t> reply(uint8_t code, uint8_t id, const radius::authenticator &request_auth,
                                  const std::vector<radius::attribute> &attrs, std::string_view secret,
                                  const reply_shape &shape = {}) {
    std::vector<uint8_t> out(radius::kHeaderSize);
    out[0] = code;
    out[1] = id;
    std::vector<std::size_t> ma_at;
    auto append = [&](uint8_t type, const std::string &value) {
        out.push_back(type);
        out.push_back(static_cast<uint8_t>(value.size() + radius::kAttrHeader));
        if (type == radius::message_authenticator) ma_at.push_back(out.size());
        out.insert(out.end(), value.begin(), value.end());
    };
    for (const auto &a : attrs) append(a.type, a.value);
    if (shape.with_ma)
        for (int i = 0; i < shape.ma_count; ++i)
            append(radius::message_authenticator, std::string(shape.ma_size, '\0'));
    out[2] = static_cast<uint8_t>(out.size() >> 8);
    out[3] = static_cast<uint8_t>(out.size());
    if (!shape.ma_over_zero) std::memcpy(out.data() + radius::kAuthOffset, request_auth.data(), 16);
    if (shape.with_ma && shape.ma_size == radius::kMessageAuthenticatorSize) {
        auto mac = must(radius::hmac_md5(secret, out.data(), out.size()));
        std::memcpy(out.data() + ma_at.front(), mac.data(), mac.size());
    }
    std::memcpy(out.data() + radius::kAuthOffset, request_auth.data(), 16);
    auto digest = must(radius::md5({std::string_view(reinterpret_cast<char *>(out.data()), out.size()), secret}));
    std::memcpy(out.data() + radius::kAuthOffset, digest.data(), 16);
    return out;
}

// Returns a Disconnect- or CoA-Request signed as RFC 5176 says (Request
// Authenticator and Message-Authenticator over a zero authenticator), with
// `mas` Message-Authenticators (only one is signed; 0 or 2 are hostile), and
// one byte of the signed one flipped when `break_ma`.
inline std::vector<uint8_t> dynauth_request(uint8_t code, uint8_t identifier, const std::vector<radius::attribute> &attrs,
                                            std::string_view secret, int mas = 1, bool break_ma = false) {
    radius::packet p;
    p.code = code;
    p.identifier = identifier;
    p.attributes = attrs;
    for (int i = 0; i < mas; ++i) p.add(radius::message_authenticator, std::string(radius::kMessageAuthenticatorSize, '\0'));
    std::vector<uint8_t> out = must_bytes(radius::encode_accounting_request(p, secret));
    std::fill(out.begin() + radius::kAuthOffset, out.begin() + radius::kHeaderSize, 0);
    if (mas == 1) {
        auto mac = must(radius::hmac_md5(secret, out.data(), out.size()));
        if (break_ma) mac[0] ^= 1;
        std::copy(mac.begin(), mac.end(), out.end() - mac.size());
    }
    auto digest = must(radius::md5({std::string_view(reinterpret_cast<char *>(out.data()), out.size()), secret}));
    std::copy(digest.begin(), digest.end(), out.begin() + radius::kAuthOffset);
    return out;
}

}  // namespace radius_test
