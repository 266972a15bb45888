// SPDX-License-Identifier: BSD-3-Clause
// Lines of the device library's port-services.conf.
#include <cstdint>
#include <string_view>

#include "device/port_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ds_port_config config;
    ds_parse_port_line(std::string_view(reinterpret_cast<const char *>(data), size), config);
    return 0;
}
