// SPDX-License-Identifier: BSD-3-Clause
// Map of the device's configuration store: fixed-layout, packed records read
// by byte offset with reprom(). This is the one place offsets and widths live.
#pragma once

#include <cstddef>

#include "base/addr.h"

namespace store {

// Every address is 16 bytes in IPv6 form; IPv4 in the IPv4-mapped form.
inline constexpr std::size_t kAddrSize = base::kIpv6Size;
inline constexpr unsigned kV4PrefixBase = 96;  // stored prefix = 96 + IPv4 prefix
inline constexpr unsigned kMaxPrefix = 128;

// Host table: entry n at n * kHostEntrySize.
inline constexpr int kHostTableOffset = 0;
inline constexpr int kHostEntrySize = 287;
inline constexpr int kHostEntryCount = 198;
inline constexpr int kHostAddr = 0;
inline constexpr int kHostEnabled = 286;

// Global settings record.
inline constexpr int kGlobalOffset = 56837;
inline constexpr int kGlobalSize = 1315;
inline constexpr int kSslListEntry = 364;
inline constexpr int kSslListEntryWidth = 256;

// Port records, back to back.
inline constexpr int kPortOffset = 64533;
inline constexpr int kPortSize = 9738;
inline constexpr int kPortCount = 8;
inline constexpr int kLocalUserName = 464;
inline constexpr int kLocalUserNameWidth = 255;
inline constexpr int kLocalUserPassword = 719;
inline constexpr int kDyndnsEnabled = 747;
inline constexpr int kLocalUserPasswordWidth = kDyndnsEnabled - kLocalUserPassword;
inline constexpr int kDyndnsAlias = 748;
inline constexpr int kDyndnsAliasWidth = 61;
inline constexpr int kDyndnsUser = 809;
inline constexpr int kDyndnsUserWidth = 17;
inline constexpr int kDyndnsPassword = 826;
inline constexpr int kDyndnsPasswordWidth = 129;
inline constexpr int kIpv6Prefix = 1398;
inline constexpr int kIpv6PrefixFlag = 1414;

// PPP settings block: port record bytes 120 to 1416.
inline constexpr int kPppBlockInPort = 120;
inline constexpr int kPppBlockSize = 1297;
inline constexpr int kBlockLocalUserName = kLocalUserName - kPppBlockInPort;
inline constexpr int kBlockLocalUserPassword = kLocalUserPassword - kPppBlockInPort;

// Static route table.
inline constexpr int kRouteOffset = 142437;
inline constexpr int kRouteSize = 29;
inline constexpr int kRouteCount = 20;
inline constexpr int kRouteType = 0;
inline constexpr int kRouteDest = 1;
inline constexpr int kRouteHost = 17;
inline constexpr int kRouteViaHost = 18;
inline constexpr int kRoutePrefixLen = 19;
inline constexpr unsigned kRouteTypeNet = 0;
inline constexpr unsigned kRouteTypeNetAlt = 1;
inline constexpr unsigned kRouteTypeDefault = 2;

// Dynamic-DNS settings record.
inline constexpr int kDyndnsOffset = 253818;
inline constexpr int kDyndnsSize = 650;
inline constexpr int kDyndnsSystem = 96;
inline constexpr int kDyndnsWildcard = 97;
inline constexpr int kDyndnsConnection = 98;

inline constexpr int kImageSize = kDyndnsOffset + kDyndnsSize;

// Whether an index names a record the store holds: the layout has room for
// kPortCount port records and kHostEntryCount host entries, and an index past
// them would read other records as one of these.
constexpr bool has_port_record(long long port) { return port >= 0 && port < kPortCount; }
constexpr bool has_host_entry(long long host) { return host >= 0 && host < kHostEntryCount; }

// Offsets in 64 bits, so no index can overflow them; those of valid indexes
// fit the int that reprom takes.
constexpr long long port_offset(long long port) { return kPortOffset + port * kPortSize; }
constexpr long long ppp_block_offset(long long port) { return port_offset(port) + kPppBlockInPort; }
constexpr long long route_offset(long long index) { return kRouteOffset + index * kRouteSize; }
constexpr long long host_offset(long long index) { return kHostTableOffset + index * kHostEntrySize; }

static_assert(port_offset(kPortCount) == kRouteOffset, "port records end where routes begin");
static_assert(ppp_block_offset(0) == 64653);
static_assert(kPppBlockInPort + kPppBlockSize - 1 == 1416, "PPP block is port bytes 120..1416");
static_assert(kBlockLocalUserName == 344 && kBlockLocalUserPassword == 599);
static_assert(kLocalUserPasswordWidth == 28);
static_assert(kLocalUserName + kLocalUserNameWidth == kLocalUserPassword);
static_assert(kDyndnsAlias + kDyndnsAliasWidth == kDyndnsUser);
static_assert(kDyndnsUser + kDyndnsUserWidth == kDyndnsPassword);
static_assert(kDyndnsPassword + kDyndnsPasswordWidth <= kIpv6Prefix);
static_assert(kIpv6PrefixFlag < kPppBlockInPort + kPppBlockSize);
static_assert(host_offset(kHostEntryCount) <= kGlobalOffset, "hosts lie below global settings");
static_assert(kSslListEntry + kSslListEntryWidth <= kGlobalSize);
static_assert(route_offset(kRouteCount) <= kDyndnsOffset);
static_assert(kGlobalOffset + kGlobalSize <= kPortOffset);
static_assert(port_offset(kPortCount - 1) + kPortSize <= kImageSize && kImageSize < (1LL << 31),
              "every valid offset fits an int");

}  // namespace store
