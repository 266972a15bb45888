// SPDX-License-Identifier: BSD-3-Clause
// How every request names its NAS (RFC 2865 section 5.4).
#pragma once

#include <sys/socket.h>

#include "radius/config.h"
#include "radius/packet.h"

namespace radius {

// Adds the configured NAS-Identifier, NAS-IP-Address and NAS-IPv6-Address.
// Without a configured address, the request's source address `local` goes
// as NAS-IP-Address (NAS-IPv6-Address over IPv6), with a NAS-Identifier too:
// servers key sessions on the address (FreeRADIUS's Accounting-On closes the
// open sessions of the address it names), so every request of the device
// names the same one.
void add_nas_identity(const config &c, const sockaddr_storage &local, packet &p);

}  // namespace radius
