// SPDX-License-Identifier: BSD-3-Clause
// dsdae's configuration. One directive per line:
//   listen ADDRESS [port N]              where requests come in (at least one)
//   client ADDRESS secret-file PATH      who may send them, and its secret
//   nas-identifier TEXT | nas-ip-address IPV4 | nas-ipv6-address IPV6
//                                        this device, as pam_dsradius names it
//   require-message-authenticator yes|no (yes)
//   require-event-timestamp yes|no       (yes)
//   event-window S                       (300) how far an Event-Timestamp may
//                                        lie from our clock, either way
//   user NAME                            (nobody) whom the daemon runs as
//                                        once its sockets are bound
#pragma once

#include <sys/socket.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/secret.h"
#include "radius/config.h"
#include "radius/dynauth.h"

namespace dsdae {

inline constexpr const char *kDefaultConfig = "/etc/dsdevice/dsdae.conf";
inline constexpr unsigned kDefaultPort = 3799;  // RFC 5176 section 3.
inline constexpr unsigned kMaxEventWindow = 86400;
inline constexpr const char *kDefaultUser = "nobody";

struct listen_address {
    std::string address;
    unsigned port = kDefaultPort;
    sockaddr_storage where{};
    socklen_t size = 0;
};

struct client {
    std::string address;
    sockaddr_storage where{};  // port 0: any source port
    secret::string secret;
};

struct config {
    std::vector<listen_address> listens;
    std::vector<client> clients;
    radius::config nas;  // its identity alone
    radius::dynauth_rules rules;
    std::string user = kDefaultUser;
};

// Returns the configuration in `text`, secrets read from their files;
// nothing with `error` naming the line and the bad value.
std::optional<config> parse_config(std::string_view text, std::string &error);

// Returns the configuration in `path`: a file of root's that no group or
// other may write, as pam_dsradius's own.
std::optional<config> load_config(const std::string &path, std::string &error);

// Returns the client whose address is `from`'s, or nothing.
const client *find_client(const config &c, const sockaddr_storage &from);

}  // namespace dsdae
