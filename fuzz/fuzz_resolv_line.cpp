// SPDX-License-Identifier: BSD-3-Clause
// The resolver-file line rule.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "linkup/resolv_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view line(reinterpret_cast<const char *>(data), size);
    std::string_view address = ds_resolv_nameserver(line);
    // The address is a piece of the line and never spans a separator.
    if (!address.empty()) {
        if (address.data() < line.data() || address.data() + address.size() > line.data() + line.size()) std::abort();
        if (address.find_first_of(", \t\n") != std::string_view::npos) std::abort();
    }
    return 0;
}
