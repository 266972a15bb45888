// SPDX-License-Identifier: BSD-3-Clause
// Process-wide state through which the handlers of the link phases cooperate.
// Everything runs on the daemon's single thread; nothing here is locked.
#pragma once

#include <security/pam_appl.h>
#include <sys/types.h>

#include "platform/device.h"

// Current PAM transaction: authentication until IP-up, accounting until IP-down.
extern pam_handle_t *ds_pamh;
// True while ds_pamh holds the accounting session opened at IP-up.
extern bool ds_acct_open;
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
// The running dynamic-DNS client, 0 = none.
extern pid_t ds_dyndns_pid;

inline constexpr int DS_NO_PORT = -1;

// Returns the 0-based port index from "PORT", or DS_NO_PORT when unset.
int ds_get_port() noexcept;
