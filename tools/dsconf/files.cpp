// SPDX-License-Identifier: BSD-3-Clause
#include "tools/dsconf/files.h"

#include <cstdio>
#include <utility>

#include "base/line_tokens.h"
#include "device/port_config.h"
#include "device/ssl_block.h"
#include "platform/device.h"

using nlohmann::json;

namespace dsconf {

namespace {

constexpr std::size_t kUserTextWidth = 256;
constexpr char kUserSeparator = ':';
constexpr char kSslSeparator = '=';
constexpr const char *kVerifyPeer = "verify_peer";

// Returns each line of `text` split at its first `separator`; lines without
// one, and comments, are left out.
std::vector<std::pair<std::string, std::string>> split_lines(const std::string &text, char separator) {
    std::vector<std::pair<std::string, std::string>> out;
    for (std::string_view line : base::lines(text)) {
        auto fields = base::split_at(line, separator);
        if (!fields || line.front() == base::kCommentMark) continue;
        out.emplace_back(fields->first, fields->second);
    }
    return out;
}

void check_keys(const json &object, const std::string &where, std::initializer_list<const char *> known) {
    if (!object.is_object()) reject(where, object, "expected an object");
    for (auto &[key, value] : object.items()) {
        bool ok = false;
        for (const char *k : known) ok = ok || key == k;
        if (!ok) throw bad_description("unknown setting \"" + where + "." + key + "\"");
    }
}

std::string users_file(const json &users) {
    if (!users.is_array()) reject("local_users", users, "expected a list");
    std::string out;
    for (const json &u : users) {
        check_keys(u, "local_users[]", {"name", "password"});
        std::string name = text(u.value("name", json("")), "local_users[].name", kUserTextWidth);
        std::string password = text(u.value("password", json("")), "local_users[].password", kUserTextWidth);
        if (name.empty() || name.find(kUserSeparator) != std::string::npos)
            reject("local_users[].name", u.value("name", json("")), "must be non-empty without ':'");
        if (password.size() > device::kChapSecretMax)
            std::fprintf(stderr,
                         "dsconf: warning: the password of local user \"%s\" is %zu bytes; CHAP takes at most %zu, "
                         "so %s can log in with PAP only\n",
                         name.c_str(), password.size(), device::kChapSecretMax, name.c_str());
        out += name + kUserSeparator + password + "\n";
    }
    return out;
}

std::string ssl_file(const json &ssl) {
    check_keys(ssl, "dyndns_ssl", {kVerifyPeer, "ca_file", "ciphers"});
    std::string out;
    unsigned char probe[device::kDyndnsSslBlockSize] = {};
    for (auto &[key, value] : ssl.items()) {
        std::string v = value.is_string() ? value.get<std::string>() : value.dump();
        no_control_characters(v, "dyndns_ssl." + key, value);
        if (!ssl_block::set_field(probe, key, v)) reject("dyndns_ssl." + key, value, "not accepted");
        out += key + kSslSeparator + v + "\n";
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

bool apply_file(const std::string &key, const json &value, device_config &config) {
    if (key == "local_users") {
        config.users = users_file(value);
        config.has_users = true;
    } else if (key == "dyndns_ssl") {
        config.dyndns_ssl = ssl_file(value);
        config.has_dyndns_ssl = true;
    } else if (key == "port_services") {
        config.port_services = ports_file(value);
        config.has_port_services = true;
    } else {
        return false;
    }
    return true;
}

void describe_files(const device_config &config, json &d) {
    if (config.has_users) {
        json users = json::array();
        for (auto &[name, password] : split_lines(config.users, kUserSeparator))
            users.push_back({{"name", name}, {"password", password}});
        d["local_users"] = users;
    }
    if (config.has_dyndns_ssl) {
        json ssl = json::object();
        for (auto &[key, value] : split_lines(config.dyndns_ssl, kSslSeparator))
            ssl[key] = key == kVerifyPeer ? json(value == "1" ? 1 : 0) : json(value);
        d["dyndns_ssl"] = ssl;
    }
    if (config.has_port_services) {
        json lines = json::array();
        for (std::string_view line : base::lines(config.port_services)) lines.emplace_back(line);
        d["port_services"] = lines;
    }
}

json file_setting(const std::vector<std::string> &parts, const std::string &key, const std::string &value) {
    if (parts.size() != 2 || parts[0] != "dyndns_ssl") throw bad_description("unknown setting \"" + key + "\"");
    json v = value;
    if (parts[1] == kVerifyPeer) {
        v = json::parse(value, nullptr, false);
        if (v.is_discarded() || !v.is_number_integer())
            throw bad_description(key + ": expected an integer (got \"" + value + "\")");
    }
    return {{parts[0], {{parts[1], v}}}};
}

}  // namespace dsconf
