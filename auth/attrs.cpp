// SPDX-License-Identifier: BSD-3-Clause
#include "auth/attrs.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

int ds_parse_int(const char *text) noexcept {
    if (text == nullptr) return 0;
    long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

int ds_pam_putenv_int(pam_handle_t *pamh, const char *name, int value) noexcept {
    std::array<char, DS_ATTR_INT_BUFFER> text{};
    int n = std::snprintf(text.data(), text.size(), "%s=%d", name, value);
    if (n < 0 || static_cast<std::size_t>(n) >= text.size()) return PAM_BUF_ERR;
    return pam_putenv(pamh, text.data());
}

int ds_pam_putenv_str(pam_handle_t *pamh, const char *name, const char *value) noexcept {
    std::array<char, DS_ATTR_TEXT_BUFFER> text{};
    int n = std::snprintf(text.data(), text.size(), "%s=%s", name, value ? value : "");
    if (n < 0 || static_cast<std::size_t>(n) >= text.size()) return PAM_BUF_ERR;
    return pam_putenv(pamh, text.data());
}

int ds_set_user_attrs(pam_handle_t *pamh, const char *user, int port) noexcept {
    ds_pam_putenv_str(pamh, "USER_NAME", user);
    ds_pam_putenv_int(pamh, "SERVICE_TYPE", DS_SERVICE_TYPE_FRAMED);
    ds_pam_putenv_int(pamh, "FRAMED_PROTOCOL", DS_FRAMED_PROTOCOL_PPP);
    ds_pam_putenv_int(pamh, "NAS_PORT", port < INT_MAX ? port + 1 : INT_MAX);
    return ds_pam_putenv_int(pamh, "NAS_PORT_TYPE",
                             port < 0 ? DS_NAS_PORT_TYPE_VIRTUAL : DS_NAS_PORT_TYPE_ASYNC);
}

int ds_set_auth_attrs(pam_handle_t *pamh, const char *user, const char *password,
                      int port) noexcept {
    ds_set_user_attrs(pamh, user, port);
    if (password == nullptr) return 1;
    return ds_pam_putenv_str(pamh, "USER_PASSWORD", password) == PAM_SUCCESS ? 1 : 0;
}
