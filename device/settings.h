// SPDX-License-Identifier: BSD-3-Clause
// Where the device library keeps its files. DSDEVICE_DIR overrides the
// directory for tests and demos.
#pragma once

#include <string>

inline constexpr const char *DSDEVICE_DIR_DEFAULT = "/etc/dsdevice";
inline constexpr const char *DSDEVICE_DIR_VARIABLE = "DSDEVICE_DIR";
inline constexpr const char *DSDEVICE_STORE_FILE = "store.img";
inline constexpr const char *DSDEVICE_USERS_FILE = "users";
inline constexpr const char *DSDEVICE_SSL_FILE = "dyndns-ssl.conf";
inline constexpr const char *DSDEVICE_PORTS_FILE = "port-services.conf";

// Returns the device library's directory: DSDEVICE_DIR, unless the process
// runs with privileges its caller has not (a setuid PAM application), where a
// caller's environment must not choose the users file.
std::string dsdevice_dir();

// Returns the path of `file` inside the device library's directory.
std::string dsdevice_path(const char *file);
