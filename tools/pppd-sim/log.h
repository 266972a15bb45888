// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <string>

// Where intercepted syslog lines go: printed as they come, in the run's format.
void sim_log_line(int priority, const std::string &text);
