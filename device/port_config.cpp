// SPDX-License-Identifier: BSD-3-Clause
#include "device/port_config.h"

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <net/if.h>
#include <sys/socket.h>

#include "base/line_tokens.h"

namespace {

// Blanks, and the CR of a line written on another system.
constexpr std::string_view kSeparators = " \t\r";

bool parse_v4(std::string_view text, uint32_t &out) {
    std::string copy(text);
    return inet_pton(AF_INET, copy.c_str(), &out) == 1;
}

bool valid_ifname(std::string_view name) {
    return !name.empty() && name.size() < IFNAMSIZ && name.find('/') == std::string_view::npos;
}

std::string quoted(std::string_view text) {
    std::string out(1, '"');
    out += text;
    out += '"';
    return out;
}

std::string parse_route(const std::vector<std::string_view> &w, int port,
                        ds_port_config &config) {
    ds_port_route route;
    route.port = port;
    if (w.size() < 4) return "route needs a destination";
    auto dest = ds_parse_prefix(w[3], AF_UNSPEC);
    if (!dest) return "bad route destination " + quoted(w[3]);
    route.dest = *dest;
    for (std::size_t i = 4; i < w.size(); i += 2) {
        if (i + 1 >= w.size()) return "missing value after " + quoted(w[i]);
        std::string value(w[i + 1]);
        if (w[i] == "via") {
            if (inet_pton(route.dest.family, value.c_str(), route.gateway.data()) != 1)
                return "bad gateway " + quoted(value);
        } else if (w[i] == "dev") {
            if (!valid_ifname(value)) return "bad interface name " + quoted(value);
            route.ifname = value;
        } else {
            return "unknown route option " + quoted(w[i]);
        }
    }
    config.routes.push_back(std::move(route));
    return {};
}

std::string parse_tunnel(const std::vector<std::string_view> &w, int port,
                         ds_port_config &config) {
    ds_port_tunnel tunnel;
    tunnel.port = port;
    if (w.size() < 4 || !valid_ifname(w[3])) return "tunnel needs a valid interface name";
    tunnel.name = std::string(w[3]);
    bool have_local = false, have_remote = false;
    for (std::size_t i = 4; i < w.size(); i += 2) {
        if (i + 1 >= w.size()) return "missing value after " + quoted(w[i]);
        if (w[i] == "local") {
            if (!parse_v4(w[i + 1], tunnel.local)) return "bad local address " + quoted(w[i + 1]);
            have_local = true;
        } else if (w[i] == "remote") {
            if (!parse_v4(w[i + 1], tunnel.remote))
                return "bad remote address " + quoted(w[i + 1]);
            have_remote = true;
        } else if (w[i] == "address") {
            tunnel.address = ds_parse_prefix(w[i + 1], AF_INET6);
            if (!tunnel.address) return "bad tunnel address " + quoted(w[i + 1]);
        } else {
            return "unknown tunnel option " + quoted(w[i]);
        }
    }
    if (!have_local || !have_remote) return "tunnel needs local and remote addresses";
    config.tunnels.push_back(std::move(tunnel));
    return {};
}

}  // namespace

std::string ds_parse_port_line(std::string_view line, ds_port_config &config) {
    std::vector<std::string_view> w = base::words(line, kSeparators);
    if (w.empty() || base::is_comment(w)) return {};
    int port = -1;
    if (w.size() < 3 || w[0] != "port") return "expected \"port <n> route|tunnel ...\"";
    auto [end, err] = std::from_chars(w[1].data(), w[1].data() + w[1].size(), port);
    if (err != std::errc{} || end != w[1].data() + w[1].size() || port < 0)
        return "bad port " + quoted(w[1]);
    if (w[2] == "route") return parse_route(w, port, config);
    if (w[2] == "tunnel") return parse_tunnel(w, port, config);
    return "unknown kind " + quoted(w[2]);
}

std::optional<ds_port_config> ds_load_port_config(const std::string &path, std::string &error) {
    ds_port_config config;
    std::ifstream in(path);
    if (!in) return config;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::string problem = ds_parse_port_line(line, config);
        if (!problem.empty()) {
            error = path + ":" + std::to_string(number) + ": " + problem;
            return std::nullopt;
        }
    }
    return config;
}
