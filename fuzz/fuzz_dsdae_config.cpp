// SPDX-License-Identifier: BSD-3-Clause
// dsdae's configuration file.
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/dsdae/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string error;
    dsdae::parse_config(std::string_view(reinterpret_cast<const char *>(data), size), error);
    return 0;
}
