// SPDX-License-Identifier: BSD-3-Clause
// The daemon's side of the plug-in interface: every symbol a plug-in for
// pppd 2.4.2 (device build) may use.
#include "tools/pppd-sim/daemon.h"

int (*pap_check_hook)(void) = nullptr;
int (*chap_check_hook)(void) = nullptr;
pap_auth_hook_fn pap_auth_hook = nullptr;
chap_verify_hook_fn chap_verify_hook = nullptr;
void (*ip_choose_hook)(u_int32_t *) = nullptr;
int (*allowed_address_hook)(u_int32_t) = nullptr;
void (*ip_up_hook)(void) = nullptr;
void (*ipv6_up_hook)(void) = nullptr;
void (*cbcp_init_hook)(cbcp_state *) = nullptr;

struct notifier *ip_up_notifier = nullptr;
struct notifier *ip_down_notifier = nullptr;
struct notifier *phasechange = nullptr;

char ifname[pppd::kIfnameSize] = "ppp0";
char devnam[pppd::kPathSize] = "/dev/ttyS0";
char linkname[pppd::kPathSize] = "";
char remote_number[pppd::kMaxNameLen] = "";
int maxconnect = 0;
int idle_time_limit = 0;
struct pppd_stats link_stats = {};
unsigned int link_connect_time = 0;

lcp_options lcp_wantoptions[1];
ipcp_options ipcp_wantoptions[1];
ipcp_options ipcp_gotoptions[1];
ipcp_options ipcp_hisoptions[1];
ipcp_options ipcp_allowoptions[1];
ipv6cp_options ipv6cp_wantoptions[1];
ipv6cp_options ipv6cp_gotoptions[1];
ipv6cp_options ipv6cp_hisoptions[1];
cbcp_state cbcp[1];

sim_counters sim;

void add_notifier(struct notifier **chain, notify_func func, void *arg) {
    auto *n = new notifier{*chain, func, arg};
    *chain = n;
}

void notify(struct notifier *chain, int value) {
    for (notifier *n = chain; n != nullptr;) {
        notifier *next = n->next;
        n->func(n->arg, value);
        n = next;
    }
}

void free_notifiers(struct notifier *&chain) {
    while (chain != nullptr) {
        notifier *next = chain->next;
        delete chain;
        chain = next;
    }
}

void update_link_stats(int) {
    link_stats = sim.stats_at_down;
    link_connect_time = sim.connect_time_at_down;
    ++sim.update_link_stats_calls;
}

void reopen_log(void) { ++sim.reopen_log_calls; }
