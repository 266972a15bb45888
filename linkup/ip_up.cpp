// SPDX-License-Identifier: BSD-3-Clause
// IPv4 link-up: per-user routes, the static routes whose gateway is an
// endpoint of this link, then the port's own services.
#include <arpa/inet.h>
#include <array>
#include <cstdint>
#include <cstring>

#include "base/addr.h"
#include "platform/device.h"
#include "platform/store.h"
#include "plugin/handlers.h"
#include "plugin/state.h"

namespace {

constexpr int kIpv4Family = device::kFamilyV4;

using route_entry = std::array<unsigned char, store::kRouteSize>;
using host_entry = std::array<unsigned char, store::kHostEntrySize>;

u_int32_t v4_of(const unsigned char *addr) {
    u_int32_t value;
    std::memcpy(&value, addr + base::kV4MappedOffset, base::kIpv4Size);
    return value;
}

bool gateway_is_link_v4(u_int32_t gateway) {
    return gateway == ipcp_gotoptions[0].ouraddr || gateway == ipcp_hisoptions[0].hisaddr ||
           gateway == ipcp_wantoptions[0].ouraddr || gateway == ipcp_wantoptions[0].hisaddr;
}

bool gateway_is_link_v6(const unsigned char *gateway) {
    const unsigned char *id = gateway + base::kInterfaceIdOffset;
    for (const eui64_t *link_id :
         {&ipv6cp_gotoptions[0].ourid, &ipv6cp_hisoptions[0].hisid, &ipv6cp_wantoptions[0].ourid,
          &ipv6cp_wantoptions[0].hisid})
        if (std::memcmp(id, link_id->e8, base::kInterfaceIdSize) == 0) return true;
    return false;
}

// Returns the network-order mask of a stored (96 + n) prefix length.
u_int32_t v4_mask(unsigned stored_prefix) {
    unsigned shift = store::kMaxPrefix - stored_prefix;
    uint32_t host_mask = shift >= 32 ? 0 : (0xffffffffu << shift);
    return htonl(host_mask);
}

void install_v4(const route_entry &route, const host_entry &host) {
    unsigned type = route[store::kRouteType];
    unsigned prefix = route[store::kRoutePrefixLen];
    bool is_default = type == store::kRouteTypeDefault;
    u_int32_t dest = is_default ? 0 : v4_of(route.data() + store::kRouteDest);
    u_int32_t gateway = v4_of(host.data() + store::kHostAddr);
    if (!is_default && (prefix <= store::kV4PrefixBase || prefix > store::kMaxPrefix)) return;
    if (!gateway_is_link_v4(gateway)) return;
    u_int32_t mask = is_default ? 0 : v4_mask(prefix);
    add_route_v4(dest, mask, gateway, ifname);
}

void install_v6(const route_entry &route, const host_entry &host) {
    bool is_default = route[store::kRouteType] == store::kRouteTypeDefault;
    std::array<unsigned char, store::kAddrSize> dest{};
    if (!is_default) std::memcpy(dest.data(), route.data() + store::kRouteDest, dest.size());
    std::array<unsigned char, store::kAddrSize> gateway{};
    std::memcpy(gateway.data(), host.data() + store::kHostAddr, gateway.size());
    if (!gateway_is_link_v6(gateway.data())) return;
    int prefix = is_default ? 0 : route[store::kRoutePrefixLen];
    add_route_v6(dest.data(), prefix, gateway.data(), ifname);
}

// Returns false when a store read failed, which ends the whole handler.
bool install_static_routes() {
    for (int i = 0; i < store::kRouteCount; ++i) {
        route_entry route{};
        if (ds_reprom(route.data(), store::kRouteSize, store::route_offset(i)) < 0) return false;
        if (route[store::kRouteViaHost] == 0) continue;
        // A host index past the table names no host: skipped like a disabled one.
        if (!store::has_host_entry(route[store::kRouteHost])) continue;
        host_entry host{};
        if (ds_reprom(host.data(), store::kHostEntrySize, store::host_offset(route[store::kRouteHost])) < 0)
            return false;
        if (host[store::kHostEnabled] == 0) continue;
        if (route[store::kRouteType] > store::kRouteTypeDefault) continue;
        if (base::is_v4_mapped(route.data() + store::kRouteDest))
            install_v4(route, host);
        else
            install_v6(route, host);
    }
    return true;
}

}  // namespace

void ds_ip_up(void) noexcept {
    pamutil_add_radius_ipv4_routes(ds_routes_v4, ifname, ipcp_hisoptions[0].hisaddr);
    if (!install_static_routes()) return;

    int port = ds_get_port();
    if (port == kNoPort) return;
    if (ipcp_hisoptions[0].hisaddr != 0) createPortRoutes(port, kIpv4Family);
    createIPv6Tunnel(port);
    if (ds_dyndns_pid == 0 && check_and_launch_ppp_dyndns(port, &ds_dyndns_pid) < 0)
        ds_dyndns_pid = 0;
    ds_update_resolv(port);
}
