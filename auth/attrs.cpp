// SPDX-License-Identifier: BSD-3-Clause
#include "auth/attrs.h"

#include "base/log_text.h"
#include "base/text_rules.h"
#include "platform/pam_env.h"
#include "platform/pppd.h"

#include <syslog.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

int ds_pam_putenv_int(pam_handle_t *pamh, const char *name, int value) noexcept {
    std::array<char, kAttrIntBuffer> text{};
    int n = std::snprintf(text.data(), text.size(), "%s=%d", name, value);
    if (n < 0 || static_cast<std::size_t>(n) >= text.size()) return PAM_BUF_ERR;
    return pam_putenv(pamh, text.data());
}

int ds_pam_putenv_str(pam_handle_t *pamh, const char *name, const char *value) noexcept {
    std::array<char, kAttrTextBuffer> text{};
    int n = std::snprintf(text.data(), text.size(), "%s=%s", name, value ? value : "");
    if (n < 0 || static_cast<std::size_t>(n) >= text.size()) return PAM_BUF_ERR;
    return pam_putenv(pamh, text.data());
}

namespace {

// Puts the caller's number, when the daemon knows one that can be sent as it is.
void put_calling_station(pam_handle_t *pamh) {
    std::string_view number(remote_number, strnlen(remote_number, sizeof remote_number));
    if (number.empty()) return;
    if (base::has_control_character(number)) {
        syslog(LOG_WARNING, "ds_set_user_attrs(): the caller's number \"%s\" holds a control character; "
               "Calling-Station-Id not sent", base::escaped(number).c_str());
        return;
    }
    if (number.size() > pam_env::kMaxText) {
        syslog(LOG_WARNING, "ds_set_user_attrs(): the caller's number \"%s\" is longer than %zu bytes; "
               "Calling-Station-Id not sent", base::escaped(number).c_str(), pam_env::kMaxText);
        return;
    }
    ds_pam_putenv_str(pamh, pam_env::kCallingStationId, remote_number);
}

}  // namespace

int ds_set_user_attrs(pam_handle_t *pamh, const char *user, int port) noexcept {
    put_calling_station(pamh);
    ds_pam_putenv_str(pamh, pam_env::kUserName, user);
    ds_pam_putenv_int(pamh, pam_env::kServiceType, kServiceTypeFramed);
    ds_pam_putenv_int(pamh, pam_env::kFramedProtocol, kFramedProtocolPpp);
    ds_pam_putenv_int(pamh, pam_env::kNasPort, port < INT_MAX ? port + 1 : INT_MAX);
    return ds_pam_putenv_int(pamh, pam_env::kNasPortType,
                             port < 0 ? kNasPortTypeVirtual : kNasPortTypeAsync);
}

int ds_set_auth_attrs(pam_handle_t *pamh, const char *user, const char *password,
                      int port) noexcept {
    ds_set_user_attrs(pamh, user, port);
    if (password == nullptr) return 1;
    return ds_pam_putenv_str(pamh, pam_env::kUserPassword, password) == PAM_SUCCESS ? 1 : 0;
}
