// SPDX-License-Identifier: BSD-3-Clause
// Layout of the 551-byte SSL options block handed to the dynamic-DNS client.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "platform/device.h"

namespace ssl_block {

inline constexpr std::size_t kEnabled = 0;      // set to 1 by the plug-in
inline constexpr std::size_t kVerifyPeer = 1;   // 0 or 1
inline constexpr std::size_t kCaFile = 2;       // NUL-terminated path
inline constexpr std::size_t kCaFileWidth = 256;
inline constexpr std::size_t kCiphers = kCaFile + kCaFileWidth;  // NUL-terminated list
inline constexpr std::size_t kCiphersWidth = 256;
inline constexpr std::size_t kLineMax = 600;
static_assert(kCiphers + kCiphersWidth <= device::kDyndnsSslBlockSize);

// Returns false when `key` is unknown or `value` does not fit its field.
inline bool set_field(unsigned char *block, std::string_view key, std::string_view value) {
    auto put_text = [&](std::size_t offset, std::size_t width) {
        if (value.size() >= width) return false;
        std::memcpy(block + offset, value.data(), value.size());
        return true;
    };
    if (key == "verify_peer") {
        if (value != "0" && value != "1") return false;
        block[kVerifyPeer] = value == "1";
        return true;
    }
    if (key == "ca_file") return put_text(kCaFile, kCaFileWidth);
    if (key == "ciphers") return put_text(kCiphers, kCiphersWidth);
    return false;
}

}  // namespace ssl_block
