// SPDX-License-Identifier: BSD-3-Clause
// Every syslog line the code under test writes, kept for assertions.
#pragma once

#include <string>
#include <utility>
#include <vector>

extern std::vector<std::pair<int, std::string>> logged;  // priority, text

// Returns whether a line of `priority` containing `text` was logged.
bool logged_contains(int priority, const std::string &text);
