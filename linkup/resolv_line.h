// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <cstddef>
#include <string_view>

inline constexpr std::size_t kResolvMinLine = 18;

// Returns the address a resolver-file line names ("nameserver ADDR"), or an
// empty view when the line is skipped. `line` includes its newline, if any.
std::string_view ds_resolv_nameserver(std::string_view line) noexcept;
