// SPDX-License-Identifier: BSD-3-Clause
// dsconf sessions: the session registry, as an operator reads it.
#pragma once

#include <cstdio>
#include <string>

namespace dsconf {

// Prints one line per entry of the registry in `dir` to `out` (port, user,
// session id, address, since, pid, live or stale); an entry that is not a
// private regular file of root's, or not in the format, is named on `err`
// and left out. Returns the number of entries left out.
int list_sessions(const std::string &dir, std::FILE *out, std::FILE *err);

}  // namespace dsconf
