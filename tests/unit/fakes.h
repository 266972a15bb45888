// SPDX-License-Identifier: BSD-3-Clause
// Recording fakes of the daemon and the device library for unit tests, and a
// real Linux-PAM environment (private stacks, the scriptable test module).
#pragma once

#include <array>
#include <map>
#include <set>
#include <string>
#include <vector>
#include <syslog.h>

#include "platform/device.h"
#include "platform/pppd.h"
#include "tests/unit/log_capture.h"
#include "tools/pppd-sim/daemon.h"

struct fake_device {
    std::vector<unsigned char> store = std::vector<unsigned char>(store::kImageSize, 0);
    std::set<int> failing_offsets;   // reprom at these offsets returns -1
    std::vector<int> reprom_offsets;  // every offset read, in order
    std::vector<std::pair<int, std::string>> alerts;
    std::map<std::string, std::string> users;  // local user database
    int ssl_result = 0;
    std::vector<std::string> calls;  // route, port-service and list calls, as text
    int semaphore_id = 7, wait_result = 0, releases = 0;
};


extern fake_device dev;
// The daemon is pppd-sim's own; its counters and IP-down figures live here.
extern sim_counters &daemon_fake;
extern int live_pam_handles;  // pam_start minus pam_end, as the plug-in calls them
extern int pam_start_failure;  // when non-zero, the next pam_start fails with it

// Resets fakes, the daemon's variables and the plug-in's shared state.
void reset_all();

// Writes `text` at `offset` of the fake store.
void put_store(int offset, const std::string &text);
void put_store_byte(int offset, unsigned char value);

// The scriptable PAM module: script lines "<section>.<key> <value>".
void pam_script(const std::vector<std::string> &lines);
struct pam_event {
    std::string call, id, section;
    int rc = 0;
    std::map<std::string, std::string> env;
    std::vector<std::string> fields;
};
// Returns every event the test module recorded since the last pam_script().
std::vector<pam_event> pam_events();
// Returns transactions begun and not yet ended, as the test module saw them.
int pam_module_live_transactions();
// Starts a transaction on the test stacks (for tests of the put functions).
pam_handle_t *test_pam_start(const char *service, const char *user);
