// SPDX-License-Identifier: BSD-3-Clause
// The sessions a Disconnect-Request names, found in the session registry,
// and their daemons told to end the link.
#pragma once

#include <string>

#include "platform/session_registry.h"
#include "radius/dynauth.h"

namespace dsdae {

// Returns whether `e` is a session `want` names: every attribute given is
// the entry's.
bool names(const radius::session_selector &want, const session_registry::entry &e);

struct disconnect_outcome {
    int signalled = 0;  // daemons that got SIGHUP (or exited before it came)
    int failed = 0;     // live matches whose daemon could not be signalled
};

// Sends SIGHUP to the daemon of every live session in `dir` that `want`
// names, through a process descriptor opened before the entry's start time
// is checked, so that the check and the signal concern one process. Entries
// that are not root's private files, not in the format, or whose process is
// gone or is another are ignored. Every action is logged after `context`.
disconnect_outcome end_sessions(const std::string &dir, const radius::session_selector &want,
                                const std::string &context);

}  // namespace dsdae
