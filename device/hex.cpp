// SPDX-License-Identifier: BSD-3-Clause
#include "platform/device.h"

int hex_to_asc(const unsigned char *bytes, char *out, int n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    if (bytes == nullptr || out == nullptr || n <= 0) return 0;
    for (int i = 0; i < n; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0f];
    }
    return 2 * n;
}
