// SPDX-License-Identifier: BSD-3-Clause
// The simulator exports syslog() so that the plug-in's, the device library's
// and the PAM modules' log lines show up in its transcript instead of
// vanishing into a logger that a sandbox does not run.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <syslog.h>

#include "tools/pppd-sim/log.h"

namespace {

constexpr std::size_t kLineMax = 2048;

// Returns `format` with %m replaced by the text of `saved_errno`.
std::string expand_m(const char *format, int saved_errno) {
    std::string out;
    for (const char *p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == '%') {
            out += "%%";
            ++p;
        } else if (p[0] == '%' && p[1] == 'm') {
            for (const char *e = std::strerror(saved_errno); *e; ++e) {
                if (*e == '%') out += '%';
                out += *e;
            }
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

void capture(int priority, const char *format, va_list args) {
    int saved_errno = errno;
    try {
        std::string fmt = expand_m(format ? format : "", saved_errno);
        char line[kLineMax];
        std::vsnprintf(line, sizeof line, fmt.c_str(), args);
        sim_log_line(priority & LOG_PRIMASK, line);
    } catch (...) {
    }
    errno = saved_errno;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void vsyslog(int priority, const char *format,
                                                    va_list args) {
    capture(priority, format, args);
}

__attribute__((visibility("default"))) void syslog(int priority, const char *format, ...) {
    va_list args;
    va_start(args, format);
    capture(priority, format, args);
    va_end(args);
}

__attribute__((visibility("default"))) void __syslog_chk(int priority, int, const char *format,
                                                         ...) {
    va_list args;
    va_start(args, format);
    capture(priority, format, args);
    va_end(args);
}

__attribute__((visibility("default"))) void __vsyslog_chk(int priority, int, const char *format,
                                                          va_list args) {
    capture(priority, format, args);
}
}
