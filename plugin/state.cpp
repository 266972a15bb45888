// SPDX-License-Identifier: BSD-3-Clause
#include "plugin/state.h"

#include <syslog.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/pam_env.h"
#include "platform/session_registry.h"

pam_handle_t *ds_pamh = nullptr;
ds_transaction ds_pamh_holds = ds_transaction::none;
const char *ds_conv_user = nullptr;
const char *ds_conv_password = nullptr;
u_int32_t ds_framed_ip = 0;
char *ds_callback_number = nullptr;
int ds_callback_enabled = 0;
pamutil_string_list *ds_routes_v4 = nullptr;
pamutil_string_list *ds_routes_v6 = nullptr;
pamutil_string_list *ds_class_list = nullptr;
pid_t ds_dyndns_pid = 0;
int ds_dyndns_pidfd = -1;
const char *ds_registry_dir = session_registry::kDir;

namespace {
constexpr const char *kPortVariable = "PORT";
}

int ds_get_port() noexcept {
    const char *value = std::getenv(kPortVariable);
    if (value == nullptr) return kNoPort;
    // As atoi reads it (leading digits, no digits is 0), but clamped.
    return pam_env::decode_leading_int(value);
}

bool ds_port_record_exists(int port, const char *fn) noexcept {
    if (store::has_port_record(port)) return true;
    syslog(LOG_WARNING, "%s(): port %d has no record in the store (ports 0 to %d); none of it is used", fn, port,
           store::kPortCount - 1);
    return false;
}
