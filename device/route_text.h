// SPDX-License-Identifier: BSD-3-Clause
// Parsers for the textual routes the device library installs.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

struct ds_prefix {
    int family = 0;  // AF_INET or AF_INET6
    std::array<unsigned char, 16> addr{};
    unsigned length = 0;
};

struct ds_route_text {
    ds_prefix dest;
    std::array<unsigned char, 16> gateway{};  // all zero: none given (0.0.0.0 or ::)
    uint32_t metric = 0;
};

// Returns "addr[/len]" of `family` (AF_UNSPEC: either); without /len a host
// prefix. Host bits beyond the length are cleared.
std::optional<ds_prefix> ds_parse_prefix(std::string_view text, int family);

// Returns a parsed RFC 2865 Framed-Route ("prefix[/len] gateway [metric ...]")
// or RFC 3162 Framed-IPv6-Route ("prefix/len gateway [metric ...]"); fields
// after the first metric are ignored.
std::optional<ds_route_text> ds_parse_framed_route(std::string_view text, int family);
