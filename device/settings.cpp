// SPDX-License-Identifier: BSD-3-Clause
#include "device/settings.h"

#include <cstdlib>

std::string dsdevice_path(const char *file) {
    const char *dir = std::getenv(DSDEVICE_DIR_VARIABLE);
    std::string path = dir && *dir ? dir : DSDEVICE_DIR_DEFAULT;
    path += '/';
    path += file;
    return path;
}
