// SPDX-License-Identifier: BSD-3-Clause
// Text comparison for secrets.
#pragma once

#include <cstddef>
#include <string_view>

namespace base {

// Returns a == b, looking at every byte of the longer text whatever differs,
// so the time taken does not tell where the first difference lies.
inline bool secure_equals(std::string_view a, std::string_view b) noexcept {
    std::size_t longest = a.size() > b.size() ? a.size() : b.size();
    unsigned difference = a.size() == b.size() ? 0u : 1u;
    for (std::size_t i = 0; i < longest; ++i) {
        unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        difference |= static_cast<unsigned>(x ^ y);
    }
    return difference == 0;
}

}  // namespace base
