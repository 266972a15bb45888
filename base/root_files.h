// SPDX-License-Identifier: BSD-3-Clause
// Root's own directories under /run and the small state files in them: a
// directory is trusted only when it is root's and closed to others as its
// owner asks, and a file is replaced whole, so a reader in another process
// sees the old text or the new one, never a part.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/unique_fd.h"

namespace base {

inline constexpr const char *kReplaceSuffix = ".XXXXXX";  // the temporary file beside the one replaced

enum class dir_verdict { trusted, cannot_create, not_directory, not_ours };

// Returns the verdict on `dir`, created with `mode` when missing: a
// directory (not a link to one) of root's on which group and others hold
// none of the `forbidden` permissions.
inline dir_verdict root_dir(const std::string &dir, mode_t mode, mode_t forbidden) noexcept {
    if (mkdir(dir.c_str(), mode) != 0 && errno != EEXIST) return dir_verdict::cannot_create;
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return dir_verdict::not_directory;
    if (st.st_uid != 0 || (st.st_mode & forbidden) != 0) return dir_verdict::not_ours;
    return dir_verdict::trusted;
}

// Returns whether `path` now holds `text` with `mode`: written to a new
// temporary file beside it and renamed over it. On failure nothing is left
// behind and errno says what failed.
inline bool replace_file(const std::string &path, std::string_view text, mode_t mode) {
    std::string temp = path + kReplaceSuffix;
    unique_fd fd(mkstemp(temp.data()));
    if (!fd) return false;
    bool ok = fchmod(fd.get(), mode) == 0 &&
              write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = close(fd.release()) == 0 && ok;
    if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
    int why = errno;
    unlink(temp.c_str());
    errno = why;
    return false;
}

}  // namespace base
