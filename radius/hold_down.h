// SPDX-License-Identifier: BSD-3-Clause
// Failover remembered across processes: every port's daemon runs its own
// transactions, so which RADIUS servers did not answer lately is kept in one
// small state file all of them share. A server marked dead is skipped until
// its hold-down ends (or, probed with Status-Server, until it answers); a
// valid answer clears the mark at once. The file also keeps when each server
// was last probed, so that all ports together probe it once per interval.
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

// How marks are read. One ending more than `hold_down` seconds ahead was not
// made by a process of this boot with this setting (planted, or from an
// earlier boot, whose clock restarted at 0) and is ignored. The mark of a
// `sticky` server does not end with its hold-down: it lasts until the server
// answers.
struct mark_rules {
    unsigned hold_down = 0;
    std::vector<server_key> sticky;
};

// Returns the boot clock in seconds, the time base of the state.
int64_t state_now();

// Returns the servers marked dead at `now` in the state in `dir`; nothing
// (and a syslog line once per process) when the directory cannot be used.
std::vector<server_key> dead_servers(const std::string &dir, int64_t now, const mark_rules &rules);

// Records `changes` in the state in `dir`, dropping marks that are no longer
// in force and those `dead_servers` ignores (and the probe times of servers
// no longer marked). Returns false (logged) when the state could not be
// written.
bool record_changes(const std::string &dir, const std::vector<server_change> &changes, int64_t now,
                    const mark_rules &rules);

// Returns whether this process is to probe `key` now: true, with the probe
// recorded, when no process of the device probed it in the last `interval`
// seconds. A recorded time ahead of `now` is not believed. False (logged)
// when the state is busy or cannot be written: another process is at it.
bool claim_probe(const std::string &dir, const server_key &key, int64_t now, unsigned interval,
                 const mark_rules &rules);

}  // namespace radius
