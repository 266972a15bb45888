// SPDX-License-Identifier: BSD-3-Clause
#include "device/settings.h"

#include <cstdlib>

std::string dsdevice_dir() {
    const char *dir = secure_getenv(settings::kDirVariable);
    return dir && *dir ? dir : settings::kDirDefault;
}

std::string dsdevice_path(const char *file) {
    std::string path = dsdevice_dir();
    path += '/';
    path += file;
    return path;
}
