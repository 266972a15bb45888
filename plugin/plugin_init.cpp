// SPDX-License-Identifier: BSD-3-Clause
#include <cstdio>

#include "acct/registry.h"
#include "plugin/call_defaults.h"
#include "plugin/handlers.h"
#include "plugin/paths.h"
#include "plugin/state.h"

char pppd_version[] = "2.4.2";

namespace {

// Returns true when the daemon's own secrets file at `path` can be opened.
bool secrets_file_readable(const char *path) {
    std::FILE *f = std::fopen(path, "r");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

}  // namespace

int ds_have_secrets(void) noexcept { return 1; }

// A readable secrets file means the daemon verifies that protocol itself.
void plugin_init(void) noexcept {
    pap_check_hook = ds_have_secrets;
    if (!secrets_file_readable(paths::kPapSecrets)) pap_auth_hook = ds_pap_auth;
    chap_check_hook = ds_have_secrets;
    if (!secrets_file_readable(paths::kChapSecrets)) chap_verify_hook = ds_chap_auth;
    ip_choose_hook = ds_ip_choose;
    allowed_address_hook = ds_allowed_address;
    cbcp_init_hook = ds_cbcp_init;
    ip_up_hook = ds_ip_up;
    add_notifier(&ip_up_notifier, ds_acct_start, nullptr);
    add_notifier(&ip_down_notifier, ds_acct_stop, nullptr);
    add_notifier(&exitnotify, ds_unregister_at_exit, nullptr);
    add_notifier(&phasechange, ds_phase_changed, nullptr);
    ipv6_up_hook = ds_ipv6_up;
}
