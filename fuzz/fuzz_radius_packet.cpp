// SPDX-License-Identifier: BSD-3-Clause
// The RADIUS packet decoder and reply checks, on any bytes from the network.
#include <cstdint>
#include <cstdlib>

#include "radius/packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto p = radius::decode(data, size);
    if (p) {
        std::size_t total = radius::kHeaderSize;
        for (const auto &a : p->attributes) total += radius::kAttrHeader + a.value.size();
        if (total > size || total > radius::kMaxPacket) std::abort();
    }
    // Both kinds of reply, with the identifier matched so every check runs.
    for (bool accounting : {false, true}) {
        radius::reply_expectation want{size > 1 ? data[1] : uint8_t{0}, radius::authenticator{}, accounting,
                                       !accounting};
        radius::check_reply(data, size, want, "secret");
    }
    return 0;
}
