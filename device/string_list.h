// SPDX-License-Identifier: BSD-3-Clause
// The device library's opaque string list: a multi-valued PAM environment
// attribute, in the list format of platform/pam_env.h.
#pragma once

#include <string>
#include <vector>

struct pamutil_string_list {
    std::vector<std::string> values;
};
