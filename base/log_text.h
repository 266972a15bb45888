// SPDX-License-Identifier: BSD-3-Clause
// Text a peer or a RADIUS server chose, made safe for a log line: every byte
// that is not printable ASCII, and the backslash itself, is written as \ooo
// (octal), so a user name cannot end the line, forge the next one or send a
// terminal escape sequence to whoever reads the log.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace base {

// Room for a 253-byte RADIUS text with every byte escaped, and its NUL.
inline constexpr std::size_t kLogTextSize = 1024;
inline constexpr std::size_t kEscapeSize = 4;  // \ooo
inline constexpr char kFirstPrintable = ' ', kLastPrintable = '~', kEscape = '\\';
inline constexpr std::string_view kCutMark = "...";

struct log_text {
    std::array<char, kLogTextSize> text{};
    const char *c_str() const noexcept { return text.data(); }
};

// Returns `in` escaped; what does not fit ends in "..." (never half an escape).
inline log_text escaped(std::string_view in) noexcept {
    log_text out;
    std::size_t used = 0;
    const std::size_t room = out.text.size() - 1 - kCutMark.size();
    for (char c : in) {
        bool plain = c >= kFirstPrintable && c <= kLastPrintable && c != kEscape;
        std::size_t need = plain ? 1 : kEscapeSize;
        if (used + need > room) {
            for (char m : kCutMark) out.text[used++] = m;
            break;
        }
        if (plain) {
            out.text[used++] = c;
            continue;
        }
        auto byte = static_cast<unsigned char>(c);
        out.text[used++] = kEscape;
        out.text[used++] = static_cast<char>('0' + (byte >> 6));
        out.text[used++] = static_cast<char>('0' + ((byte >> 3) & 7));
        out.text[used++] = static_cast<char>('0' + (byte & 7));
    }
    out.text[used] = '\0';
    return out;
}

// The same for a C string that may be null (read as empty).
inline log_text escaped(const char *in) noexcept { return escaped(std::string_view(in ? in : "")); }

}  // namespace base
