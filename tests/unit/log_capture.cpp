// SPDX-License-Identifier: BSD-3-Clause
// The test binaries take syslog() over as pppd-sim does (its capture is
// linked in), and keep the lines of the code under test in `logged`.
#include "tests/unit/log_capture.h"

#include "tools/pppd-sim/log.h"

std::vector<std::pair<int, std::string>> logged;

void sim_log_line(int priority, const std::string &text) { logged.emplace_back(priority, text); }

bool logged_contains(int priority, const std::string &text) {
    for (const auto &[p, line] : logged)
        if (p == priority && line.find(text) != std::string::npos) return true;
    return false;
}
