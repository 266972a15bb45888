// SPDX-License-Identifier: BSD-3-Clause
// The test binaries export syslog() (and its fortified forms) so that the
// lines of the code under test land in `logged`.
#include "tests/unit/log_capture.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <syslog.h>

std::vector<std::pair<int, std::string>> logged;

namespace {
constexpr std::size_t kLineMax = 2048;
}

extern "C" void vsyslog(int priority, const char *format, va_list args) {
    int saved_errno = errno;
    std::string fmt;
    for (const char *p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 'm') {
            fmt += std::strerror(saved_errno);
            ++p;
        } else {
            fmt += *p;
        }
    }
    char line[kLineMax];
    std::vsnprintf(line, sizeof line, fmt.c_str(), args);
    logged.emplace_back(priority & LOG_PRIMASK, line);
    errno = saved_errno;
}

extern "C" void syslog(int priority, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}

extern "C" void __vsyslog_chk(int priority, int, const char *format, va_list args) {
    vsyslog(priority, format, args);
}

extern "C" void __syslog_chk(int priority, int, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}

bool logged_contains(int priority, const std::string &text) {
    for (const auto &[p, line] : logged)
        if (p == priority && line.find(text) != std::string::npos) return true;
    return false;
}
