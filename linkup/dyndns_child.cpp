// SPDX-License-Identifier: BSD-3-Clause
#include "linkup/dyndns_child.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "base/pidfd.h"
#include "base/signals.h"

namespace {

constexpr int kFirstInheritedFd = 3;
constexpr int kStdioCount = 3;
constexpr int kExecFailed = 1;
constexpr const char *kDevNull = "/dev/null";

// In the child: what the daemon's own script launcher does before exec.
[[noreturn]] void exec_clean(char *const argv[]) {
    base::reset_signals();
    if (syscall(SYS_close_range, kFirstInheritedFd, ~0U, 0) != 0) {
        rlimit limit{};
        int last = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                       ? static_cast<int>(limit.rlim_cur)
                       : 1024;
        for (int fd = kFirstInheritedFd; fd < last; ++fd) close(fd);
    }
    // open() takes the lowest free number, so each closed one of 0-2 gets /dev/null.
    for (int fd = 0; fd < kStdioCount; ++fd)
        if (fcntl(fd, F_GETFD) < 0) open(kDevNull, O_RDWR);
    execvp(argv[0], argv);
    _exit(kExecFailed);
}

}  // namespace

pid_t ds_start_client(char *const argv[], int &pidfd) noexcept {
    pidfd = -1;
    base::sigchld_held held;
    pid_t child = fork();
    if (child == 0) exec_clean(argv);
    if (child > 0) pidfd = base::open_pidfd(child);
    return child < 0 ? -1 : child;
}

void ds_stop_client(pid_t pid, int &pidfd) noexcept {
    base::sigchld_held held;
    if (pidfd >= 0) {
        base::signal_pidfd(pidfd, SIGKILL);  // ESRCH once it has ended: nothing else is hit
        close(pidfd);
        pidfd = -1;
        return;
    }
    if (pid <= 0) return;  // 0 or a negative id would reach a process group
    siginfo_t info{};
    // Not yet reaped (with SIGCHLD held, nothing can reap it now) and still running.
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0)
        kill(pid, SIGKILL);
}
