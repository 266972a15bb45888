// SPDX-License-Identifier: BSD-3-Clause
#include "radius/accounting.h"

#include <algorithm>
#include <ctime>

namespace radius {

uint32_t event_time_now() { return static_cast<uint32_t>(std::time(nullptr)); }

void add_accounting_event(const accounting_event &e, unsigned tried_for, packet &p) {
    p.add_u32(acct_status_type, e.status);
    p.add(acct_session_id, e.session_id);
    p.add_u32(event_timestamp, e.when);
    // From the event; the time spent trying is the floor should the wall
    // clock have been set back since.
    uint32_t now = event_time_now();
    p.add_u32(acct_delay_time, std::max<uint32_t>(tried_for, now > e.when ? now - e.when : 0));
}

}  // namespace radius
