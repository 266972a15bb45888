// SPDX-License-Identifier: BSD-3-Clause
#include "tools/dsconf/sessions.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <vector>

#include "base/file_trust.h"
#include "base/log_text.h"
#include "base/unique_fd.h"
#include "platform/session_registry.h"

namespace dsconf {

namespace {

namespace reg = session_registry;
constexpr const char *kTimeFormat = "%Y-%m-%d %H:%M:%S";
constexpr std::size_t kTimeSize = 32;

// Returns the text of the entry at `path` when it is a private regular file
// of root's; `why` says why not.
std::optional<std::string> read_entry(const std::string &path, std::string &why) {
    base::unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd) {
        why = "cannot be opened";
        return std::nullopt;
    }
    struct stat st {};
    // dsconf runs as root: "root or us" is root.
    if (base::check_open_file(fd.get(), {base::file_owner::root_or_us, base::kNoAccessForOthers}, st) !=
            base::file_verdict::trusted ||
        st.st_size > static_cast<off_t>(reg::kMaxEntrySize)) {
        why = "is not a private regular file of root's";
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    if (read(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        why = "cannot be read";
        return std::nullopt;
    }
    return text;
}

}  // namespace

int list_sessions(const std::string &dir, std::FILE *out, std::FILE *err) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    int left_out = 0;
    std::fprintf(out, "%-8s %-16s %-32s %-15s %-19s %-8s %s\n", "PORT", "USER", "SESSION-ID", "ADDRESS", "SINCE",
                 "PID", "STATE");
    for (const std::string &name : names) {
        std::string path = dir + "/" + name, why = "is not in the registry's format";
        auto text = read_entry(path, why);
        auto e = text ? reg::parse(*text) : std::nullopt;
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
