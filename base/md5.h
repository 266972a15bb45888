// SPDX-License-Identifier: BSD-3-Clause
// MD5 over several pieces, through OpenSSL's EVP interface, every call checked:
// CHAP-MD5 (RFC 1994) and RADIUS's authenticators are built on it.
#pragma once

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string_view>

namespace base {

inline constexpr std::size_t kMd5Size = 16;
using md5_digest = std::array<uint8_t, kMd5Size>;

struct md5_result {
    md5_digest digest{};
    const char *failed_call = nullptr;  // the OpenSSL call that failed; digest unusable
};

// Returns MD5 over the concatenation of `parts`.
inline md5_result md5(std::initializer_list<std::string_view> parts) {
    md5_result r;
    struct ctx_free {
        void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); }
    };
    std::unique_ptr<EVP_MD_CTX, ctx_free> ctx(EVP_MD_CTX_new());
    if (!ctx) {
        r.failed_call = "EVP_MD_CTX_new";
        return r;
    }
    if (EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) {
        r.failed_call = "EVP_DigestInit_ex(MD5)";
        return r;
    }
    for (std::string_view part : parts) {
        if (EVP_DigestUpdate(ctx.get(), part.data(), part.size()) != 1) {
            r.failed_call = "EVP_DigestUpdate(MD5)";
            return r;
        }
    }
    unsigned len = 0;
    if (EVP_DigestFinal_ex(ctx.get(), r.digest.data(), &len) != 1 || len != kMd5Size)
        r.failed_call = "EVP_DigestFinal_ex(MD5)";
    return r;
}

// Returns the CHAP-MD5 response (RFC 1994): MD5 over the identifier, the
// secret and the challenge.
inline md5_result chap_md5(int id, std::string_view secret, const unsigned char *challenge,
                           std::size_t challenge_len) {
    const unsigned char id_byte = static_cast<unsigned char>(id);
    return md5({std::string_view(reinterpret_cast<const char *>(&id_byte), 1), secret,
                std::string_view(reinterpret_cast<const char *>(challenge), challenge_len)});
}

}  // namespace base
