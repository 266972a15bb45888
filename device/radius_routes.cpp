// SPDX-License-Identifier: BSD-3-Clause
// Per-user routes granted by RADIUS (Framed-Route, Framed-IPv6-Route).
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <syslog.h>

#include "base/log_text.h"
#include "device/netlink.h"
#include "device/route_text.h"
#include "device/string_list.h"
#include "platform/device.h"

namespace {

// Returns 0 when every entry was installed, -1 when any was skipped or failed.
int install_all(const pamutil_string_list *list, const char *ifname, int family,
                u_int32_t peer) {
    if (list == nullptr) return 0;
    int result = 0;
    for (const std::string &text : list->values) {
        auto route = ds_parse_framed_route(text, family);
        if (!route) {
            syslog(LOG_ERR, "pamutil: malformed %s \"%s\", skipped",
                   family == AF_INET ? "Framed-Route" : "Framed-IPv6-Route", base::escaped(text).c_str());
            result = -1;
            continue;
        }
        // An IPv4 gateway of 0.0.0.0 means the peer.
        if (family == AF_INET) {
            u_int32_t gateway;
            std::memcpy(&gateway, route->gateway.data(), sizeof gateway);
            if (gateway == 0) std::memcpy(route->gateway.data(), &peer, sizeof peer);
        }
        if (ds_route_change(ds_route_op::add, family, route->dest.addr.data(),
                            route->dest.length, route->gateway.data(), ifname,
                            route->metric) != 0)
            result = -1;
    }
    return result;
}

}  // namespace

int pamutil_add_radius_ipv4_routes(const pamutil_string_list *list, const char *ifname,
                                   u_int32_t peer) {
    try {
        return install_all(list, ifname, AF_INET, peer);
    } catch (...) {
        return -1;
    }
}

int pamutil_add_radius_ipv6_routes(const pamutil_string_list *list, const char *ifname) {
    try {
        return install_all(list, ifname, AF_INET6, 0);
    } catch (...) {
        return -1;
    }
}
