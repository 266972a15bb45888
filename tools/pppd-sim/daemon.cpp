// SPDX-License-Identifier: BSD-3-Clause
// The daemon's side of the plug-in interface: every symbol a plug-in for
// pppd 2.4.2 (device build) may use.
#include "tools/pppd-sim/daemon.h"

#include <algorithm>
#include <chrono>

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
struct notifier *exitnotify = nullptr;

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

volatile int status = pppd::kExitOk;
fsm lcp_fsm[1];

sim_counters sim;

namespace {

struct pending_timer {
    long long due;
    unsigned long long order;
    void (*func)(void *);
    void *arg;
};
std::vector<pending_timer> timers;
long long clock_now = 0;
unsigned long long timers_set = 0;

}  // namespace

void timeout(void (*func)(void *), void *arg, int secs, int usecs) {
    // The daemon fires a timer no earlier than asked: part of a second counts whole.
    long long due = clock_now + secs + (usecs > 0 ? 1 : 0);
    timers.push_back({due, timers_set++, func, arg});
}

void untimeout(void (*func)(void *), void *arg) {
    for (auto it = timers.begin(); it != timers.end(); ++it)
        if (it->func == func && it->arg == arg) {
            timers.erase(it);
            return;
        }
}

long long sim_clock() { return clock_now; }

void sim_advance_clock(long long seconds) {
    long long until = clock_now + seconds;
    for (;;) {
        auto next = timers.end();
        for (auto it = timers.begin(); it != timers.end(); ++it)
            if (it->due <= until &&
                (next == timers.end() || it->due < next->due || (it->due == next->due && it->order < next->order)))
                next = it;
        if (next == timers.end()) break;
        pending_timer fired = *next;
        timers.erase(next);
        clock_now = fired.due;
        auto started = std::chrono::steady_clock::now();
        fired.func(fired.arg);
        auto held = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
        sim.longest_timer_us = std::max<long long>(sim.longest_timer_us, held.count());
        ++sim.timers_fired;
    }
    clock_now = until;
}

void sim_reset_clock() {
    timers.clear();
    clock_now = 0;
}

std::size_t sim_pending_timers() { return timers.size(); }

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
    if (!sim.steps.empty()) {
        long long since_up = clock_now - sim.up_since;
        link_stats.bytes_in = link_stats.bytes_out = 0;
        for (const counter_step &step : sim.steps)
            if (step.at <= since_up) {
                link_stats.bytes_in = step.bytes_in;
                link_stats.bytes_out = step.bytes_out;
            }
        link_connect_time = static_cast<unsigned>(since_up);
    }
    ++sim.update_link_stats_calls;
}

void reopen_log(void) { ++sim.reopen_log_calls; }
