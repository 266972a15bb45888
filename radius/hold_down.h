// SPDX-License-Identifier: BSD-3-Clause
// Failover remembered across processes: every port's daemon runs its own
// transactions, so which RADIUS servers did not answer lately is kept in one
// small state file all of them share. A server marked dead is skipped until
// its hold-down ends; a valid answer clears the mark at once.
//
// The file lives in a directory only root may change. Writers take an
// exclusive flock on a lock file that is never renamed, write a temporary
// file and rename it over the state; readers read without the lock (a rename
// is atomic). A damaged, oversized or foreign file is ignored and replaced.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace radius {

inline constexpr const char *kStateDir = "/var/run/dsppp";
inline constexpr unsigned kMaxHoldDownSeconds = 86400;

// A server as the state knows it: how it is reached, where.
struct server_key {
    std::string transport;  // "udp" or "tls"
    std::string address;
    unsigned port = 0;
    bool operator==(const server_key &) const = default;
};

// A change to record: dead until `until` (seconds of the boot clock), or alive.
struct server_change {
    server_key key;
    bool dead = false;
    int64_t until = 0;
};

// Returns the boot clock in seconds, the time base of the state.
int64_t state_now();

// Returns the servers marked dead at `now` in the state in `dir`; nothing
// (and a syslog line once per process) when the directory cannot be used.
// A mark ending more than `hold_down` seconds after `now` was not made by a
// process of this boot with this setting (planted, or from an earlier boot,
// whose clock restarted at 0) and is ignored.
std::vector<server_key> dead_servers(const std::string &dir, int64_t now, unsigned hold_down);

// Records `changes` in the state in `dir`, dropping marks that ended before
// `now` and those `dead_servers` ignores. Returns false (logged) when the
// state could not be written.
bool record_changes(const std::string &dir, const std::vector<server_change> &changes, int64_t now,
                    unsigned hold_down);

}  // namespace radius
