// SPDX-License-Identifier: BSD-3-Clause
// pam_dslocal: the device's local user database through getuserinfo().
// PAP: compares USER_PASSWORD. CHAP (any CHAP attribute present): the
// database holds the password, not the response, so it marks
// ATTEMPTED_VX_LOCAL and refuses; the plug-in then verifies the response
// itself through the "ds_no_auth" stack. An empty or malformed response is
// refused without the mark, and no password is ever compared for it.
#include <security/pam_appl.h>
#include <security/pam_modules.h>
#include <syslog.h>

#include <array>
#include <cstring>
#include <string>

#include "auth/secure_equals.h"
#include "pam/env.h"
#include "pam/secret.h"
#include "platform/device.h"

namespace {

constexpr int kAuthenticLocal = 2;
constexpr const char *kChapKeys[] = {"CHAP_ALGORITHM", "CHAP_ID", "CHAP_CHALLENGE_HEX",
                                     "CHAP_RESPONSE_HEX"};

std::string user_of(pam_handle_t *pamh) {
    if (auto name = pamenv::get(pamh, "USER_NAME")) return *name;
    const char *user = nullptr;
    if (pam_get_user(pamh, &user, nullptr) == PAM_SUCCESS && user) return user;
    return {};
}

// A request with any CHAP attribute is CHAP: its password is never compared.
bool is_chap(pam_handle_t *pamh) {
    for (const char *key : kChapKeys)
        if (pam_getenv(pamh, key) != nullptr) return true;
    return false;
}

// The database holds the password, not the response: mark that it was
// consulted and refuse, so the plug-in checks the response itself.
int refuse_chap(pam_handle_t *pamh, const std::string &user) {
    auto response = pamenv::from_hex(pamenv::get(pamh, "CHAP_RESPONSE_HEX").value_or(""));
    if (!response || response->empty()) {
        syslog(LOG_ERR, "pam_dslocal: malformed or empty CHAP response for %s; refused", user.c_str());
        return PAM_AUTH_ERR;
    }
    pamenv::put(pamh, "ATTEMPTED_VX_LOCAL", "");
    return PAM_AUTH_ERR;
}

}  // namespace

#define DS_PAM_ENTRY __attribute__((visibility("default")))

extern "C" {

DS_PAM_ENTRY int pam_sm_authenticate(pam_handle_t *pamh, int, int, const char **) {
    try {
        std::string user = user_of(pamh);
        std::array<unsigned char, DS_USERINFO_SIZE> record{};
        if (user.empty() || getuserinfo(user.c_str(), record.data()) != 0) return PAM_USER_UNKNOWN;
        const char *field = reinterpret_cast<const char *>(record.data() + DS_USERINFO_PASSWORD);
        secret::string stored(field, strnlen(field, DS_USERINFO_SIZE - DS_USERINFO_PASSWORD));
        secret::wipe(record.data(), record.size());
        if (is_chap(pamh)) return refuse_chap(pamh, user);
        const char *password = pam_getenv(pamh, "USER_PASSWORD");
        if (password == nullptr || !ds_secure_equals(password, stored)) return PAM_AUTH_ERR;
        pamenv::put(pamh, "ACCT_AUTHENTICD", std::to_string(kAuthenticLocal));
        return PAM_SUCCESS;
    } catch (...) {
        return PAM_BUF_ERR;
    }
}

DS_PAM_ENTRY int pam_sm_setcred(pam_handle_t *, int, int, const char **) { return PAM_SUCCESS; }
DS_PAM_ENTRY int pam_sm_acct_mgmt(pam_handle_t *, int, int, const char **) { return PAM_SUCCESS; }
DS_PAM_ENTRY int pam_sm_open_session(pam_handle_t *, int, int, const char **) { return PAM_SUCCESS; }
DS_PAM_ENTRY int pam_sm_close_session(pam_handle_t *, int, int, const char **) { return PAM_SUCCESS; }
}
