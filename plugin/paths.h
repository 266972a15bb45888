// SPDX-License-Identifier: BSD-3-Clause
// Files the plug-in reads and writes. "%d" is the decimal port index.
#pragma once

#include <cstddef>

namespace paths {

inline constexpr const char *kPapSecrets = "/etc/ppp/pap-secrets";
inline constexpr const char *kChapSecrets = "/etc/ppp/chap-secrets";
inline constexpr const char *kMarkerFormat = "/var/run/ppp-%s.ipup";
inline constexpr std::size_t kMarkerPathSize = 80;
inline constexpr const char *kRadvdPid = "/var/run/radvd.pid";
inline constexpr const char *kRadvdName = "radvd";  // the program the pid must run
inline constexpr const char *kProcExeFormat = "/proc/%d/exe";
inline constexpr const char *kPortResolvFormat = "/etc/ppp/resolv.conf%d";
inline constexpr const char *kSystemResolv = "/etc/resolv.conf";
inline constexpr const char *kDyndnsCfgFormat = "/etc/ppp/dyndns.cfg%d";
inline constexpr const char *kDyndnsStatsFormat = "/etc/ppp/dyndns.stats%d";
inline constexpr const char *kDyndnsSslFormat = "/etc/ppp/dyndns.ssl%d";
inline constexpr const char *kDyndnsSsloptFormat = "/etc/ppp/dyndns.sslopt%d";
// Room for any of the per-port paths above with a full-width int.
inline constexpr std::size_t kPortPathSize = 64;
inline constexpr const char *kResolvSemPath = "/tmp/psema4";
inline constexpr int kResolvSemKey = 14;

}  // namespace paths
