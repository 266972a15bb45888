// SPDX-License-Identifier: BSD-3-Clause
// The daemon's sockets: datagrams read with the address they came to, and
// replies sent from that address, so a socket bound to a wildcard answers
// from the address the server asked.
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "radius/packet.h"
#include "tools/dsdae/config.h"

namespace dsdae {

inline constexpr std::size_t kMaxDatagram = radius::kMaxPacket;

// Returns a socket bound to `where`, told to report each datagram's
// destination, or an invalid one with `error` set. An IPv6 socket takes
// IPv6 alone, so a client's IPv4 address never arrives mapped.
base::unique_fd bind_socket(const listen_address &where, std::string &error);

struct datagram {
    std::vector<uint8_t> bytes;
    sockaddr_storage from{};
    sockaddr_storage local{};  // the address it came to
};

// Returns whether a datagram was read from `fd` into `out`.
bool receive(int fd, datagram &out);

// Returns whether `bytes` went to `to` from `local`.
bool send_reply(int fd, const std::vector<uint8_t> &bytes, const sockaddr_storage &to, const sockaddr_storage &local);

}  // namespace dsdae
