// SPDX-License-Identifier: BSD-3-Clause
// The device library's files beside the image (local users, dynamic-DNS SSL
// settings, port services) in the description, and the checks every value of
// the description shares.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "tools/dsconf/image.h"

namespace dsconf {

// Throws bad_description naming `where`, the value and `why`.
[[noreturn]] void reject(const std::string &where, const nlohmann::json &value, const std::string &why);

// Returns the integer `value`, within lo..hi.
long long integer(const nlohmann::json &value, const std::string &where, long long lo, long long hi);

// Returns the text `value`: shorter than `width`, without control characters.
std::string text(const nlohmann::json &value, const std::string &where, std::size_t width);
void no_control_characters(const std::string &s, const std::string &where, const nlohmann::json &value);

// Applies the file `key` describes; returns false when `key` names no file.
bool apply_file(const std::string &key, const nlohmann::json &value, device_config &config);

// Adds the description of every file `config` has to `d`.
void describe_files(const device_config &config, nlohmann::json &d);

// Returns the description naming only the file setting `key` (split at its
// dots in `parts`), set to `value`.
nlohmann::json file_setting(const std::vector<std::string> &parts, const std::string &key,
                            const std::string &value);

}  // namespace dsconf
