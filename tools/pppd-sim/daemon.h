// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "platform/pppd.h"

#include <vector>

// Counters the link shows from `at` seconds after IP-up on.
struct counter_step {
    long long at = 0;
    unsigned bytes_in = 0, bytes_out = 0;
};

// What the simulated daemon counts and hands out at IP-down.
struct sim_counters {
    pppd_stats stats_at_down{};
    unsigned connect_time_at_down = 0;
    int reopen_log_calls = 0;
    int update_link_stats_calls = 0;
    // With steps, update_link_stats reports the step in force on the virtual
    // clock (and the connect time from IP-up); without, stats_at_down.
    std::vector<counter_step> steps;
    long long up_since = 0;
    long long timers_fired = 0;
    long long longest_timer_us = 0;  // the longest a timer held the loop (wall clock)
};
extern sim_counters sim;

// The daemon's timers on a virtual clock: nothing sleeps. Returns the clock.
long long sim_clock();
// Lets `seconds` pass, firing every timer that falls due, in order (a timer
// set by a timer fires too when its time comes within the span).
void sim_advance_clock(long long seconds);
// Drops every pending timer and sets the clock back to 0.
void sim_reset_clock();
// Returns how many timers are pending.
std::size_t sim_pending_timers();

// Runs every notifier of `chain` with `value`, as the daemon does.
void notify(struct notifier *chain, int value);
void free_notifiers(struct notifier *&chain);
