// SPDX-License-Identifier: BSD-3-Clause
#include <arpa/inet.h>
#include <cstring>

#include "device/netlink.h"
#include "platform/device.h"

namespace {
constexpr unsigned kV4Bits = 32;

unsigned prefix_of_mask(u_int32_t mask) {
    return static_cast<unsigned>(__builtin_popcount(ntohl(mask)));
}
}  // namespace

int add_route_v4(u_int32_t dest, u_int32_t mask, u_int32_t gateway, const char *ifname) {
    // The kernel refuses host bits beyond the prefix; the network is meant.
    u_int32_t network = dest & mask;
    unsigned prefix = prefix_of_mask(mask);
    if (prefix > kV4Bits) return -1;
    return ds_route_change(ds_route_op::add, AF_INET,
                           reinterpret_cast<const unsigned char *>(&network), prefix,
                           reinterpret_cast<const unsigned char *>(&gateway), ifname, 0);
}

int add_route_v6(const unsigned char *dest, int prefix_len, const unsigned char *gateway,
                 const char *ifname) {
    if (prefix_len < 0) return -1;
    return ds_route_change(ds_route_op::add, AF_INET6, dest, static_cast<unsigned>(prefix_len),
                           gateway, ifname, 0);
}
