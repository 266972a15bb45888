// SPDX-License-Identifier: BSD-3-Clause
#include "base/hex.h"
#include "platform/device.h"

int hex_to_asc(const unsigned char *bytes, char *out, int n) {
    if (bytes == nullptr || out == nullptr || n <= 0) return 0;
    base::to_hex(bytes, static_cast<std::size_t>(n), out);
    return 2 * n;
}
