// SPDX-License-Identifier: BSD-3-Clause
// The device's local user database: "name:password" lines in a file that only
// its owner may read.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <syslog.h>

#include "device/settings.h"
#include "platform/device.h"

namespace {
constexpr mode_t kGroupOrOtherAccess = 077;
constexpr int kFound = 0;
constexpr int kNotFound = 1;
constexpr int kError = -1;
}  // namespace

int getuserinfo(const char *name, void *record) {
    try {
        if (name == nullptr || record == nullptr) return kError;
        std::string path = dsdevice_path(DSDEVICE_USERS_FILE);
        std::FILE *f = std::fopen(path.c_str(), "re");
        if (f == nullptr) return kNotFound;
        std::unique_ptr<std::FILE, int (*)(std::FILE *)> closer(f, std::fclose);
        struct stat st {};
        if (fstat(fileno(f), &st) != 0 || (st.st_mode & kGroupOrOtherAccess) != 0) {
            syslog(LOG_ERR, "getuserinfo(): %s is readable by others, refusing to use it",
                   path.c_str());
            return kError;
        }
        char *line = nullptr;
        std::size_t capacity = 0;
        std::unique_ptr<char *, void (*)(char **)> line_owner(&line,
                                                              [](char **p) { std::free(*p); });
        std::string_view wanted(name);
        while (getline(&line, &capacity, f) >= 0) {
            std::string_view text(line);
            if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
            std::size_t colon = text.find(':');
            if (colon == std::string_view::npos || text.substr(0, colon) != wanted) continue;
            std::string_view password = text.substr(colon + 1);
            auto *out = static_cast<unsigned char *>(record);
            std::memset(out, 0, DS_USERINFO_SIZE);
            std::size_t room = DS_USERINFO_SIZE - DS_USERINFO_PASSWORD - 1;
            if (password.size() > room) {
                syslog(LOG_ERR, "getuserinfo(): password of %s too long", name);
                return kError;
            }
            std::memcpy(out + DS_USERINFO_PASSWORD, password.data(), password.size());
            return kFound;
        }
        return kNotFound;
    } catch (...) {
        return kError;
    }
}
