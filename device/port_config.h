// SPDX-License-Identifier: BSD-3-Clause
// Per-port routes and IPv6 tunnels, kept in port-services.conf:
//   port <n> route <prefix>[/<len>] [via <gateway>] [dev <ifname>]
//   port <n> tunnel <name> local <ipv4> remote <ipv4> [address <ipv6>/<len>]
// A route without "dev" goes on the port's PPP interface "ppp<n>".
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/route_text.h"

struct ds_port_route {
    int port = 0;
    ds_prefix dest;
    std::array<unsigned char, 16> gateway{};
    std::string ifname;
};

struct ds_port_tunnel {
    int port = 0;
    std::string name;
    uint32_t local = 0, remote = 0;  // network byte order
    std::optional<ds_prefix> address;
};

struct ds_port_config {
    std::vector<ds_port_route> routes;
    std::vector<ds_port_tunnel> tunnels;
};

inline constexpr const char *kPortIfnameFormat = "ppp%d";

// Parses one line into `config`; returns an error text, empty on success.
std::string ds_parse_port_line(std::string_view line, ds_port_config &config);

// Returns the configuration in `path`: empty when the file does not exist,
// nothing (and `error` set) when a line is bad.
std::optional<ds_port_config> ds_load_port_config(const std::string &path, std::string &error);
