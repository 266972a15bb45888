// SPDX-License-Identifier: BSD-3-Clause
// Sizes and forms of addresses: IPv4, IPv6, the IPv4-mapped IPv6 address
// (::ffff:a.b.c.d) and the 64-bit IPv6 interface identifier.
#pragma once

#include <cstddef>
#include <cstdint>

namespace base {

inline constexpr std::size_t kIpv4Size = 4;
inline constexpr std::size_t kIpv6Size = 16;
inline constexpr std::size_t kInterfaceIdSize = 8;
inline constexpr std::size_t kInterfaceIdOffset = kIpv6Size - kInterfaceIdSize;
inline constexpr std::size_t kV4MappedZeros = 10;
inline constexpr std::size_t kV4MappedPrefixSize = 12;  // the zeros, then ff ff
inline constexpr std::size_t kV4MappedOffset = kV4MappedPrefixSize;
inline constexpr uint8_t kV4MappedMarker = 0xff;

inline constexpr unsigned kThisNetwork = 0, kLoopbackNetwork = 127, kFirstMulticast = 224;

// Returns whether the IPv4 address `network_order` can name one host: not
// 0.0.0.0/8, loopback, multicast, reserved or the broadcast address.
inline bool is_unicast_v4(uint32_t network_order) noexcept {
    unsigned first = reinterpret_cast<const unsigned char *>(&network_order)[0];
    return first != kThisNetwork && first != kLoopbackNetwork && first < kFirstMulticast;
}

// Returns whether the 16-byte `addr` is IPv4-mapped.
inline bool is_v4_mapped(const unsigned char *addr) noexcept {
    for (std::size_t i = 0; i < kV4MappedZeros; ++i)
        if (addr[i] != 0) return false;
    return addr[kV4MappedZeros] == kV4MappedMarker && addr[kV4MappedZeros + 1] == kV4MappedMarker;
}

// Writes the IPv4-mapped form of the 4-byte `v4` into the 16-byte `out`.
inline void map_v4(const unsigned char *v4, unsigned char *out) noexcept {
    for (std::size_t i = 0; i < kV4MappedZeros; ++i) out[i] = 0;
    out[kV4MappedZeros] = out[kV4MappedZeros + 1] = kV4MappedMarker;
    for (std::size_t i = 0; i < kIpv4Size; ++i) out[kV4MappedOffset + i] = v4[i];
}

}  // namespace base
