// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "platform/pppd.h"

// What the simulated daemon counts and hands out at IP-down.
struct sim_counters {
    pppd_stats stats_at_down{};
    unsigned connect_time_at_down = 0;
    int reopen_log_calls = 0;
    int update_link_stats_calls = 0;
};
extern sim_counters sim;

// Runs every notifier of `chain` with `value`, as the daemon does.
void notify(struct notifier *chain, int value);
void free_notifiers(struct notifier *&chain);
