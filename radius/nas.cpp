// SPDX-License-Identifier: BSD-3-Clause
#include "radius/nas.h"

#include <netinet/in.h>

#include "base/addr.h"

namespace radius {

void add_nas_identity(const config &c, const sockaddr_storage &local, packet &p) {
    if (!c.nas_identifier.empty()) p.add(nas_identifier, c.nas_identifier);
    if (c.nas_ip) p.add(nas_ip_address, std::string(reinterpret_cast<const char *>(&*c.nas_ip), base::kIpv4Size));
    if (c.nas_ipv6)
        p.add(nas_ipv6_address, std::string(reinterpret_cast<const char *>(&*c.nas_ipv6), base::kIpv6Size));
    if (c.nas_ip || c.nas_ipv6) return;
    if (local.ss_family == AF_INET) {
        const auto &a = reinterpret_cast<const sockaddr_in &>(local).sin_addr;
        p.add(nas_ip_address, std::string(reinterpret_cast<const char *>(&a), base::kIpv4Size));
    } else if (local.ss_family == AF_INET6) {
        const auto &a = reinterpret_cast<const sockaddr_in6 &>(local).sin6_addr;
        p.add(nas_ipv6_address, std::string(reinterpret_cast<const char *>(&a), base::kIpv6Size));
    }
}

}  // namespace radius
