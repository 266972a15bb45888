// SPDX-License-Identifier: BSD-3-Clause
#include "plugin/call_defaults.h"

#include <array>
#include <cstdlib>

#include "platform/pppd.h"
#include "plugin/state.h"

namespace {

struct daemon_values {
    int mru;
    pppd_bool neg_mru;
    pppd_bool neg_vj;
    int maxconnect;
    int idle_time_limit;
    eui64_t peer_interface_id;
    std::array<u_int32_t, pppd::kDnsServers> dns;
};

daemon_values values{};

void drop_list(pamutil_string_list *&list) {
    if (list != nullptr) pamutil_free_string_list(list);
    list = nullptr;
}

}  // namespace

bool ds_daemon_values_kept = false;

void ds_keep_daemon_values() noexcept {
    if (ds_daemon_values_kept) return;
    ds_daemon_values_kept = true;
    values.mru = lcp_wantoptions[0].mru;
    values.neg_mru = lcp_wantoptions[0].neg_mru;
    values.neg_vj = ipcp_wantoptions[0].neg_vj;
    values.maxconnect = maxconnect;
    values.idle_time_limit = idle_time_limit;
    values.peer_interface_id = ipv6cp_wantoptions[0].hisid;
    for (std::size_t i = 0; i < pppd::kDnsServers; ++i) values.dns[i] = ipcp_allowoptions[0].dnsaddr[i];
}

void ds_restore_daemon_values() noexcept {
    if (!ds_daemon_values_kept) return;
    lcp_wantoptions[0].mru = values.mru;
    lcp_wantoptions[0].neg_mru = values.neg_mru;
    ipcp_wantoptions[0].neg_vj = values.neg_vj;
    maxconnect = values.maxconnect;
    idle_time_limit = values.idle_time_limit;
    ipv6cp_wantoptions[0].hisid = values.peer_interface_id;
    for (std::size_t i = 0; i < pppd::kDnsServers; ++i) ipcp_allowoptions[0].dnsaddr[i] = values.dns[i];
    ds_framed_ip = 0;
    std::free(ds_callback_number);
    ds_callback_number = nullptr;
    ds_callback_enabled = 0;
    drop_list(ds_routes_v4);
    drop_list(ds_routes_v6);
    drop_list(ds_class_list);
}

void ds_phase_changed(void *, int phase) noexcept {
    if (phase == pppd::kPhaseSerialConn) ds_restore_daemon_values();
}
