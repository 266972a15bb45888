// SPDX-License-Identifier: BSD-3-Clause
// Child processes of the simulated daemon: the --while-up shell, and (with
// --reap) reaping every child the moment it exits, as the daemon does while
// it has children of its own, whichever process started them.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Sets the signal state the daemon runs its hooks in: SIGPIPE ignored,
// SIGHUP, SIGUSR1 and SIGUSR2 blocked. A child the plug-in starts inherits it
// unless the plug-in resets it.
void children_daemon_signals();

// Installs the SIGCHLD handler that reaps every exited child.
void children_reap_all();

// Returns the exit code of `sh -c command` (128 + signal when killed, -1
// when it could not be started). The reaper never takes its status.
int children_run_shell(const std::string &command);

// Returns the ids of the children reaped since the last call (--reap only).
std::vector<pid_t> children_reaped();
