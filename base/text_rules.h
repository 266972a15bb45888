// SPDX-License-Identifier: BSD-3-Clause
// Rules for text that crosses into line-based files and the dynamic-DNS
// client's options, shared by the programs that write such text (dsconf) and
// those that read it back at run time (the plug-in), so the two cannot
// disagree.
#pragma once

#include <string_view>

namespace base {

inline constexpr unsigned char kFirstNonControl = 0x20, kDelete = 0x7f;

// Returns whether `c` is a C0 control byte or DEL: a line break among them
// would split a line of a line-based file.
inline bool is_control(unsigned char c) noexcept { return c < kFirstNonControl || c == kDelete; }

inline bool has_control_character(std::string_view text) noexcept {
    for (unsigned char c : text)
        if (is_control(c)) return true;
    return false;
}

// The dynamic-DNS client's input file splits options on blanks, reads "#" as
// a comment and a backslash as an escape.
inline constexpr std::string_view kOptionBreakers = " \t#\\";

// Returns whether `text` would not stay one option value in that file.
inline bool splits_an_option(std::string_view text) noexcept {
    return has_control_character(text) || text.find_first_of(kOptionBreakers) != std::string_view::npos;
}

}  // namespace base
