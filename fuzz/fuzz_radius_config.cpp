// SPDX-License-Identifier: BSD-3-Clause
// pam_dsradius's configuration file.
#include <cstdint>
#include <string>
#include <string_view>

#include "radius/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string error;
    radius::parse_config(std::string_view(reinterpret_cast<const char *>(data), size), error);
    return 0;
}
