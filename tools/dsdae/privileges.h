// SPDX-License-Identifier: BSD-3-Clause
// What the daemon keeps once its sockets are bound: another user's ids, and
// two capabilities. CAP_KILL, because the port daemons it signals run as
// root; CAP_DAC_READ_SEARCH, because the session registry is root's alone
// (a directory of mode 0700, entries of 0600). Nothing else: no binding,
// no writing root's files, no gaining privileges again through exec.
#pragma once

#include <string>

namespace dsdae {

// Returns whether the process now runs as `user` (not root) with CAP_KILL
// and CAP_DAC_READ_SEARCH alone, checked after the change; `error` says
// which step failed.
bool drop_privileges(const std::string &user, std::string &error);

}  // namespace dsdae
