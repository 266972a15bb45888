// SPDX-License-Identifier: BSD-3-Clause
// Every call starts clean. An authorization changes the daemon's options
// (MRU, VJ, time-outs, the interface id, the DNS servers offered) and the
// plug-in's own grant (peer address, callback, routes, Class); with
// `persist` the next caller would inherit them. So the daemon's own values
// are kept at the first authentication of the process (option parsing is
// over by then) and put back when a call ends: at the next link's
// SERIALCONN, after everything the ending call still needed (its Stop with
// its Class, the removal of its routes at IP-down) and before the daemon
// builds that link's first LCP request. A CHAP re-challenge is no new call.
#pragma once

// Whether the daemon's values are kept (from the first authentication on).
extern bool ds_daemon_values_kept;

// Keeps the daemon's values, once per process.
void ds_keep_daemon_values() noexcept;

// Puts back the kept values (nothing before they were kept) and drops the
// plug-in's grant.
void ds_restore_daemon_values() noexcept;

// The `phasechange` notifier: a new link is a new call.
void ds_phase_changed(void *arg, int phase) noexcept;
