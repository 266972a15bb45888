// SPDX-License-Identifier: BSD-3-Clause
// pam_dsradius configuration: servers in order of preference and the NAS's
// identity. One directive per line:
//   server <address> [auth-port N] [acct-port N] secret-file PATH [timeout S] [retries N]
//   server <address> tls [port N] ca-file PATH cert-file PATH key-file PATH [name HOST]
//          [timeout S] [retries N]
//   hold-down S
//   nas-identifier TEXT
//   nas-ip-address IPV4
//   nas-ipv6-address IPV6
//   require-message-authenticator yes|no
//   total-timeout S
//   interim-interval S      Interim-Updates every S seconds (at least 60),
//                           over the Access-Accept's Acct-Interim-Interval
// Without any of the three NAS identities a request carries the address of
// the socket it leaves from (RFC 2865 section 5.4 wants one of them).
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_trust.h"
#include "base/secret.h"

namespace radius {

inline constexpr const char *kDefaultConfig = "/etc/dsdevice/pam_dsradius.conf";
inline constexpr unsigned kDefaultAuthPort = 1812;
inline constexpr unsigned kDefaultAcctPort = 1813;
inline constexpr unsigned kMaxPort = 65535;
// Defaults keep a dial-in well inside a peer's patience (PAP and CHAP peers
// commonly give up after 30 s): 2 s a try, 2 tries a server, 10 s in all.
inline constexpr unsigned kDefaultTimeoutMs = 2000;
inline constexpr unsigned kDefaultRetries = 1;
inline constexpr unsigned kDefaultTotalMs = 10000;
inline constexpr unsigned kMaxTimeoutMs = 60000;
inline constexpr unsigned kMaxRetries = 10;
inline constexpr std::size_t kMaxSecret = 128;
// RFC 6614 section 2.3: the shared secret of RADIUS over TLS.
inline constexpr const char *kTlsSecret = "radsec";
inline constexpr unsigned kDefaultTlsPort = 2083;
inline constexpr unsigned kDefaultHoldDown = 30;  // seconds a silent server is skipped
inline constexpr unsigned kMaxInterimInterval = 86400;
inline constexpr unsigned kDefaultStatusInterval = 10;  // seconds between probes of one server
inline constexpr unsigned kMaxStatusInterval = 3600;
inline constexpr std::size_t kMaxKeyFile = 64 * 1024;
inline constexpr std::size_t kMaxCertFile = 1024 * 1024;  // room for a system CA bundle
inline constexpr std::size_t kMaxConfigFile = 64 * 1024;
// What group and others must not have on a file the module trusts: nothing
// at all on secrets and keys; no write on the configuration, trust anchors
// and certificates (which others may read).
inline constexpr mode_t kPrivateMode = base::kNoAccessForOthers;
inline constexpr mode_t kSharedMode = base::kNoWriteForOthers;
// RFC 2865 section 3: a shared secret should be at least 16 octets.
inline constexpr std::size_t kRecommendedSecret = 16;

enum class transport { udp, tls };

struct server {
    std::string address;  // numeric IPv4 or IPv6
    transport via = transport::udp;
    unsigned auth_port = kDefaultAuthPort;  // with TLS: the one port for both
    unsigned acct_port = kDefaultAcctPort;
    secret::string secret;
    unsigned timeout_ms = kDefaultTimeoutMs;
    unsigned retries = kDefaultRetries;
    // Marked dead, it comes back only by answering a Status-Server probe
    // (RFC 5997), not when its hold-down ends.
    bool status_server = false;
    // TLS: trust anchors and our certificate chain (their paths, and their
    // PEM text read when the configuration is), our key (read and checked as
    // a secret is), and the name the server's certificate must carry (its
    // address when empty).
    std::string ca_file, cert_file, name;
    std::string ca_pem, cert_pem;
    secret::string key;
};

struct config {
    std::vector<server> servers;
    std::string nas_identifier;
    std::optional<in_addr> nas_ip;
    std::optional<in6_addr> nas_ipv6;
    bool require_message_authenticator = true;
    unsigned total_timeout_ms = kDefaultTotalMs;
    unsigned hold_down_s = kDefaultHoldDown;  // 0: no failover memory
    unsigned interim_interval_s = 0;          // 0: as the Access-Accept says
    unsigned status_interval_s = kDefaultStatusInterval;
};

// Returns whether the directive's words `w` are one of the NAS identity
// (nas-identifier, nas-ip-address, nas-ipv6-address), applied to `c`;
// `error` names a bad value (and is empty otherwise). Every program that
// speaks for the NAS reads its identity with this.
bool parse_nas_directive(const std::vector<std::string> &w, config &c, std::string &error);

// Returns whether `text` is a decimal number of at most `max`, in `out`.
bool parse_unsigned(std::string_view text, unsigned &out, unsigned max);

// Returns `s` in double quotes, for a message naming a bad value.
std::string quoted(std::string_view s);

// Parses configuration text; returns nothing with `error` naming the line and value.
// Secret files are read through `read_secret`.
std::optional<config> parse_config(std::string_view text, std::string &error);

// Returns the configuration in `path`, secrets, keys and certificates read
// from their files; the file itself must pass the checks of a shared file
// (see `read_trusted_file`).
std::optional<config> load_config(const std::string &path, std::string &error);

// Returns the secret in `path`, the first line without its CR or LF: a
// regular file owned by root or by us that no group or other may read or
// write (checked on the open descriptor). A short secret is logged.
std::optional<secret::string> read_secret(const std::string &path, std::string &error);

// Returns the whole of `path`, at most `max_size` bytes: a regular file
// owned by root or by us on which group and others have none of the
// `forbidden` permissions (kPrivateMode or kSharedMode), checked on the open
// descriptor and read from it ("what" names it in `error`).
std::optional<secret::string> read_trusted_file(const std::string &path, const char *what, std::size_t max_size,
                                                mode_t forbidden, std::string &error);

// Returns the length of the socket address of numeric `address` with `port`,
// written to `out`, or 0 when `address` is no numeric IPv4 or IPv6 address.
socklen_t server_sockaddr(const std::string &address, unsigned port, sockaddr_storage &out);

// Returns the address octets of `a` (4 for IPv4, 16 for IPv6, in network
// order), empty for another family.
std::string_view address_bytes(const sockaddr_storage &a);

}  // namespace radius
