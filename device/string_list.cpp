// SPDX-License-Identifier: BSD-3-Clause
#include "device/string_list.h"

#include <charconv>
#include <cstring>
#include <new>
#include <syslog.h>

#include "platform/device.h"

namespace {

constexpr char kEscape = '%';
constexpr char kSeparator = ',';
constexpr char kCountEnd = ':';
constexpr std::size_t kMaxValues = 4096;
constexpr char kHexDigits[] = "0123456789ABCDEF";

bool needs_escape(unsigned char c) {
    return c == kEscape || c == kSeparator || c < 0x20 || c == 0x7f;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Returns the unescaped `text`, or nothing on a bad escape.
std::optional<std::string> unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != kEscape) {
            // A byte the encoder escapes never stands raw in a valid list.
            if (needs_escape(static_cast<unsigned char>(text[i]))) return std::nullopt;
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int hi = hex_value(text[i + 1]);
        int lo = hex_value(text[i + 2]);
        if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

}  // namespace

std::string ds_encode_string_list(const std::vector<std::string> &values) {
    std::string out = std::to_string(values.size());
    out += kCountEnd;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) out += kSeparator;
        for (unsigned char c : values[i]) {
            if (needs_escape(c)) {
                out += kEscape;
                out += kHexDigits[c >> 4];
                out += kHexDigits[c & 0x0f];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

std::optional<std::vector<std::string>> ds_decode_string_list(std::string_view text) {
    std::size_t colon = text.find(kCountEnd);
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    std::size_t count = 0;
    auto [end, err] = std::from_chars(text.data(), text.data() + colon, count);
    if (err != std::errc{} || end != text.data() + colon || count > kMaxValues)
        return std::nullopt;
    std::string_view rest = text.substr(colon + 1);
    std::vector<std::string> values;
    if (count == 0) {
        if (!rest.empty()) return std::nullopt;
        return values;
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t comma = rest.find(kSeparator);
        bool last = i + 1 == count;
        if (last != (comma == std::string_view::npos)) return std::nullopt;
        auto value = unescape(rest.substr(0, comma));
        if (!value) return std::nullopt;
        values.push_back(std::move(*value));
        if (!last) rest = rest.substr(comma + 1);
    }
    return values;
}

pamutil_string_list *pamutil_getenv_string_list(pam_handle_t *pamh, const char *key) {
    try {
        if (pamh == nullptr || key == nullptr) return nullptr;
        const char *text = pam_getenv(pamh, key);
        if (text == nullptr) return nullptr;
        auto values = ds_decode_string_list(text);
        if (!values) {
            syslog(LOG_ERR, "pamutil: %s does not hold a valid list, ignored", key);
            return nullptr;
        }
        return new pamutil_string_list{std::move(*values)};
    } catch (...) {
        return nullptr;
    }
}

int pamutil_putenv_string_list(pam_handle_t *pamh, const char *key,
                               const pamutil_string_list *list) {
    try {
        if (pamh == nullptr || key == nullptr || list == nullptr) return PAM_BUF_ERR;
        std::string text = key;
        text += '=';
        text += ds_encode_string_list(list->values);
        return pam_putenv(pamh, text.c_str());
    } catch (...) {
        return PAM_BUF_ERR;
    }
}

void pamutil_free_string_list(pamutil_string_list *list) { delete list; }

pamutil_string_list *pamutil_new_string_list(void) {
    return new (std::nothrow) pamutil_string_list{};
}

int pamutil_append_string(pamutil_string_list *list, const char *value) {
    try {
        if (list == nullptr || value == nullptr || list->values.size() >= kMaxValues) return -1;
        list->values.emplace_back(value);
        return 0;
    } catch (...) {
        return -1;
    }
}

int pamutil_string_list_count(const pamutil_string_list *list) {
    return list ? static_cast<int>(list->values.size()) : 0;
}

const char *pamutil_string_list_at(const pamutil_string_list *list, int index) {
    if (list == nullptr || index < 0 || static_cast<std::size_t>(index) >= list->values.size())
        return nullptr;
    return list->values[static_cast<std::size_t>(index)].c_str();
}
