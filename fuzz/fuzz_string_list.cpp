// SPDX-License-Identifier: BSD-3-Clause
// The string-list encoding: whatever decodes must survive a round trip.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/pam_env.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto values = pam_env::decode_list(std::string_view(reinterpret_cast<const char *>(data), size));
    if (!values) return 0;
    auto again = pam_env::decode_list(pam_env::encode_list(*values));
    if (!again || *again != *values) std::abort();
    return 0;
}
