// SPDX-License-Identifier: BSD-3-Clause
#include "tools/dsconf/sessions.h"

#include <ctime>

#include "base/log_text.h"
#include "platform/session_registry.h"

namespace dsconf {

namespace {

namespace reg = session_registry;
constexpr const char *kTimeFormat = "%Y-%m-%d %H:%M:%S";
constexpr std::size_t kTimeSize = 32;

}  // namespace

int list_sessions(const std::string &dir, std::FILE *out, std::FILE *err) {
    int left_out = 0;
    std::fprintf(out, "%-8s %-16s %-32s %-15s %-19s %-8s %s\n", "PORT", "USER", "SESSION-ID", "ADDRESS", "SINCE",
                 "PID", "STATE");
    for (const std::string &name : reg::entry_names(dir)) {
        std::string path = dir + "/" + name, why;
        auto e = reg::read_entry(path, why);
        if (!e) {
            std::fprintf(err, "dsconf: %s %s; left out\n", base::escaped(path).c_str(), why.c_str());
            ++left_out;
            continue;
        }
        char since[kTimeSize] = "";
        std::time_t t = static_cast<std::time_t>(e->since);
        std::tm local{};
        if (localtime_r(&t, &local) != nullptr) std::strftime(since, sizeof since, kTimeFormat, &local);
        std::fprintf(out, "%-8s %-16s %-32s %-15s %-19s %-8lld %s\n", base::escaped(name).c_str(),
                     base::escaped(e->user).c_str(), base::escaped(e->session_id.empty() ? "-" : e->session_id).c_str(),
                     base::escaped(e->framed_ip.empty() ? "-" : e->framed_ip).c_str(), since, e->pid,
                     reg::live(*e) ? "live" : "stale");
    }
    return left_out;
}

}  // namespace dsconf
