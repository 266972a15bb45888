// SPDX-License-Identifier: BSD-3-Clause
#include "tools/dsconf/image.h"

#include <arpa/inet.h>
#include <cstring>
#include <sstream>

#include "device/port_config.h"
#include "device/ssl_block.h"
#include "platform/store.h"

using nlohmann::json;

namespace {

constexpr std::size_t kUserTextWidth = 256;

std::string quote(const json &value) { return value.dump(); }

[[noreturn]] void reject(const std::string &field, const json &value, const std::string &why) {
    throw bad_description(field + ": " + why + " (got " + quote(value) + ")");
}

long long integer(const json &value, const std::string &field, long long lo, long long hi) {
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    if (!value.is_number_integer()) reject(field, value, "expected an integer");
    long long v = value.get<long long>();
    if (v < lo || v > hi)
        reject(field, value, "must lie in " + std::to_string(lo) + ".." + std::to_string(hi));
    return v;
}

void no_control_characters(const std::string &s, const std::string &field, const json &value) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) reject(field, value, "holds a control character");
}

// Every text value: no control character (a line break would corrupt the
// line-based files the runtime reads), and shorter than its field.
std::string text(const json &value, const std::string &field, std::size_t width) {
    if (!value.is_string()) reject(field, value, "expected a text");
    std::string s = value.get<std::string>();
    if (s.size() >= width)
        reject(field, value, "longer than " + std::to_string(width - 1) + " characters");
    no_control_characters(s, field, value);
    return s;
}

// A dynamic-DNS value becomes an option in the client's input file, which
// splits on blanks and reads "#" and a backslash specially.
std::string client_option(const json &value, const std::string &field, std::size_t width) {
    std::string s = text(value, field, width);
    if (s.find_first_of(" \t#\\") != std::string::npos)
        reject(field, value, "holds a blank, '#' or '\\', which the dynamic-DNS client would split");
    return s;
}

void put_text(std::vector<unsigned char> &image, int offset, std::size_t width,
              const std::string &s) {
    std::memset(image.data() + offset, 0, width);
    std::memcpy(image.data() + offset, s.data(), s.size());
}

std::string get_text(const std::vector<unsigned char> &image, int offset, std::size_t width) {
    const char *start = reinterpret_cast<const char *>(image.data() + offset);
    return std::string(start, strnlen(start, width));
}

void put_address(std::vector<unsigned char> &image, int offset, const json &value,
                 const std::string &field) {
    if (!value.is_string()) reject(field, value, "expected an address");
    std::string s = value.get<std::string>();
    unsigned char addr[store::kAddrSize] = {};
    in_addr v4{};
    if (inet_pton(AF_INET, s.c_str(), &v4) == 1) {
        addr[store::kV4MappedPrefixZeros] = addr[store::kV4MappedPrefixZeros + 1] = 0xff;
        std::memcpy(addr + store::kV4Offset, &v4, sizeof v4);
    } else if (inet_pton(AF_INET6, s.c_str(), addr) != 1) {
        reject(field, value, "not an IPv4 or IPv6 address");
    }
    std::memcpy(image.data() + offset, addr, store::kAddrSize);
}

std::string get_address(const std::vector<unsigned char> &image, int offset) {
    const unsigned char *a = image.data() + offset;
    char t[INET6_ADDRSTRLEN] = {};
    static const unsigned char mapped[store::kV4MappedPrefixSize] = {0, 0, 0, 0, 0, 0,
                                                                     0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(a, mapped, sizeof mapped) == 0)
        inet_ntop(AF_INET, a + store::kV4Offset, t, sizeof t);
    else
        inet_ntop(AF_INET6, a, t, sizeof t);
    return t;
}

bool any_nonzero(const std::vector<unsigned char> &image, int offset, int size) {
    for (int i = 0; i < size; ++i)
        if (image[offset + i]) return true;
    return false;
}

// Returns the object's "index", checked against `count`.
int index_of(const json &entry, const std::string &where, int count) {
    if (!entry.is_object() || !entry.contains("index"))
        reject(where, entry, "each entry needs an \"index\"");
    return static_cast<int>(integer(entry["index"], where + ".index", 0, count - 1));
}

void check_keys(const json &object, const std::string &where,
                std::initializer_list<const char *> known) {
    if (!object.is_object()) reject(where, object, "expected an object");
    for (auto &[key, value] : object.items()) {
        bool ok = false;
        for (const char *k : known) ok = ok || key == k;
        if (!ok) throw bad_description("unknown setting \"" + where + "." + key + "\"");
    }
}

void apply_host(const json &h, std::vector<unsigned char> &image) {
    int n = index_of(h, "hosts[]", store::kHostEntryCount);
    std::string where = "hosts." + std::to_string(n);
    check_keys(h, where, {"index", "address", "enabled"});
    const auto at = store::host_offset(n);
    if (h.contains("address")) put_address(image, at + store::kHostAddr, h["address"], where + ".address");
    if (h.contains("enabled"))
        image[at + store::kHostEnabled] = static_cast<unsigned char>(integer(h["enabled"], where + ".enabled", 0, 255));
}

void apply_route(const json &r, std::vector<unsigned char> &image) {
    int i = index_of(r, "routes[]", store::kRouteCount);
    std::string where = "routes." + std::to_string(i);
    check_keys(r, where, {"index", "type", "destination", "prefix_length", "host", "via_host"});
    const auto at = store::route_offset(i);
    auto byte = [&](const char *key, int offset) {
        if (r.contains(key))
            image[at + offset] = static_cast<unsigned char>(integer(r[key], where + "." + key, 0, 255));
    };
    byte("type", store::kRouteType);
    // The host table has kHostEntryCount entries; a route through one past it
    // would read other records as a host.
    if (r.contains("host"))
        image[at + store::kRouteHost] =
            static_cast<unsigned char>(integer(r["host"], where + ".host", 0, store::kHostEntryCount - 1));
    byte("via_host", store::kRouteViaHost);
    byte("prefix_length", store::kRoutePrefixLen);
    if (r.contains("destination"))
        put_address(image, at + store::kRouteDest, r["destination"], where + ".destination");
}

void apply_port(const json &p, std::vector<unsigned char> &image) {
    int n = index_of(p, "ports[]", store::kPortCount);
    std::string where = "ports." + std::to_string(n);
    check_keys(p, where, {"index", "local_user", "dyndns", "ipv6_prefix", "ipv6_prefix_flag"});
    const auto at = store::port_offset(n);
    if (p.contains("local_user")) {
        const json &u = p["local_user"];
        check_keys(u, where + ".local_user", {"name", "password"});
        if (u.contains("name"))
            put_text(image, at + store::kLocalUserName, store::kLocalUserNameWidth,
                     text(u["name"], where + ".local_user.name", store::kLocalUserNameWidth));
        if (u.contains("password"))
            put_text(image, at + store::kLocalUserPassword, store::kLocalUserPasswordWidth,
                     text(u["password"], where + ".local_user.password", store::kLocalUserPasswordWidth));
    }
    if (p.contains("dyndns")) {
        const json &d = p["dyndns"];
        check_keys(d, where + ".dyndns", {"enabled", "alias", "user", "password"});
        if (d.contains("enabled"))
            image[at + store::kDyndnsEnabled] =
                static_cast<unsigned char>(integer(d["enabled"], where + ".dyndns.enabled", 0, 255));
        struct field { const char *key; int offset, width; };
        for (field f : {field{"alias", store::kDyndnsAlias, store::kDyndnsAliasWidth},
                        field{"user", store::kDyndnsUser, store::kDyndnsUserWidth},
                        field{"password", store::kDyndnsPassword, store::kDyndnsPasswordWidth}})
            if (d.contains(f.key))
                put_text(image, at + f.offset, f.width,
                         client_option(d[f.key], where + ".dyndns." + f.key, f.width));
    }
    if (p.contains("ipv6_prefix"))
        put_address(image, at + store::kIpv6Prefix, p["ipv6_prefix"], where + ".ipv6_prefix");
    if (p.contains("ipv6_prefix_flag"))
        image[at + store::kIpv6PrefixFlag] = static_cast<unsigned char>(
            integer(p["ipv6_prefix_flag"], where + ".ipv6_prefix_flag", 0, 255));
}

std::string users_file(const json &users) {
    if (!users.is_array()) reject("local_users", users, "expected a list");
    std::string out;
    for (const json &u : users) {
        check_keys(u, "local_users[]", {"name", "password"});
        std::string name = text(u.value("name", json("")), "local_users[].name", kUserTextWidth);
        std::string password = text(u.value("password", json("")), "local_users[].password", kUserTextWidth);
        if (name.empty() || name.find(':') != std::string::npos)
            reject("local_users[].name", u.value("name", json("")), "must be non-empty without ':'");
        out += name + ":" + password + "\n";
    }
    return out;
}

std::string ssl_file(const json &ssl) {
    check_keys(ssl, "dyndns_ssl", {"verify_peer", "ca_file", "ciphers"});
    std::string out;
    unsigned char probe[DS_DYNDNS_SSL_BLOCK_SIZE] = {};
    for (auto &[key, value] : ssl.items()) {
        std::string v = value.is_string() ? value.get<std::string>() : value.dump();
        no_control_characters(v, "dyndns_ssl." + key, value);
        if (!ssl_block::set_field(probe, key, v)) reject("dyndns_ssl." + key, value, "not accepted");
        out += key + "=" + v + "\n";
    }
    return out;
}

std::string ports_file(const json &lines) {
    if (!lines.is_array()) reject("port_services", lines, "expected a list of lines");
    std::string out;
    ds_port_config scratch;
    for (const json &line : lines) {
        if (!line.is_string()) reject("port_services[]", line, "expected a text");
        no_control_characters(line.get<std::string>(), "port_services[]", line);
        std::string problem = ds_parse_port_line(line.get<std::string>(), scratch);
        if (!problem.empty()) reject("port_services[]", line, problem);
        out += line.get<std::string>() + "\n";
    }
    return out;
}

}  // namespace

void apply_description(const json &d, device_config &config) {
    check_keys(d, "description", {"hosts", "routes", "ports", "dyndns", "ssl_list_entry",
                                   "local_users", "dyndns_ssl", "port_services"});
    auto &image = config.image;
    image.resize(store::kImageSize, 0);
    for (const char *list : {"hosts", "routes", "ports"})
        if (d.contains(list) && !d[list].is_array()) reject(list, d[list], "expected a list");
    if (d.contains("hosts")) for (const json &h : d["hosts"]) apply_host(h, image);
    if (d.contains("routes")) for (const json &r : d["routes"]) apply_route(r, image);
    if (d.contains("ports")) for (const json &p : d["ports"]) apply_port(p, image);
    if (d.contains("dyndns")) {
        const json &g = d["dyndns"];
        check_keys(g, "dyndns", {"system", "wildcard", "connection"});
        struct field { const char *key; int offset; };
        for (field f : {field{"system", store::kDyndnsSystem}, field{"wildcard", store::kDyndnsWildcard},
                        field{"connection", store::kDyndnsConnection}})
            if (g.contains(f.key))
                image[store::kDyndnsOffset + f.offset] = static_cast<unsigned char>(
                    integer(g[f.key], std::string("dyndns.") + f.key, 0, 255));
    }
    if (d.contains("ssl_list_entry"))
        put_text(image, store::kGlobalOffset + store::kSslListEntry, store::kSslListEntryWidth,
                 text(d["ssl_list_entry"], "ssl_list_entry", store::kSslListEntryWidth));
    if (d.contains("local_users")) {
        config.users = users_file(d["local_users"]);
        config.has_users = true;
    }
    if (d.contains("dyndns_ssl")) {
        config.dyndns_ssl = ssl_file(d["dyndns_ssl"]);
        config.has_dyndns_ssl = true;
    }
    if (d.contains("port_services")) {
        config.port_services = ports_file(d["port_services"]);
        config.has_port_services = true;
    }
}

json describe(const device_config &config) {
    const auto &image = config.image;
    json d = json::object();
    json hosts = json::array(), routes = json::array(), ports = json::array();
    for (int n = 0; n < store::kHostEntryCount; ++n) {
        const auto at = store::host_offset(n);
        if (!any_nonzero(image, at + store::kHostAddr, store::kAddrSize) && !image[at + store::kHostEnabled])
            continue;
        hosts.push_back({{"index", n}, {"address", get_address(image, at + store::kHostAddr)},
                         {"enabled", image[at + store::kHostEnabled]}});
    }
    for (int i = 0; i < store::kRouteCount; ++i) {
        const auto at = store::route_offset(i);
        if (!any_nonzero(image, at, store::kRoutePrefixLen + 1)) continue;
        routes.push_back({{"index", i}, {"type", image[at + store::kRouteType]},
                          {"destination", get_address(image, at + store::kRouteDest)},
                          {"prefix_length", image[at + store::kRoutePrefixLen]},
                          {"host", image[at + store::kRouteHost]},
                          {"via_host", image[at + store::kRouteViaHost]}});
    }
    for (int n = 0; n < store::kPortCount; ++n) {
        const auto at = store::port_offset(n);
        json p = {{"index", n}};
        std::string name = get_text(image, at + store::kLocalUserName, store::kLocalUserNameWidth);
        std::string password = get_text(image, at + store::kLocalUserPassword, store::kLocalUserPasswordWidth);
        if (!name.empty() || !password.empty()) p["local_user"] = {{"name", name}, {"password", password}};
        json dyn = {{"enabled", image[at + store::kDyndnsEnabled]},
                    {"alias", get_text(image, at + store::kDyndnsAlias, store::kDyndnsAliasWidth)},
                    {"user", get_text(image, at + store::kDyndnsUser, store::kDyndnsUserWidth)},
                    {"password", get_text(image, at + store::kDyndnsPassword, store::kDyndnsPasswordWidth)}};
        if (dyn["enabled"] != 0 || dyn["alias"] != "" || dyn["user"] != "" || dyn["password"] != "")
            p["dyndns"] = dyn;
        if (any_nonzero(image, at + store::kIpv6Prefix, store::kAddrSize) || image[at + store::kIpv6PrefixFlag]) {
            p["ipv6_prefix"] = get_address(image, at + store::kIpv6Prefix);
            p["ipv6_prefix_flag"] = image[at + store::kIpv6PrefixFlag];
        }
        if (p.size() > 1) ports.push_back(p);
    }
    if (!hosts.empty()) d["hosts"] = hosts;
    if (!routes.empty()) d["routes"] = routes;
    if (!ports.empty()) d["ports"] = ports;
    json dyndns = {{"system", image[store::kDyndnsOffset + store::kDyndnsSystem]},
                   {"wildcard", image[store::kDyndnsOffset + store::kDyndnsWildcard]},
                   {"connection", image[store::kDyndnsOffset + store::kDyndnsConnection]}};
    if (dyndns["system"] != 0 || dyndns["wildcard"] != 0 || dyndns["connection"] != 0) d["dyndns"] = dyndns;
    std::string entry = get_text(image, store::kGlobalOffset + store::kSslListEntry, store::kSslListEntryWidth);
    if (!entry.empty()) d["ssl_list_entry"] = entry;
    if (config.has_users) {
        json users = json::array();
        std::istringstream in(config.users);
        std::string line;
        while (std::getline(in, line)) {
            std::size_t colon = line.find(':');
            if (colon != std::string::npos)
                users.push_back({{"name", line.substr(0, colon)}, {"password", line.substr(colon + 1)}});
        }
        d["local_users"] = users;
    }
    if (config.has_dyndns_ssl) {
        json ssl = json::object();
        std::istringstream in(config.dyndns_ssl);
        std::string line;
        while (std::getline(in, line)) {
            std::size_t eq = line.find('=');
            if (eq == std::string::npos || line[0] == '#') continue;
            std::string key = line.substr(0, eq), value = line.substr(eq + 1);
            if (key == "verify_peer") ssl[key] = std::stoi(value); else ssl[key] = value;
        }
        d["dyndns_ssl"] = ssl;
    }
    if (config.has_port_services) {
        json lines = json::array();
        std::istringstream in(config.port_services);
        std::string line;
        while (std::getline(in, line)) lines.push_back(line);
        d["port_services"] = lines;
    }
    return d;
}
