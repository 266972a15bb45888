// SPDX-License-Identifier: BSD-3-Clause
// The dynamic-DNS client as a child of the daemon: started with nothing of
// the daemon's (descriptors, signal mask, ignored signals), and stopped only
// while it is still that child, never whatever process later takes its id.
#pragma once

#include <sys/types.h>

// Starts argv[0] from the search path; returns its id (and a pidfd for it in
// `pidfd`, -1 where the kernel has none), or -1 when fork failed.
pid_t ds_start_client(char *const argv[], int &pidfd) noexcept;

// Sends SIGKILL to the client `pid` only if it has not ended: through its
// pidfd, or without one, only while the daemon has not reaped it. Closes the
// pidfd and sets it to -1.
void ds_stop_client(pid_t pid, int &pidfd) noexcept;
