// SPDX-License-Identifier: BSD-3-Clause
// Holding SIGCHLD back for a scope: a reaper (the daemon's, or the
// simulator's) cannot take a child between a fork and a look at it.
#pragma once

#include <pthread.h>

#include <csignal>
#include <ctime>

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

// Holds SIGPIPE back for a scope, so a write to a connection the peer has
// closed fails with EPIPE instead of killing the host process (a daemon
// that loaded us may not ignore it); a SIGPIPE raised meanwhile is consumed.
class sigpipe_held {
public:
    sigpipe_held() noexcept {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &before_);
    }
    sigpipe_held(const sigpipe_held &) = delete;
    sigpipe_held &operator=(const sigpipe_held &) = delete;
    ~sigpipe_held() {
        if (!was_pending_) {
            timespec none{};
            while (sigtimedwait(&pipe_, nullptr, &none) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    }

private:
    sigset_t pipe_{}, before_{};
    bool was_pending_ = false;
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
