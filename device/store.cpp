// SPDX-License-Identifier: BSD-3-Clause
// The configuration store: a flat byte image in a file, read afresh on every
// call since the operator may change it between calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "base/file_trust.h"
#include "base/unique_fd.h"
#include "device/settings.h"
#include "platform/device.h"

int reprom(void *buf, int len, int offset) {
    try {
        if (buf == nullptr || len < 0 || offset < 0) {
            syslog(LOG_ERR, "reprom(): bad request, %d bytes at offset %d", len, offset);
            return -1;
        }
        std::string path = dsdevice_path(settings::kStoreFile);
        base::unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
        if (!fd) {
            syslog(LOG_ERR, "reprom(): cannot open %s: %m", path.c_str());
            return -1;
        }
        struct stat st {};
        int result = -1;
        base::file_verdict verdict =
            base::check_open_file(fd.get(), {base::file_owner::anyone, base::kNoAccessForOthers}, st);
        bool regular = verdict != base::file_verdict::not_regular;
        // The image holds passwords; an old one may still be readable by all.
        static bool warned = false;
        if (verdict == base::file_verdict::loose_mode && !warned) {
            warned = true;
            syslog(LOG_WARNING, "reprom(): %s may be read by group or others and holds passwords; "
                                "chmod 600 it (dsconf writes it so)", path.c_str());
        }
        if (regular && static_cast<long long>(offset) + len <= st.st_size) {
            ssize_t got = pread(fd.get(), buf, static_cast<std::size_t>(len), offset);
            if (got == len) result = len;
        }
        if (!regular)
            syslog(LOG_ERR, "reprom(): %s is not a regular file", path.c_str());
        else if (result < 0)
            syslog(LOG_ERR, "reprom(): %d bytes at offset %d lie outside %s", len, offset,
                   path.c_str());
        return result;
    } catch (...) {
        return -1;
    }
}
