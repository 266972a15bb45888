// SPDX-License-Identifier: BSD-3-Clause
#include "device/netlink.h"

#include <cstring>
#include <linux/rtnetlink.h>
#include <memory>
#include <net/if.h>
#include <netlink/addr.h>
#include <netlink/netlink.h>
#include <netlink/route/nexthop.h>
#include <netlink/route/route.h>
#include <netlink/socket.h>
#include <sys/socket.h>
#include <syslog.h>

namespace {

struct sock_free {
    void operator()(nl_sock *s) const { nl_socket_free(s); }
};
struct route_free {
    void operator()(rtnl_route *r) const { rtnl_route_put(r); }
};
struct addr_free {
    void operator()(nl_addr *a) const { nl_addr_put(a); }
};

std::size_t address_size(int family) { return family == AF_INET ? 4 : 16; }

bool all_zero(const unsigned char *bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

}  // namespace

int ds_route_change(ds_route_op op, int family, const unsigned char *dest, unsigned prefix_len,
                    const unsigned char *gateway, const char *ifname, uint32_t metric) {
    const char *verb = op == ds_route_op::add ? "add" : "delete";
    std::size_t size = address_size(family);
    if (dest == nullptr || ifname == nullptr || prefix_len > size * 8) {
        syslog(LOG_ERR, "route %s: bad destination or prefix length %u", verb, prefix_len);
        return -1;
    }
    unsigned ifindex = if_nametoindex(ifname);
    if (ifindex == 0) {
        // A route to remove went away with its interface.
        if (op == ds_route_op::remove) return 0;
        syslog(LOG_ERR, "route %s: no interface %s", verb, ifname);
        return -1;
    }
    std::unique_ptr<nl_sock, sock_free> sock(nl_socket_alloc());
    std::unique_ptr<rtnl_route, route_free> route(rtnl_route_alloc());
    std::unique_ptr<nl_addr, addr_free> dst(nl_addr_build(family, dest, size));
    if (!sock || !route || !dst) return -1;
    int err = nl_connect(sock.get(), NETLINK_ROUTE);
    if (err < 0) {
        syslog(LOG_ERR, "route %s: netlink: %s", verb, nl_geterror(err));
        return -1;
    }
    nl_addr_set_prefixlen(dst.get(), static_cast<int>(prefix_len));
    rtnl_route_set_family(route.get(), static_cast<uint8_t>(family));
    rtnl_route_set_dst(route.get(), dst.get());
    rtnl_route_set_table(route.get(), RT_TABLE_MAIN);
    rtnl_route_set_protocol(route.get(), RTPROT_BOOT);
    if (metric != 0) rtnl_route_set_priority(route.get(), metric);
    bool on_link = gateway == nullptr || all_zero(gateway, size);
    rtnl_route_set_scope(route.get(), on_link ? RT_SCOPE_LINK : RT_SCOPE_UNIVERSE);
    rtnl_nexthop *hop = rtnl_route_nh_alloc();
    if (hop == nullptr) return -1;
    rtnl_route_nh_set_ifindex(hop, static_cast<int>(ifindex));
    if (!on_link) {
        std::unique_ptr<nl_addr, addr_free> via(nl_addr_build(family, gateway, size));
        if (via) rtnl_route_nh_set_gateway(hop, via.get());
    }
    rtnl_route_add_nexthop(route.get(), hop);  // the route owns it now
    err = op == ds_route_op::add
              ? rtnl_route_add(sock.get(), route.get(), NLM_F_CREATE | NLM_F_EXCL)
              : rtnl_route_delete(sock.get(), route.get(), 0);
    if (err == -NLE_OBJ_NOTFOUND && op == ds_route_op::remove) return 0;
    if (err < 0) {
        char text[INET6_ADDRSTRLEN] = {};
        nl_addr2str(dst.get(), text, sizeof text);
        syslog(LOG_ERR, "route %s %s dev %s: %s", verb, text, ifname, nl_geterror(err));
        return -1;
    }
    return 0;
}
