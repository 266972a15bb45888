// SPDX-License-Identifier: BSD-3-Clause
// Route and link changes through rtnetlink (libnl-route-3).
#pragma once

#include <cstdint>

enum class ds_route_op { add, remove };

// Returns 0 or -1 (logged). `gateway` null or all-zero means on-link.
int ds_route_change(ds_route_op op, int family, const unsigned char *dest, unsigned prefix_len,
                    const unsigned char *gateway, const char *ifname, uint32_t metric);
