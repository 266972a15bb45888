// SPDX-License-Identifier: BSD-3-Clause
// PAP: the port's local user decides when one is configured, PAM otherwise.
#include <syslog.h>

#include "base/log_text.h"
#include "auth/attrs.h"
#include "auth/common.h"
#include "plugin/call_defaults.h"
#include "plugin/handlers.h"
#include "plugin/state.h"

namespace {

void set_reply(char **msgp, const char *text) {
    if (msgp != nullptr) *msgp = const_cast<char *>(text);
}

void reply_into(void *msgp, const char *text) { set_reply(static_cast<char **>(msgp), text); }

}  // namespace

int ds_pap_auth(char *user_arg, char *passwd_arg, char **msgp, struct wordlist **,
                struct wordlist **) noexcept {
    const char *user = user_arg ? user_arg : "";
    const char *passwd = passwd_arg ? passwd_arg : "";
    ds_keep_daemon_values();
    int port = ds_get_port();

    if (port != kNoPort && ds_port_record_exists(port, "ds_pap_auth")) {
        ds_local_user local;
        switch (ds_read_local_user(port, local)) {
        case ds_local_user_status::read_failed:
            syslog(LOG_ERR, "%s(): cannot read PPP settings of port %d, refusing %s",
                   "ds_pap_auth", port, base::escaped(user).c_str());
            ds_send_auth_alert(false, user);
            return 0;
        case ds_local_user_status::configured: {
            bool name_ok = base::secure_equals(local.name.data(), user);
            bool password_ok = base::secure_equals(local.password.data(), passwd);
            bool accepted = name_ok && password_ok;
            ds_send_auth_alert(accepted, user);
            return accepted ? 1 : 0;
        }
        case ds_local_user_status::none:
            break;
        }
    }

    pam_handle_t *scratch = nullptr;
    pam_handle_t **pamh = ds_auth_slot(&scratch);
    int result = ds_auth_pam_start(kPamService, user, &ds_pap_conv_record, pamh);
    if (result != PAM_SUCCESS) {
        set_reply(msgp, pam_strerror(*pamh, result));
        reopen_log();
        return 0;
    }
    ds_conv_user = user;
    ds_conv_password = passwd;
    pam_set_item(*pamh, PAM_TTY, devnam);
    ds_set_auth_attrs(*pamh, user, passwd, port);

    result = pam_authenticate(*pamh, PAM_SILENT);
    if (result != PAM_SUCCESS) {
        ds_send_auth_alert(false, user);
        ds_auth_release_scratch(pamh, result);
        return 0;
    }
    ds_send_auth_alert(true, user);
    set_reply(msgp, pam_strerror(*pamh, PAM_SUCCESS));
    reopen_log();
    ds_conv_password = nullptr;
    ds_conv_user = nullptr;

    return ds_account_check(pamh, "ds_pap_auth", user, reply_into, msgp);
}
