// SPDX-License-Identifier: BSD-3-Clause
// Encoding of a multi-valued attribute as one PAM environment value:
// "<count>:" followed by the values joined with ',', each with '%', ',' and
// control bytes written as %XX. Any byte but NUL survives the round trip.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct pamutil_string_list {
    std::vector<std::string> values;
};

// Returns the encoded form of `values`.
std::string ds_encode_string_list(const std::vector<std::string> &values);

// Returns the decoded values, or nothing when `text` is not a valid encoding.
std::optional<std::vector<std::string>> ds_decode_string_list(std::string_view text);
