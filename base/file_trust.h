// SPDX-License-Identifier: BSD-3-Clause
// Whether an open file may be trusted: a regular file, owned as the caller's
// rule says, on which group and others hold none of the permissions the rule
// forbids. Checked on the descriptor already open, so what is checked is what
// is read. Each caller keeps its own action on a verdict (refuse, warn,
// replace).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

namespace base {

enum class file_owner {
    anyone,      // whoever owns it (the directory guards it)
    root_or_us,  // root, or the effective user we run as
    root,        // root alone, whoever we run as
};

inline constexpr mode_t kNoAccessForOthers = 077;  // nothing for group or others
inline constexpr mode_t kNoWriteForOthers = 022;   // group and others may read

struct file_rule {
    file_owner owner;
    mode_t forbidden;  // permission bits group and others must not have
};

enum class file_verdict { trusted, not_regular, foreign_owner, loose_mode };

// Returns whether `uid` is root or the effective user we run as.
inline bool owned_by_us(uid_t uid) noexcept { return uid == 0 || uid == geteuid(); }

// Returns the verdict on the open file `fd` under `rule`, its status in `st`
// (cleared first; as fstat left it when it could be read).
inline file_verdict check_open_file(int fd, const file_rule &rule, struct stat &st) noexcept {
    st = {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return file_verdict::not_regular;
    if (rule.owner == file_owner::root_or_us && !owned_by_us(st.st_uid)) return file_verdict::foreign_owner;
    if (rule.owner == file_owner::root && st.st_uid != 0) return file_verdict::foreign_owner;
    if ((st.st_mode & rule.forbidden) != 0) return file_verdict::loose_mode;
    return file_verdict::trusted;
}

}  // namespace base
