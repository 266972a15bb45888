// SPDX-License-Identifier: BSD-3-Clause
// The device's local user database: "name:password" lines in a file that only
// its owner may read.
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "base/log_text.h"
#include "base/file_trust.h"
#include "base/line_tokens.h"
#include "base/unique_fd.h"
#include "device/settings.h"
#include "platform/device.h"

namespace {
constexpr char kNameSeparator = ':';
constexpr int kFound = 0;
constexpr int kNotFound = 1;
constexpr int kError = -1;
// A user database beyond this is not one this device wrote.
constexpr off_t kMaxUsersFile = 1 << 20;

// The file's bytes, wiped when they go: they are every user's password.
struct wiped_buffer {
    std::vector<char> bytes;
    ~wiped_buffer() { explicit_bzero(bytes.data(), bytes.size()); }
};
}  // namespace

int getuserinfo(const char *name, void *record) {
    try {
        if (name == nullptr || record == nullptr) return kError;
        std::string path = dsdevice_path(settings::kUsersFile);
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) return kNotFound;
        base::unique_fd closer(fd);
        struct stat st {};
        const char *problem = nullptr;
        base::file_verdict verdict =
            base::check_open_file(fd, {base::file_owner::anyone, base::kNoAccessForOthers}, st);
        if (verdict == base::file_verdict::not_regular) problem = "is not a regular file";
        else if (verdict == base::file_verdict::loose_mode) problem = "is readable by others";
        else if (st.st_size > kMaxUsersFile) problem = "is larger than 1 MiB";
        if (problem != nullptr) {
            syslog(LOG_ERR, "getuserinfo(): %s %s, refusing to use it", path.c_str(), problem);
            return kError;
        }
        wiped_buffer file;
        file.bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (got < file.bytes.size()) {
            ssize_t n = read(fd, file.bytes.data() + got, file.bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        std::string_view text(file.bytes.data(), got);
        std::string_view wanted(name);
        for (std::string_view line : base::lines(text)) {
            auto fields = base::split_at(line, kNameSeparator);
            if (!fields || fields->first != wanted) continue;
            std::string_view password = fields->second;
            auto *out = static_cast<unsigned char *>(record);
            std::memset(out, 0, device::kUserinfoSize);
            std::size_t room = device::kUserinfoSize - device::kUserinfoPassword - 1;
            if (password.size() > room) {
                syslog(LOG_ERR, "getuserinfo(): password of %s too long", base::escaped(name).c_str());
                return kError;
            }
            std::memcpy(out + device::kUserinfoPassword, password.data(), password.size());
            return kFound;
        }
        return kNotFound;
    } catch (...) {
        return kError;
    }
}
