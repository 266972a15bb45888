// SPDX-License-Identifier: BSD-3-Clause
// Small helpers the PAM modules share for the request and reply attributes
// the plug-in exchanges through the PAM environment.
#pragma once

#include <security/pam_appl.h>

#include <optional>
#include <string>
#include <string_view>

namespace pamenv {

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

// Returns the bytes of a hexadecimal text, or nothing when it is not one.
inline std::optional<std::string> from_hex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = digit(hex[i]), lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

inline std::string to_hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 0x0f];
    }
    return out;
}

}  // namespace pamenv
