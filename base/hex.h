// SPDX-License-Identifier: BSD-3-Clause
// Hexadecimal text of bytes: written in lower case, read in either case.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace base {

inline constexpr char kHexDigits[] = "0123456789abcdef";
inline constexpr unsigned kHexRadix = 16;

// Writes 2 * `n` digits for `bytes` at `out`, without a terminator.
inline void to_hex(const unsigned char *bytes, std::size_t n, char *out) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        out[2 * i] = kHexDigits[bytes[i] / kHexRadix];
        out[2 * i + 1] = kHexDigits[bytes[i] % kHexRadix];
    }
}

// Returns the digits of `bytes`.
inline std::string to_hex(std::string_view bytes) {
    std::string out(2 * bytes.size(), '\0');
    to_hex(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), out.data());
    return out;
}

// Returns the value of one digit of either case, or -1.
inline int hex_digit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Returns the bytes of a hexadecimal text, or nothing when it is not one.
inline std::optional<std::string> from_hex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = hex_digit(hex[i]), lo = hex_digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * static_cast<int>(kHexRadix) + lo);
    }
    return out;
}

}  // namespace base
