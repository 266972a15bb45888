// SPDX-License-Identifier: BSD-3-Clause
// The string-list encoding: whatever decodes must survive a round trip.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "device/string_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto values = ds_decode_string_list(std::string_view(reinterpret_cast<const char *>(data), size));
    if (!values) return 0;
    auto again = ds_decode_string_list(ds_encode_string_list(*values));
    if (!again || *again != *values) std::abort();
    return 0;
}
