// SPDX-License-Identifier: BSD-3-Clause
// Every setting of the store image dsconf reads and writes, one row each:
// where the description names it, where the store keeps it, what it holds.
// build, set, dump and their checks all walk this table; the offsets, widths
// and ranges come from the store's own map.
#pragma once

#include <array>
#include <span>

#include "platform/store.h"

namespace dsconf {

enum class field_kind {
    byte,           // unsigned 8 bits, within lo..hi
    text,           // NUL-terminated within its width, no control character
    client_option,  // text that also becomes a dynamic-DNS client option
    address,        // 16 bytes: IPv6, or IPv4 as ::ffff:a.b.c.d
};

inline constexpr int kByteMax = 255;

struct field {
    const char *path;   // below the entry, dotted: "local_user.name"
    const char *group;  // dump shows a group's fields when any of them is set
    int offset;         // within the record
    int width;          // bytes
    field_kind kind;
    int lo = 0, hi = kByteMax;  // bytes only
};

enum class record_shape {
    table,   // a list of entries, each with an "index" below `count`
    single,  // one object
    value,   // one value: the record's only field, whose path is ""
};

struct record {
    const char *key;  // in the description
    record_shape shape;
    int count;
    long long (*offset)(long long index);
    std::span<const field> fields;
};

inline constexpr field kHostFields[] = {
    {"address", "host", store::kHostAddr, store::kAddrSize, field_kind::address},
    {"enabled", "host", store::kHostEnabled, 1, field_kind::byte},
};

inline constexpr field kRouteFields[] = {
    {"type", "route", store::kRouteType, 1, field_kind::byte},
    {"destination", "route", store::kRouteDest, store::kAddrSize, field_kind::address},
    {"prefix_length", "route", store::kRoutePrefixLen, 1, field_kind::byte},
    // A host index past the table would read other records as a host.
    {"host", "route", store::kRouteHost, 1, field_kind::byte, 0, store::kHostEntryCount - 1},
    {"via_host", "route", store::kRouteViaHost, 1, field_kind::byte},
};

inline constexpr field kPortFields[] = {
    {"local_user.name", "local_user", store::kLocalUserName, store::kLocalUserNameWidth, field_kind::text},
    {"local_user.password", "local_user", store::kLocalUserPassword, store::kLocalUserPasswordWidth,
     field_kind::text},
    {"dyndns.enabled", "dyndns", store::kDyndnsEnabled, 1, field_kind::byte},
    {"dyndns.alias", "dyndns", store::kDyndnsAlias, store::kDyndnsAliasWidth, field_kind::client_option},
    {"dyndns.user", "dyndns", store::kDyndnsUser, store::kDyndnsUserWidth, field_kind::client_option},
    {"dyndns.password", "dyndns", store::kDyndnsPassword, store::kDyndnsPasswordWidth,
     field_kind::client_option},
    {"ipv6_prefix", "ipv6", store::kIpv6Prefix, store::kAddrSize, field_kind::address},
    {"ipv6_prefix_flag", "ipv6", store::kIpv6PrefixFlag, 1, field_kind::byte},
};

inline constexpr field kDyndnsFields[] = {
    {"system", "dyndns", store::kDyndnsSystem, 1, field_kind::byte},
    {"wildcard", "dyndns", store::kDyndnsWildcard, 1, field_kind::byte},
    {"connection", "dyndns", store::kDyndnsConnection, 1, field_kind::byte},
};

// The global settings record's one text dsconf describes.
inline constexpr field kGlobalFields[] = {
    {"", "", store::kSslListEntry, store::kSslListEntryWidth, field_kind::text},
};

constexpr long long dyndns_offset(long long) { return store::kDyndnsOffset; }
constexpr long long global_offset(long long) { return store::kGlobalOffset; }

inline constexpr record kRecords[] = {
    {"hosts", record_shape::table, store::kHostEntryCount, store::host_offset, kHostFields},
    {"routes", record_shape::table, store::kRouteCount, store::route_offset, kRouteFields},
    {"ports", record_shape::table, store::kPortCount, store::port_offset, kPortFields},
    {"dyndns", record_shape::single, 1, dyndns_offset, kDyndnsFields},
    {"ssl_list_entry", record_shape::value, 1, global_offset, kGlobalFields},
};

}  // namespace dsconf
