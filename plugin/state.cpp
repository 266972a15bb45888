// SPDX-License-Identifier: BSD-3-Clause
#include "plugin/state.h"

#include <cstdlib>

pam_handle_t *ds_pamh = nullptr;
bool ds_acct_open = false;
const char *ds_conv_user = nullptr;
const char *ds_conv_password = nullptr;
u_int32_t ds_framed_ip = 0;
char *ds_callback_number = nullptr;
int ds_callback_enabled = 0;
pamutil_string_list *ds_routes_v4 = nullptr;
pamutil_string_list *ds_routes_v6 = nullptr;
pamutil_string_list *ds_class_list = nullptr;
pid_t ds_dyndns_pid = 0;

namespace {
constexpr const char *kPortVariable = "PORT";
}

int ds_get_port() noexcept {
    const char *value = std::getenv(kPortVariable);
    if (value == nullptr) return DS_NO_PORT;
    return std::atoi(value);
}
