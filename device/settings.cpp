// SPDX-License-Identifier: BSD-3-Clause
#include "device/settings.h"

#include <cstdlib>

std::string dsdevice_dir() {
    const char *dir = secure_getenv(DSDEVICE_DIR_VARIABLE);
    return dir && *dir ? dir : DSDEVICE_DIR_DEFAULT;
}

std::string dsdevice_path(const char *file) {
    std::string path = dsdevice_dir();
    path += '/';
    path += file;
    return path;
}
