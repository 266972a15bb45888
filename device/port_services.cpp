// SPDX-License-Identifier: BSD-3-Clause
// The port's own routes and 6in4 tunnel, from port-services.conf. Nothing
// configured means nothing to do, which is success.
#include <cstdio>
#include <cstring>
#include <memory>
#include <net/if.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/route/link/sit.h>
#include <sys/socket.h>
#include <syslog.h>

#include "device/netlink.h"
#include "device/port_config.h"
#include "device/settings.h"
#include "platform/device.h"

namespace {

constexpr uint8_t kTunnelTtl = 64;

std::optional<ds_port_config> load(const char *caller) {
    std::string error;
    auto config = ds_load_port_config(dsdevice_path(settings::kPortsFile), error);
    if (!config) syslog(LOG_ERR, "%s(): %s", caller, error.c_str());
    return config;
}

std::string route_ifname(const ds_port_route &route) {
    if (!route.ifname.empty()) return route.ifname;
    char name[IFNAMSIZ] = {};
    std::snprintf(name, sizeof name, kPortIfnameFormat, route.port);
    return name;
}

int change_port_routes(ds_route_op op, int port, int family, const char *caller) {
    auto config = load(caller);
    if (!config) return -1;
    int result = 0;
    for (const ds_port_route &route : config->routes) {
        if (route.port != port || (family != 0 && route.dest.family != family)) continue;
        if (ds_route_change(op, route.dest.family, route.dest.addr.data(), route.dest.length,
                            route.gateway.data(), route_ifname(route).c_str(), 0) != 0)
            result = -1;
    }
    return result;
}

struct nl_session {
    nl_sock *sock = nl_socket_alloc();
    ~nl_session() { nl_socket_free(sock); }
    bool connect() { return sock != nullptr && nl_connect(sock, NETLINK_ROUTE) == 0; }
};

int add_tunnel_address(nl_session &nl, const ds_port_tunnel &tunnel) {
    unsigned index = if_nametoindex(tunnel.name.c_str());
    std::unique_ptr<rtnl_addr, void (*)(rtnl_addr *)> addr(rtnl_addr_alloc(), rtnl_addr_put);
    std::unique_ptr<nl_addr, void (*)(nl_addr *)> local(
        nl_addr_build(AF_INET6, tunnel.address->addr.data(), tunnel.address->addr.size()),
        nl_addr_put);
    if (index == 0 || !addr || !local) return -1;
    nl_addr_set_prefixlen(local.get(), static_cast<int>(tunnel.address->length));
    rtnl_addr_set_ifindex(addr.get(), static_cast<int>(index));
    rtnl_addr_set_local(addr.get(), local.get());
    int err = rtnl_addr_add(nl.sock, addr.get(), 0);
    if (err < 0) syslog(LOG_ERR, "createIPv6Tunnel(): address on %s: %s", tunnel.name.c_str(),
                        nl_geterror(err));
    return err < 0 ? -1 : 0;
}

int create_tunnel(const ds_port_tunnel &tunnel) {
    nl_session nl;
    if (!nl.connect()) return -1;
    std::unique_ptr<rtnl_link, void (*)(rtnl_link *)> link(rtnl_link_sit_alloc(), rtnl_link_put);
    if (!link) return -1;
    rtnl_link_set_name(link.get(), tunnel.name.c_str());
    rtnl_link_sit_set_local(link.get(), tunnel.local);
    rtnl_link_sit_set_remote(link.get(), tunnel.remote);
    rtnl_link_sit_set_ttl(link.get(), kTunnelTtl);
    rtnl_link_set_flags(link.get(), IFF_UP);
    int err = rtnl_link_add(nl.sock, link.get(), NLM_F_CREATE | NLM_F_EXCL);
    if (err < 0) {
        syslog(LOG_ERR, "createIPv6Tunnel(): %s: %s", tunnel.name.c_str(), nl_geterror(err));
        return -1;
    }
    return tunnel.address ? add_tunnel_address(nl, tunnel) : 0;
}

int delete_tunnel(const ds_port_tunnel &tunnel) {
    nl_session nl;
    if (!nl.connect()) return -1;
    std::unique_ptr<rtnl_link, void (*)(rtnl_link *)> link(rtnl_link_alloc(), rtnl_link_put);
    if (!link) return -1;
    rtnl_link_set_name(link.get(), tunnel.name.c_str());
    int err = rtnl_link_delete(nl.sock, link.get());
    return err < 0 && err != -NLE_NODEV && err != -NLE_OBJ_NOTFOUND ? -1 : 0;
}

int for_port_tunnels(int port, const char *caller, int (*action)(const ds_port_tunnel &)) {
    auto config = load(caller);
    if (!config) return -1;
    int result = 0;
    for (const ds_port_tunnel &tunnel : config->tunnels)
        if (tunnel.port == port && action(tunnel) != 0) result = -1;
    return result;
}

}  // namespace

int createPortRoutes(int port, int family) {
    try {
        int af = family == device::kFamilyV4 ? AF_INET : family == device::kFamilyV6 ? AF_INET6 : -1;
        if (af < 0) return -1;
        return change_port_routes(ds_route_op::add, port, af, "createPortRoutes");
    } catch (...) {
        return -1;
    }
}

int deletePortRoutes(int port) {
    try {
        // Routes vanish with their interface; a missing one is not an error here.
        change_port_routes(ds_route_op::remove, port, 0, "deletePortRoutes");
        return 0;
    } catch (...) {
        return -1;
    }
}

int createIPv6Tunnel(int port) {
    try {
        return for_port_tunnels(port, "createIPv6Tunnel", create_tunnel);
    } catch (...) {
        return -1;
    }
}

int deleteIPv6Tunnel(int port) {
    try {
        return for_port_tunnels(port, "deleteIPv6Tunnel", delete_tunnel);
    } catch (...) {
        return -1;
    }
}
