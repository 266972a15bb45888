// SPDX-License-Identifier: BSD-3-Clause
// Framed-Route (RFC 2865) and Framed-IPv6-Route (RFC 3162) texts.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <sys/socket.h>

#include "device/route_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view text(reinterpret_cast<const char *>(data), size);
    for (int family : {AF_INET, AF_INET6}) {
        auto route = ds_parse_framed_route(text, family);
        if (route && (route->dest.family != family || route->dest.length > (family == AF_INET ? 32u : 128u)))
            std::abort();
    }
    return 0;
}
