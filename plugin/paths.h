// SPDX-License-Identifier: BSD-3-Clause
// Files the plug-in reads and writes. "%d" is the decimal port index.
#pragma once

#include <cstddef>

inline constexpr const char *DS_PAP_SECRETS = "/etc/ppp/pap-secrets";
inline constexpr const char *DS_CHAP_SECRETS = "/etc/ppp/chap-secrets";
inline constexpr const char *DS_MARKER_FORMAT = "/var/run/ppp-%s.ipup";
inline constexpr std::size_t DS_MARKER_PATH_SIZE = 80;
inline constexpr const char *DS_RADVD_PID = "/var/run/radvd.pid";
inline constexpr const char *DS_PORT_RESOLV_FORMAT = "/etc/ppp/resolv.conf%d";
inline constexpr const char *DS_SYSTEM_RESOLV = "/etc/resolv.conf";
inline constexpr const char *DS_DYNDNS_CFG_FORMAT = "/etc/ppp/dyndns.cfg%d";
inline constexpr const char *DS_DYNDNS_STATS_FORMAT = "/etc/ppp/dyndns.stats%d";
inline constexpr const char *DS_DYNDNS_SSL_FORMAT = "/etc/ppp/dyndns.ssl%d";
inline constexpr const char *DS_DYNDNS_SSLOPT_FORMAT = "/etc/ppp/dyndns.sslopt%d";
// Room for any of the per-port paths above with a full-width int.
inline constexpr std::size_t DS_PORT_PATH_SIZE = 64;
inline constexpr const char *DS_RESOLV_SEM_PATH = "/tmp/psema4";
inline constexpr int DS_RESOLV_SEM_KEY = 14;
