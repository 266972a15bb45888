// SPDX-License-Identifier: BSD-3-Clause
// What the RADIUS client's log lines begin with: the program or PAM module it
// runs in (a module's lines go out under its host daemon's ident). Set once,
// before the first request, by a program that is not pam_dsradius.
#pragma once

namespace radius {

inline const char *log_name = "pam_dsradius";

}  // namespace radius
