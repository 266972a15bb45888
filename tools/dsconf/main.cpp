// SPDX-License-Identifier: BSD-3-Clause
// dsconf: the operator's tool for the configuration store and the device
// library's settings.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "device/settings.h"
#include "platform/session_registry.h"
#include "platform/store.h"
#include "tools/dsconf/generations.h"
#include "tools/dsconf/image.h"
#include "tools/dsconf/sessions.h"

using dsconf::file_set;
using dsconf::lock_generations;
using dsconf::switch_generation;
using nlohmann::json;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr mode_t kPublicMode = 0644;
constexpr mode_t kPrivateMode = 0600;

const char *const kUsage =
    "usage: dsconf [--dir DIR] COMMAND ...\n"
    "  build FILE|-          write the store image and device files from a JSON description\n"
    "  dump                  print the current configuration as a JSON description\n"
    "  set KEY VALUE         change one setting, e.g. ports.0.local_user.name alice,\n"
    "                        routes.3.prefix_length 120, dyndns.connection 2\n"
    "  user add NAME PASSWORD | user del NAME       the local user database\n"
    "  service add LINE | service del LINE          port routes and tunnels\n"
    "  sessions              the links up now, from the session registry (live or stale)\n"
    "DIR defaults to $DSDEVICE_DIR, else /etc/dsdevice. See README.md for the description.\n";

struct failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string dir_path(const std::string &dir, const char *file) { return dir + "/" + file; }

std::optional<std::string> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

device_config load(const std::string &dir, bool need_image) {
    device_config config;
    auto image = read_file(dir_path(dir, settings::kStoreFile));
    if (image) {
        if (image->size() != static_cast<std::size_t>(store::kImageSize))
            throw failure(dir_path(dir, settings::kStoreFile) + " is " + std::to_string(image->size()) +
                          " bytes, not " + std::to_string(store::kImageSize));
        config.image.assign(image->begin(), image->end());
    } else if (need_image) {
        throw failure("no store image at " + dir_path(dir, settings::kStoreFile));
    } else {
        config.image.assign(store::kImageSize, 0);
    }
    if (auto users = read_file(dir_path(dir, settings::kUsersFile))) config.users = *users, config.has_users = true;
    if (auto ssl = read_file(dir_path(dir, settings::kSslFile))) config.dyndns_ssl = *ssl, config.has_dyndns_ssl = true;
    if (auto ports = read_file(dir_path(dir, settings::kPortsFile))) config.port_services = *ports, config.has_port_services = true;
    return config;
}

// Switches every file to the new configuration at once (see generations.h).
void save(const std::string &dir, const device_config &config) {
    file_set files;
    // The image holds passwords (a port's local user, dynamic DNS): owner only.
    files[settings::kStoreFile] = {std::string(config.image.begin(), config.image.end()), kPrivateMode};
    if (config.has_users) files[settings::kUsersFile] = {config.users, kPrivateMode};
    if (config.has_dyndns_ssl) files[settings::kSslFile] = {config.dyndns_ssl, kPrivateMode};
    if (config.has_port_services) files[settings::kPortsFile] = {config.port_services, kPublicMode};
    switch_generation(dir, files);
}

int cmd_build(const std::string &dir, const std::vector<std::string> &args) {
    if (args.size() != 1) throw std::invalid_argument("build takes one description file");
    std::optional<std::string> text;
    if (args[0] == "-") {
        std::ostringstream in;
        in << std::cin.rdbuf();
        text = in.str();
    } else {
        text = read_file(args[0]);
    }
    if (!text) throw failure("cannot read " + args[0]);
    json description = json::parse(*text, nullptr, false);
    if (description.is_discarded()) throw failure(args[0] + " is not valid JSON");
    device_config config;
    apply_description(description, config);
    save(dir, config);
    return kExitOk;
}

int cmd_dump(const std::string &dir, const std::vector<std::string> &args) {
    if (!args.empty()) throw std::invalid_argument("dump takes no arguments");
    std::cout << describe(load(dir, true)).dump(2) << "\n";
    return kExitOk;
}

int cmd_set(const std::string &dir, const std::vector<std::string> &args) {
    if (args.size() != 2) throw std::invalid_argument("set takes KEY VALUE");
    device_config config = load(dir, false);
    json partial = setting(args[0], args[1]);
    if (partial.contains("dyndns_ssl") && config.has_dyndns_ssl) {
        json current = describe(config)["dyndns_ssl"];
        current.update(partial["dyndns_ssl"]);
        partial["dyndns_ssl"] = current;
    }
    apply_description(partial, config);
    save(dir, config);
    return kExitOk;
}

// Adds `added` to, or removes the entry `matches` finds from, the list `key`
// of the description; refuses to remove what is not there.
void edit_list(const std::string &dir, const char *key, const std::string &what, bool add,
               const std::function<bool(const json &)> &matches, const json &added) {
    device_config config = load(dir, false);
    json current = describe(config);
    json list = current.contains(key) ? current[key] : json::array();
    json kept = json::array();
    bool found = false;
    for (const json &entry : list) {
        if (matches(entry)) found = true;
        else kept.push_back(entry);
    }
    if (!add && !found) throw failure("no " + what);
    if (add) kept.push_back(added);
    apply_description({{key, kept}}, config);
    save(dir, config);
}

int cmd_user(const std::string &dir, const std::vector<std::string> &args) {
    bool add = !args.empty() && args[0] == "add" && args.size() == 3;
    bool del = !args.empty() && args[0] == "del" && args.size() == 2;
    if (!add && !del) throw std::invalid_argument("user add NAME PASSWORD | user del NAME");
    const std::string &name = args[1];
    edit_list(dir, "local_users", "local user \"" + name + "\"", add,
              [&](const json &u) { return u["name"] == name; },
              add ? json{{"name", name}, {"password", args[2]}} : json());
    return kExitOk;
}

int cmd_service(const std::string &dir, const std::vector<std::string> &args) {
    if (args.size() != 2 || (args[0] != "add" && args[0] != "del"))
        throw std::invalid_argument("service add LINE | service del LINE");
    const std::string &line = args[1];
    edit_list(dir, "port_services", "port service \"" + line + "\"", args[0] == "add",
              [&](const json &l) { return l == line; }, line);
    return kExitOk;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string dir = dsdevice_dir();
    if (args.size() >= 2 && args[0] == "--dir") {
        dir = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? kExitUsage : kExitOk;
    }
    std::string command = args[0];
    args.erase(args.begin());
    if (command == "sessions" && args.empty())
        return dsconf::list_sessions(session_registry::kDir, stdout, stderr) == 0 ? kExitOk : kExitError;
    try {
        // Held to the end: one dsconf at a time, and what a killed one left is gone.
        base::unique_fd lock = lock_generations(dir, command != "dump");
        if (command == "build") return cmd_build(dir, args);
        if (command == "dump") return cmd_dump(dir, args);
        if (command == "set") return cmd_set(dir, args);
        if (command == "user") return cmd_user(dir, args);
        if (command == "service") return cmd_service(dir, args);
        std::fprintf(stderr, "dsconf: unknown command \"%s\"\n%s", command.c_str(), kUsage);
        return kExitUsage;
    } catch (const std::invalid_argument &e) {
        std::fprintf(stderr, "dsconf: %s\n%s", e.what(), kUsage);
        return kExitUsage;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "dsconf: %s\n", e.what());
        return kExitError;
    }
}
