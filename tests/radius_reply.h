// SPDX-License-Identifier: BSD-3-Clause
// Builds a server's reply to a request, as FreeRADIUS would, so tests can
// answer correctly or break one piece at a time.
#pragma once

#include <cstring>
#include <openssl/hmac.h>

#include "pam/radius/packet.h"

namespace radius_test {

// Returns a signed reply (Message-Authenticator unless `with_ma` is false).
inline std::vector<uint8_t> reply(uint8_t code, uint8_t id, const radius::authenticator &request_auth,
                                  const std::vector<radius::attribute> &attrs, std::string_view secret,
                                  bool with_ma = true) {
    radius::packet p;
    p.code = code;
    p.identifier = id;
    p.auth = request_auth;
    p.attributes = attrs;
    if (with_ma) p.add(radius::message_authenticator, std::string(16, '\0'));
    std::vector<uint8_t> out(radius::kHeaderSize);
    out[0] = code;
    out[1] = id;
    std::memcpy(out.data() + 4, request_auth.data(), 16);
    std::size_t ma_at = 0;
    for (const auto &a : p.attributes) {
        out.push_back(a.type);
        out.push_back(static_cast<uint8_t>(a.value.size() + 2));
        if (a.type == radius::message_authenticator) ma_at = out.size();
        out.insert(out.end(), a.value.begin(), a.value.end());
    }
    out[2] = static_cast<uint8_t>(out.size() >> 8);
    out[3] = static_cast<uint8_t>(out.size());
    if (with_ma) {
        unsigned len = 0;
        HMAC(EVP_md5(), secret.data(), static_cast<int>(secret.size()), out.data(), out.size(),
             out.data() + ma_at, &len);
    }
    auto digest = radius::md5({std::string_view(reinterpret_cast<char *>(out.data()), out.size()), secret});
    std::memcpy(out.data() + 4, digest.data(), 16);
    return out;
}

}  // namespace radius_test
