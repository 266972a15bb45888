// SPDX-License-Identifier: BSD-3-Clause
// IPv6 link-up: per-user IPv6 routes, the port's IPv6 routes, a host route to
// the peer on the port's prefix, and a reload of the router advertiser.
#include <array>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <net/if.h>
#include <net/route.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include "base/addr.h"
#include "base/pidfd.h"
#include "base/unique_fd.h"
#include "platform/device.h"
#include "platform/store.h"
#include "plugin/handlers.h"
#include "plugin/paths.h"
#include "plugin/state.h"

namespace {

constexpr const char *kFn = "ds_ipv6_up";
constexpr std::size_t kPrefixHalf = base::kInterfaceIdOffset;
constexpr unsigned short kHostRouteLen = 128;
constexpr unsigned kHostRouteMetric = 1;

bool peer_id_is_zero() {
    static const unsigned char zero[base::kInterfaceIdSize] = {};
    return std::memcmp(ipv6cp_hisoptions[0].hisid.e8, zero, base::kInterfaceIdSize) == 0;
}

// Returns true once the host route request has been made (whatever its outcome).
bool add_peer_host_route(const unsigned char *prefix) {
    in6_rtmsg route{};
    std::memcpy(&route.rtmsg_dst, prefix, kPrefixHalf);
    std::memcpy(reinterpret_cast<unsigned char *>(&route.rtmsg_dst) + kPrefixHalf,
                ipv6cp_hisoptions[0].hisid.e8, base::kInterfaceIdSize);
    route.rtmsg_type = 0;
    route.rtmsg_dst_len = kHostRouteLen;
    route.rtmsg_src_len = 0;
    route.rtmsg_metric = kHostRouteMetric;
    route.rtmsg_info = 0;
    route.rtmsg_flags = RTF_UP | RTF_HOST;

    base::unique_fd sock(socket(AF_INET6, SOCK_DGRAM, 0));
    if (!sock) {
        syslog(LOG_INFO, "%s(): cannot open ipv6 socket", kFn);
        return false;
    }
    ifreq request{};
    std::memcpy(request.ifr_name, ifname, strnlen(ifname, sizeof request.ifr_name - 1));
    if (ioctl(sock.get(), SIOCGIFINDEX, &request) < 0) {
        syslog(LOG_INFO, "%s(): ioctl(SIOCGIFINDEX): %m", kFn);
        syslog(LOG_INFO, "%s(): interface: %s", kFn, ifname);
        return false;
    }
    route.rtmsg_ifindex = request.ifr_ifindex;
    if (ioctl(sock.get(), SIOCADDRT, &route) < 0) syslog(LOG_INFO, "%s(): ioctl(SIOCADDRT): %m", kFn);
    return true;
}

// Returns whether process `pid` runs radvd, by its executable's name (an
// upgrade that replaced the binary leaves " (deleted)" after it).
bool runs_radvd(pid_t pid) {
    std::array<char, paths::kPortPathSize> link{};
    std::array<char, PATH_MAX> target{};
    std::snprintf(link.data(), link.size(), paths::kProcExeFormat, static_cast<int>(pid));
    ssize_t n = readlink(link.data(), target.data(), target.size() - 1);
    if (n <= 0) return false;
    std::string_view exe(target.data(), static_cast<std::size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (exe.size() > kDeleted.size() && exe.substr(exe.size() - kDeleted.size()) == kDeleted)
        exe.remove_suffix(kDeleted.size());
    return exe.substr(exe.rfind('/') + 1) == paths::kRadvdName;
}

// A pid file outlives its process: the id may by now be another process's,
// another port's daemon even, which SIGHUP would hang up. So the process is
// pinned by a descriptor first, then checked, then signalled through it.
// Only a positive id is looked at: 0 or a negative id would reach a process group.
void reload_radvd() {
    std::FILE *f = std::fopen(paths::kRadvdPid, "re");
    if (f == nullptr) return;
    int pid = 0;
    if (std::fscanf(f, "%d", &pid) != 1) pid = 0;
    std::fclose(f);
    if (pid <= 0) return;
    base::unique_fd pidfd(base::open_pidfd(pid));
    if (!pidfd) {
        syslog(LOG_WARNING, "%s(): %s names process %d, which cannot be reached (%m); radvd not reloaded", kFn,
               paths::kRadvdPid, pid);
        return;
    }
    if (!runs_radvd(pid)) {
        syslog(LOG_WARNING, "%s(): %s names process %d, which is not %s; not signalled", kFn, paths::kRadvdPid, pid,
               paths::kRadvdName);
        return;
    }
    if (base::signal_pidfd(pidfd.get(), SIGHUP) != 0)
        syslog(LOG_WARNING, "%s(): cannot signal %s (process %d): %m", kFn, paths::kRadvdName, pid);
}

}  // namespace

void ds_ipv6_up(void) noexcept {
    int port = ds_get_port();
    pamutil_add_radius_ipv6_routes(ds_routes_v6, ifname);
    if (port == kNoPort || peer_id_is_zero()) return;
    createPortRoutes(port, device::kFamilyV6);
    if (!ds_port_record_exists(port, kFn)) return;

    std::array<unsigned char, store::kPortSize> record{};
    if (ds_reprom(record.data(), store::kPortSize, store::port_offset(port)) != store::kPortSize) {
        syslog(LOG_INFO, "%s(): error getting port config", kFn);
        return;
    }
    const unsigned char *prefix = record.data() + store::kIpv6Prefix;
    if (IS_ADDR_V4ZERO(prefix) || IS_ADDR_V6ZERO(prefix)) return;
    if (record[store::kIpv6PrefixFlag] == 0) return;
    if (add_peer_host_route(prefix)) reload_radvd();
}
