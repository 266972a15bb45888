// SPDX-License-Identifier: BSD-3-Clause
#include "linkup/resolv_line.h"

namespace {

constexpr std::string_view kKeyword = "nameserver";
constexpr std::string_view kFirstSeparators = ", \t";
constexpr std::string_view kAddressSeparators = ", \t\n";

// Returns the token at the start of `text` (after separators) and where it ends.
std::string_view next_token(std::string_view text, std::string_view separators,
                            std::size_t &end) {
    std::size_t start = text.find_first_not_of(separators);
    if (start == std::string_view::npos) return {};
    end = text.find_first_of(separators, start);
    return text.substr(start, end == std::string_view::npos ? end : end - start);
}

}  // namespace

std::string_view ds_resolv_nameserver(std::string_view line) noexcept {
    if (line.size() < kResolvMinLine) return {};
    // Lines are C texts to the tokenizer: a NUL ends them.
    line = line.substr(0, line.find('\0'));
    std::size_t end = 0;
    std::string_view first = next_token(line, kFirstSeparators, end);
    if (first.substr(0, kKeyword.size()) != kKeyword) return {};
    if (end == std::string_view::npos) return {};
    std::size_t ignored = 0;
    return next_token(line.substr(end + 1), kAddressSeparators, ignored);
}
