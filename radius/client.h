// SPDX-License-Identifier: BSD-3-Clause
// Sends a request to the configured servers in order, with per-server
// time-outs and retries (RFC 5080 section 2.2.1), and returns the first reply
// that checks out.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "radius/config.h"
#include "radius/hold_down.h"
#include "radius/packet.h"

namespace radius {

enum class service { authentication, accounting };

// One request on the wire and the authenticator its replies answer.
struct request_bytes {
    std::vector<uint8_t> bytes;
    authenticator auth{};
};

// Builds a request for server `s`, sent from `local` (the socket's own
// address), with `identifier` and `delay_seconds` since the first try.
// Returns nothing (logged) when it cannot be built.
using request_builder = std::function<std::optional<request_bytes>(
    const server &s, const sockaddr_storage &local, uint8_t identifier, unsigned delay_seconds)>;

enum class outcome {
    answered,   // a valid reply of the expected kind
    no_answer,  // no server answered validly within the bounds
    failed,     // a request could not be built or a reply could not be checked
};

struct exchange_result {
    outcome how = outcome::no_answer;
    packet reply;
    std::size_t server = SIZE_MAX;  // the configured server that answered
};

// Returns the failover memory's name for server `s` serving `kind`: its
// transport, address and the port of that service.
server_key key_of(const server &s, service kind);

// Returns how the failover memory is read for `kind`: the hold-down, and the
// servers probed with Status-Server, whose marks end only by an answer.
mark_rules rules_of(const config &c, service kind);

// Returns a UDP socket connected to the server's port for `kind` (so that
// only datagrams from that address and port arrive), with its own address in
// `local`, or -1 (errno set).
int connect_udp(const server &s, service kind, sockaddr_storage &local);

// Returns the servers for `kind` that no process marked dead, in order.
std::vector<std::size_t> unmarked_servers(const config &c, service kind);

// Returns the servers of `c` a transaction asks for `kind`, in order: those
// `dead` does not name, or all of them when it names every one.
std::vector<std::size_t> servers_to_ask(const std::vector<server_key> &dead, const config &c, service kind);

// Runs the exchange. Authentication: every retransmission to a server is the
// same packet; a new identifier and authenticator only for the next server.
// Accounting: each try is rebuilt (its Acct-Delay-Time changes). A valid reply
// to any try sent so far, from any server, is accepted while the exchange lasts.
exchange_result exchange(const config &c, service kind, const request_builder &build);

}  // namespace radius
