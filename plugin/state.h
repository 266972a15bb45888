// SPDX-License-Identifier: BSD-3-Clause
// Process-wide state through which the handlers of the link phases cooperate.
// Everything runs on the daemon's single thread; nothing here is locked.
#pragma once

#include <security/pam_appl.h>
#include <sys/types.h>

#include "platform/device.h"

// Current PAM transaction: authentication until IP-up, accounting until IP-down.
extern pam_handle_t *ds_pamh;
// What ds_pamh holds. Accounting starts only from an accepted transaction: a
// refused one left behind must never be charged for a later link.
enum class ds_transaction { none, unaccepted, accepted, accounting };
extern ds_transaction ds_pamh_holds;
// Borrowed answers for the conversation functions.
extern const char *ds_conv_user;
extern const char *ds_conv_password;
// Authorization granted by the last successful authentication.
extern u_int32_t ds_framed_ip;  // network byte order, 0 = none
extern char *ds_callback_number;
extern int ds_callback_enabled;
extern pamutil_string_list *ds_routes_v4;
extern pamutil_string_list *ds_routes_v6;
extern pamutil_string_list *ds_class_list;
// The running dynamic-DNS client, 0 = none, and a pidfd for it (-1 = none):
// the daemon may reap the client long before IP-down, and its number then
// belongs to whatever process takes it next; the pidfd never does.
extern pid_t ds_dyndns_pid;
extern int ds_dyndns_pidfd;
// Where this daemon registers its session: session_registry::kDir (a test
// points it elsewhere).
extern const char *ds_registry_dir;

inline constexpr int kNoPort = -1;

// Returns the 0-based port index from "PORT", or kNoPort when unset.
int ds_get_port() noexcept;

// Returns whether the store holds a record for `port`; logs (naming `fn`)
// when it does not, and then nothing of the port's records may be read.
bool ds_port_record_exists(int port, const char *fn) noexcept;
