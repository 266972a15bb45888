// SPDX-License-Identifier: BSD-3-Clause
#include "tools/dsdae/privileges.h"

#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace dsdae {

namespace {

constexpr uint32_t kKept = (1u << CAP_KILL) | (1u << CAP_DAC_READ_SEARCH);
static_assert(CAP_KILL < 32 && CAP_DAC_READ_SEARCH < 32, "both live in the first word of the sets");

bool failed(const char *step, std::string &error) {
    error = std::string(step) + ": " + std::strerror(errno);
    return false;
}

}  // namespace

bool drop_privileges(const std::string &user, std::string &error) {
    errno = 0;
    const passwd *pw = getpwnam(user.c_str());
    if (pw == nullptr) {
        error = "no user \"" + user + "\"";
        return false;
    }
    if (pw->pw_uid == 0) {
        error = "user \"" + user + "\" is root, which would keep every privilege";
        return false;
    }
    const uid_t uid = pw->pw_uid;
    const gid_t gid = pw->pw_gid;
    if (prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0) return failed("keeping capabilities across setuid", error);
    if (setgroups(0, nullptr) != 0) return failed("dropping supplementary groups", error);
    if (setresgid(gid, gid, gid) != 0) return failed("setresgid", error);
    if (setresuid(uid, uid, uid) != 0) return failed("setresuid", error);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3] = {};
    sets[0].effective = sets[0].permitted = kKept;
    if (syscall(SYS_capset, &header, sets) != 0) return failed("capset", error);
    if (prctl(PR_SET_KEEPCAPS, 0, 0, 0, 0) != 0) return failed("prctl", error);
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return failed("no_new_privs", error);

    // Trust what the kernel says now, not what the calls returned.
    __user_cap_data_struct now[_LINUX_CAPABILITY_U32S_3] = {};
    header = {_LINUX_CAPABILITY_VERSION_3, 0};
    if (syscall(SYS_capget, &header, now) != 0) return failed("capget", error);
    uid_t r = 0, e = 0, s = 0;
    if (getresuid(&r, &e, &s) != 0) return failed("getresuid", error);
    if (r != uid || e != uid || s != uid || getegid() != gid || now[0].effective != kKept ||
        now[0].permitted != kKept || now[1].effective != 0 || now[1].permitted != 0 || now[0].inheritable != 0) {
        error = "the process did not end up as asked";
        return false;
    }
    return true;
}

}  // namespace dsdae
