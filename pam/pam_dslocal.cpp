// SPDX-License-Identifier: BSD-3-Clause
// pam_dslocal: the device's local user database through getuserinfo().
// PAP: compares USER_PASSWORD. CHAP (any CHAP attribute present): the
// database holds the password, not the response, so it marks
// ATTEMPTED_VX_LOCAL and refuses; the plug-in then verifies the response
// itself through the "ds_no_auth" stack. An empty or malformed response is
// refused without the mark, and no password is ever compared for it.
// Arguments: ms-dns=IPV4 (at most two) puts the DNS servers to offer the
// peer after an accepted PAP login.
#include <security/pam_appl.h>
#include <security/pam_modules.h>
#include <syslog.h>

#include <arpa/inet.h>

#include <array>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "base/log_text.h"
#include "base/secure_equals.h"
#include "pam/request.h"
#include "base/secret.h"
#include "platform/device.h"
#include "platform/pam_env.h"

namespace {

// The database holds the password, not the response: mark that it was
// consulted and refuse, so the plug-in checks the response itself.
int refuse_chap(pam_handle_t *pamh, const pam_request::request &r) {
    if (!r.chap_response || r.chap_response->empty()) {
        syslog(LOG_ERR, "pam_dslocal: malformed or empty CHAP response for %s; refused", base::escaped(r.user).c_str());
        return PAM_AUTH_ERR;
    }
    pam_env::put(pamh, pam_env::kAttemptedLocal, "");
    return PAM_AUTH_ERR;
}

constexpr std::string_view kMsDnsArgument = "ms-dns=";

// Puts the DNS servers named by the module's "ms-dns=ADDRESS" arguments (the
// first, then the second), for the plug-in to offer the peer.
void put_dns_servers(pam_handle_t *pamh, int argc, const char **argv) {
    std::size_t next = 0;
    for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
        std::string_view arg(argv[i]);
        if (arg.rfind(kMsDnsArgument, 0) != 0) continue;
        in_addr addr{};
        std::string text(arg.substr(kMsDnsArgument.size()));
        if (next >= std::size(pam_env::kMsDnsServers) || inet_pton(AF_INET, text.c_str(), &addr) != 1) {
            syslog(LOG_ERR, "pam_dslocal: argument \"%s\" is not one of at most two ms-dns=IPV4; ignored",
                   base::escaped(arg).c_str());
            continue;
        }
        pam_env::put(pamh, pam_env::kMsDnsServers[next++], pam_env::encode_address(addr.s_addr));
    }
}

}  // namespace

#define DS_PAM_ENTRY __attribute__((visibility("default")))

extern "C" {

DS_PAM_ENTRY int pam_sm_authenticate(pam_handle_t *pamh, int, int argc, const char **argv) {
    try {
        auto request = pam_request::read(pamh);
        const std::string &user = request.user;
        std::array<unsigned char, device::kUserinfoSize> record{};
        if (user.empty() || getuserinfo(user.c_str(), record.data()) != 0) return PAM_USER_UNKNOWN;
        const char *field = reinterpret_cast<const char *>(record.data() + device::kUserinfoPassword);
        secret::string stored(field, strnlen(field, device::kUserinfoSize - device::kUserinfoPassword));
        secret::wipe(record.data(), record.size());
        // A request with any CHAP attribute is CHAP: no password is compared.
        if (request.chap) return refuse_chap(pamh, request);
        if (!request.password || !base::secure_equals(*request.password, stored)) return PAM_AUTH_ERR;
        pam_env::put(pamh, pam_env::kAcctAuthentic, pam_env::encode_decimal(pam_env::kAuthenticLocal));
        put_dns_servers(pamh, argc, argv);
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
