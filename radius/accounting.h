// SPDX-License-Identifier: BSD-3-Clause
// What every Accounting-Request carries, whatever else it holds.
#pragma once

#include <cstdint>
#include <string>

#include "radius/packet.h"

namespace radius {

// An accounting event: its kind, its session and when it happened.
struct accounting_event {
    uint32_t status = 0;      // Acct-Status-Type
    std::string session_id;   // Acct-Session-Id
    uint32_t when = 0;        // seconds since the epoch
};

// Returns the time of an event happening now, as Event-Timestamp carries it.
uint32_t event_time_now();

// Adds Acct-Status-Type, Acct-Session-Id, Event-Timestamp (RFC 2869 section
// 5.3: the event's own time, the same in every retransmission, so a server
// recording it is right however late the request arrives) and
// Acct-Delay-Time, counted from the event, for a try `tried_for` seconds
// after the first.
void add_accounting_event(const accounting_event &e, unsigned tried_for, packet &p);

}  // namespace radius
