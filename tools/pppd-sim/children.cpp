// SPDX-License-Identifier: BSD-3-Clause
#include "tools/pppd-sim/children.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

#include "base/signals.h"

namespace {

constexpr std::size_t kMaxRecorded = 256;
constexpr int kSignalledBase = 128;
constexpr const char *kShell = "/bin/sh";

bool reaping = false;
// Written by the handler, read with SIGCHLD blocked.
volatile sig_atomic_t shell_pid = 0;
volatile sig_atomic_t shell_done = 0;
volatile sig_atomic_t shell_status = 0;
std::array<volatile sig_atomic_t, kMaxRecorded> reaped{};
volatile sig_atomic_t reaped_count = 0;

void on_child_exit(int) {
    int saved_errno = errno;
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        if (pid == shell_pid) {
            shell_status = status;
            shell_done = 1;
        } else if (reaped_count < static_cast<sig_atomic_t>(kMaxRecorded)) {
            reaped[static_cast<std::size_t>(reaped_count)] = pid;
            reaped_count = reaped_count + 1;
        }
    }
    errno = saved_errno;
}

int exit_code(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return kSignalledBase + WTERMSIG(status);
    return -1;
}

}  // namespace

void children_daemon_signals() {
    signal(SIGPIPE, SIG_IGN);
    sigset_t block;
    sigemptyset(&block);
    for (int sig : {SIGHUP, SIGUSR1, SIGUSR2}) sigaddset(&block, sig);
    sigprocmask(SIG_BLOCK, &block, nullptr);
}

void children_reap_all() {
    struct sigaction action {};
    action.sa_handler = on_child_exit;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigaction(SIGCHLD, &action, nullptr);
    reaping = true;
}

int children_run_shell(const std::string &command) {
    base::sigchld_held blocked;
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        // As the daemon starts its scripts: no blocked or ignored signals.
        base::reset_signals();
        execl(kShell, "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (reaping) {
        // The handler reaps everything; it sets aside the shell's own status.
        shell_done = 0;
        shell_pid = child;
        while (!shell_done) sigsuspend(&blocked.before());
        status = shell_status;
        shell_pid = 0;
    } else {
        while (waitpid(child, &status, 0) < 0)
            if (errno != EINTR) return -1;
    }
    return exit_code(status);
}

std::vector<pid_t> children_reaped() {
    base::sigchld_held blocked;
    std::vector<pid_t> out;
    for (sig_atomic_t i = 0; i < reaped_count; ++i)
        out.push_back(static_cast<pid_t>(reaped[static_cast<std::size_t>(i)]));
    reaped_count = 0;
    return out;
}
