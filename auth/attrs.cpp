// SPDX-License-Identifier: BSD-3-Clause
#include "auth/attrs.h"

#include "platform/pam_env.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

int ds_parse_int(const char *text) noexcept {
    if (text == nullptr) return 0;
    long long value = std::strtoll(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

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

int ds_set_user_attrs(pam_handle_t *pamh, const char *user, int port) noexcept {
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
