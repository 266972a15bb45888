// SPDX-License-Identifier: BSD-3-Clause
// The CHAP-MD5 response (RFC 1994): MD5 over the identifier, the secret and
// the challenge. The peer computes it, and so does every verifier.
#pragma once

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <string_view>

inline constexpr std::size_t CHAP_MD5_SIZE = 16;

inline std::array<unsigned char, CHAP_MD5_SIZE> chap_md5(int id, std::string_view secret,
                                                         const unsigned char *challenge,
                                                         std::size_t challenge_len) {
    std::array<unsigned char, CHAP_MD5_SIZE> digest{};
    unsigned len = 0;
    unsigned char id_byte = static_cast<unsigned char>(id);
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
    EVP_DigestUpdate(ctx, &id_byte, 1);
    EVP_DigestUpdate(ctx, secret.data(), secret.size());
    EVP_DigestUpdate(ctx, challenge, challenge_len);
    EVP_DigestFinal_ex(ctx, digest.data(), &len);
    EVP_MD_CTX_free(ctx);
    return digest;
}
