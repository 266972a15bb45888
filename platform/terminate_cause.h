// SPDX-License-Identifier: BSD-3-Clause
// Why a call ended, as RFC 2866 section 5.10 (Acct-Terminate-Cause) says it,
// from what pppd 2.4.2 lets IP-down see. The daemon sets `status` for an
// idle time-out, the connect-time limit and an LCP echo failure only after
// IP-down has run (closing LCP runs the IP-down notifiers), so `status` alone
// reads EXIT_OK there; but LCP's state machine is still OPENED then, with the
// reason the daemon gave lcp_close. A hang-up and the NAS's own SIGTERM or
// SIGHUP set `status` before the link goes down. A peer's Terminate-Request
// leaves LCP in STOPPING.
//
//   how the link ended             status at IP-down   LCP at IP-down                  cause
//   modem hang-up, lost carrier    EXIT_HANGUP         any                             Lost-Carrier (2)
//   the NAS's SIGTERM or SIGHUP    EXIT_USER_REQUEST   any                             Admin-Reset (6)
//   idle time-out (idle)           EXIT_OK             OPENED, "Link inactive"         Idle-Timeout (4)
//   session time-out (maxconnect)  EXIT_OK             OPENED, "Connect time expired"  Session-Timeout (5)
//   peer not answering LCP echoes  EXIT_OK             OPENED, "Peer not responding"   Lost-Carrier (2)
//   the peer's Terminate-Request   EXIT_OK             STOPPING                        User-Request (1)
//   anything else with EXIT_OK     EXIT_OK                                             User-Request (1)
//   anything else                  another code                                        NAS-Error (9)
//
// An idle or connect-time reason counts only while that limit is set, so a
// reason left from an earlier link of the same daemon is not taken for this
// one's. (A CBCP callback ends the link before IPCP is up: no IP-down, no Stop.)
#pragma once

#include <string_view>

#include "platform/pppd.h"

namespace terminate_cause {

// RFC 2866 section 5.10.
inline constexpr int kUserRequest = 1;
inline constexpr int kLostCarrier = 2;
inline constexpr int kIdleTimeout = 4;
inline constexpr int kSessionTimeout = 5;
inline constexpr int kAdminReset = 6;
inline constexpr int kAdminReboot = 7;
inline constexpr int kNasError = 9;
inline constexpr int kNasReboot = 11;

// What IP-down sees of the daemon.
struct link_end {
    int status = pppd::kExitOk;
    int lcp_state = pppd::kFsmOpened;
    std::string_view reason;  // lcp_fsm[0]'s term_reason
    int idle_time_limit = 0;
    int maxconnect = 0;
};

// Returns the Acct-Terminate-Cause for a link that ended as `end` says.
inline int of(const link_end &end) noexcept {
    if (end.status == pppd::kExitHangup) return kLostCarrier;
    if (end.status == pppd::kExitUserRequest) return kAdminReset;
    if (end.status != pppd::kExitOk) return kNasError;
    if (end.lcp_state == pppd::kFsmStopping) return kUserRequest;
    if (end.lcp_state == pppd::kFsmOpened) {
        if (end.reason == pppd::kReasonIdle && end.idle_time_limit > 0) return kIdleTimeout;
        if (end.reason == pppd::kReasonConnectTime && end.maxconnect > 0) return kSessionTimeout;
        if (end.reason == pppd::kReasonPeerDead) return kLostCarrier;
    }
    return kUserRequest;
}

// Returns what the daemon shows IP-down now.
inline link_end seen_at_ip_down() noexcept {
    link_end end;
    end.status = status;
    end.lcp_state = lcp_fsm[0].state;
    if (lcp_fsm[0].term_reason != nullptr && lcp_fsm[0].term_reason_len > 0)
        end.reason = std::string_view(lcp_fsm[0].term_reason, static_cast<std::size_t>(lcp_fsm[0].term_reason_len));
    end.idle_time_limit = idle_time_limit;
    end.maxconnect = maxconnect;
    return end;
}

}  // namespace terminate_cause
