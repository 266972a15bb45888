// SPDX-License-Identifier: BSD-3-Clause
// Process descriptors: a signal sent through one reaches the process it was
// opened for, or nobody (ESRCH), never a later process that reuses its id.
// Raw calls: a device's C library may predate the wrappers, and the kernel
// answers ENOSYS where it has no pidfds.
#pragma once

#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace base {

// Returns a descriptor for process `pid`, or -1 with errno set.
inline int open_pidfd(pid_t pid) noexcept { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

// Returns 0 when `sig` was sent to the process of `pidfd`, or -1 with errno set.
inline int signal_pidfd(int pidfd, int sig) noexcept {
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
}

}  // namespace base
