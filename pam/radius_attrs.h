// SPDX-License-Identifier: BSD-3-Clause
// Between the PAM environment the plug-in fills and RADIUS attributes.
#pragma once

#include <security/pam_appl.h>
#include <sys/socket.h>

#include <optional>
#include <string>

#include "radius/config.h"
#include "pam/request.h"
#include "radius/packet.h"

namespace radius {

// Returns whether `user` fits a User-Name attribute (logged when not).
bool user_name_fits(const std::string &user);

// Adds the user and NAS attributes every request carries; without a
// configured NAS identity, `local` (the request's source address) is sent as
// NAS-IP-Address or NAS-IPv6-Address. Returns false (logged) when the user
// name does not fit an attribute: such a request is never sent.
bool add_user_attributes(const pam_request::request &r, const config &c, const sockaddr_storage &local, packet &p);

// Moves the authorization in an Access-Accept into the environment.
void apply_accept(pam_handle_t *pamh, const packet &accept);

// Returns the value of Microsoft's vendor attribute `type` in `p`, or
// nothing when no well-formed one is there.
std::optional<std::string> microsoft_attribute(const packet &p, uint8_t type);

// Adds every Class of the request (one that is not hexadecimal or too long is
// logged and left out).
void add_classes(const pam_request::request &r, packet &p);

}  // namespace radius
