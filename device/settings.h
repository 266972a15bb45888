// SPDX-License-Identifier: BSD-3-Clause
// Where the device library keeps its files. DSDEVICE_DIR overrides the
// directory for tests and demos.
#pragma once

#include <string>

namespace settings {

inline constexpr const char *kDirDefault = "/etc/dsdevice";
inline constexpr const char *kDirVariable = "DSDEVICE_DIR";
inline constexpr const char *kStoreFile = "store.img";
inline constexpr const char *kUsersFile = "users";
inline constexpr const char *kSslFile = "dyndns-ssl.conf";
inline constexpr const char *kPortsFile = "port-services.conf";

}  // namespace settings

// Returns the device library's directory: DSDEVICE_DIR, unless the process
// runs with privileges its caller has not (a setuid PAM application), where a
// caller's environment must not choose the users file.
std::string dsdevice_dir();

// Returns the path of `file` inside the device library's directory.
std::string dsdevice_path(const char *file);
