// SPDX-License-Identifier: BSD-3-Clause
// Holding SIGCHLD back for a scope: a reaper (the daemon's, or the
// simulator's) cannot take a child between a fork and a look at it.
#pragma once

#include <csignal>

namespace base {

class sigchld_held {
public:
    sigchld_held() noexcept {
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGCHLD);
        sigprocmask(SIG_BLOCK, &block, &before_);
    }
    sigchld_held(const sigchld_held &) = delete;
    sigchld_held &operator=(const sigchld_held &) = delete;
    ~sigchld_held() { sigprocmask(SIG_SETMASK, &before_, nullptr); }

    // The mask to wait in (sigsuspend) or to restore in a child.
    const sigset_t &before() const noexcept { return before_; }

private:
    sigset_t before_{};
};

// In a child before exec: no blocked signal, every disposition the default.
inline void reset_signals() noexcept {
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace base
