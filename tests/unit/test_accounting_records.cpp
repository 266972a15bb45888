// SPDX-License-Identifier: BSD-3-Clause
// What accounting records carry beyond the counters: why a call ended, as
// IP-down can see it; octets past 2^32.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "acct/octets.h"
#include "platform/terminate_cause.h"

namespace {

using terminate_cause::link_end;

// Every way pppd 2.4.2 ends a link, as IP-down sees it. The daemon's own
// ends (idle, connect time, echoes) leave `status` at EXIT_OK until after
// IP-down: only LCP's state and reason tell them apart.
TEST(TerminateCause, EveryWayALinkEnds) {
    struct row {
        const char *what;
        link_end end;
        int cause;
    };
    const row rows[] = {
        {"modem hang-up", {pppd::kExitHangup, pppd::kFsmOpened, "", 0, 0}, terminate_cause::kLostCarrier},
        {"SIGTERM or SIGHUP of the NAS", {pppd::kExitUserRequest, pppd::kFsmOpened, pppd::kReasonUserRequest, 0, 0},
         terminate_cause::kAdminReset},
        {"idle time-out", {pppd::kExitOk, pppd::kFsmOpened, pppd::kReasonIdle, 300, 0}, terminate_cause::kIdleTimeout},
        {"session time-out", {pppd::kExitOk, pppd::kFsmOpened, pppd::kReasonConnectTime, 0, 3600},
         terminate_cause::kSessionTimeout},
        {"no answer to LCP echoes", {pppd::kExitOk, pppd::kFsmOpened, pppd::kReasonPeerDead, 0, 0},
         terminate_cause::kLostCarrier},
        {"the peer's Terminate-Request", {pppd::kExitOk, pppd::kFsmStopping, "", 0, 0}, terminate_cause::kUserRequest},
        {"...even with a reason left from before", {pppd::kExitOk, pppd::kFsmStopping, pppd::kReasonIdle, 300, 0},
         terminate_cause::kUserRequest},
        {"an idle reason from an earlier link, no idle limit now",
         {pppd::kExitOk, pppd::kFsmOpened, pppd::kReasonIdle, 0, 0}, terminate_cause::kUserRequest},
        {"a connect-time reason without maxconnect", {pppd::kExitOk, pppd::kFsmOpened, pppd::kReasonConnectTime, 0, 0},
         terminate_cause::kUserRequest},
        {"the peer ended IPCP only", {pppd::kExitOk, pppd::kFsmOpened, "", 0, 0}, terminate_cause::kUserRequest},
        {"any other status", {pppd::kExitPeerDead + 4, pppd::kFsmOpened, "", 0, 0}, terminate_cause::kNasError},
    };
    for (const row &r : rows) EXPECT_EQ(terminate_cause::of(r.end), r.cause) << r.what;
}

// The session's octets from 32-bit samples: each step is taken mod 2^32.
TEST(Octets, WrapsAddUpToTheTrueTotal) {
    constexpr uint64_t kWrap = uint64_t{1} << 32;
    struct row {
        const char *what;
        std::vector<uint32_t> samples;  // the first is the start
        uint64_t total;
    };
    const row rows[] = {
        {"no wrap", {100, 2000, 3000000000u}, 3000000000u},
        {"one wrap between two samples", {0, 4000000000u, 500000000}, kWrap + 500000000},
        {"a start that is not 0", {4294967000u, 296, 1296}, kWrap + 1296},
        {"five wraps over many samples (3e9 octets each)",
         {0, 3000000000u, 1705032704u, 410065408u, 3410065408u, 2115098112u, 820130816u, 3820130816u, 2525163520u},
         5 * kWrap + 2525163520u},
        {"counters standing still", {7, 7, 7}, 7},
    };
    for (const row &r : rows) {
        ds_octet_total t;
        t.start(r.samples.front());
        for (std::size_t i = 1; i < r.samples.size(); ++i) t.sample(r.samples[i]);
        EXPECT_EQ(t.total, r.total) << r.what;
        EXPECT_EQ(t.gigawords(), static_cast<uint32_t>(r.total >> 32)) << r.what;
        EXPECT_EQ(t.low(), static_cast<uint32_t>(r.total)) << r.what;
    }
    // The next session starts anew: a link at 0 after one that ended at 3.9 GiB.
    ds_octet_total t;
    t.start(0);
    t.sample(4190000000u);
    t.start(0);
    t.sample(1000);
    EXPECT_EQ(t.gigawords(), 0u);
    EXPECT_EQ(t.low(), 1000u);
}

}  // namespace
