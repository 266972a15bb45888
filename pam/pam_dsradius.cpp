// SPDX-License-Identifier: BSD-3-Clause
// pam_dsradius: RADIUS authentication (RFC 2865) and accounting (RFC 2866)
// behind the PAM interface, reading the request attributes the plug-in puts
// into the environment and leaving the authorization there.
// Module arguments: conf=PATH (default /etc/dsdevice/pam_dsradius.conf).
#include <security/pam_appl.h>
#include <security/pam_ext.h>
#include <security/pam_modules.h>
#include <sys/random.h>
#include <syslog.h>

#include <chrono>
#include <cstring>
#include <string>

#include "pam/env.h"
#include "pam/radius/attrs.h"
#include "pam/radius/client.h"

namespace {

constexpr const char *kSessionKey = "dsradius-acct-session";
constexpr std::size_t kSessionIdBytes = 16;
constexpr int kChapMd5 = 5;
constexpr const char *kPasswordPrompt = "Password: ";

std::optional<radius::config> configure(int argc, const char **argv) {
    std::string path = radius::kDefaultConfig;
    for (int i = 0; i < argc; ++i)
        if (std::strncmp(argv[i], "conf=", 5) == 0) path = argv[i] + 5;
    std::string error;
    auto c = radius::load_config(path, error);
    if (!c) syslog(LOG_ERR, "pam_dsradius: %s", error.c_str());
    return c;
}

std::string user_of(pam_handle_t *pamh) {
    if (auto name = pamenv::get(pamh, "USER_NAME")) return *name;
    const char *user = nullptr;
    if (pam_get_user(pamh, &user, nullptr) == PAM_SUCCESS && user) return user;
    return {};
}

radius::authenticator random_authenticator() {
    radius::authenticator a{};
    if (getrandom(a.data(), a.size(), 0) != static_cast<ssize_t>(a.size()))
        a.fill(static_cast<uint8_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    return a;
}

// How the request proves the user: PAP password or CHAP response.
struct credential {
    bool chap = false;
    std::string password;                 // PAP
    std::string chap_password, challenge;  // CHAP: id byte + response, challenge
};

// Returns the credential, or a PAM error code when there is none to send.
std::optional<credential> credential_of(pam_handle_t *pamh, const std::string &user, int &error) {
    credential c;
    auto response = pamenv::get(pamh, "CHAP_RESPONSE_HEX");
    if (response && !response->empty()) {
        auto algorithm = radius::counter(pamh, "CHAP_ALGORITHM");
        if (!algorithm || *algorithm != kChapMd5) {
            syslog(LOG_ERR, "pam_dsradius: CHAP algorithm %s for %s is not supported (only MD5, 5)",
                   pamenv::get(pamh, "CHAP_ALGORITHM").value_or("(none)").c_str(), user.c_str());
            error = PAM_AUTH_ERR;
            return std::nullopt;
        }
        auto id = radius::counter(pamh, "CHAP_ID");
        auto bytes = pamenv::from_hex(*response);
        auto challenge = pamenv::from_hex(pamenv::get(pamh, "CHAP_CHALLENGE_HEX").value_or(""));
        if (!id || !bytes || bytes->size() != radius::kChapResponseSize || !challenge ||
            challenge->empty() || challenge->size() > radius::kMaxAttrValue) {
            syslog(LOG_ERR, "pam_dsradius: malformed CHAP attributes for %s", user.c_str());
            error = PAM_AUTH_ERR;
            return std::nullopt;
        }
        c.chap = true;
        c.chap_password = std::string(1, static_cast<char>(*id & 0xff)) + *bytes;
        c.challenge = *challenge;
        return c;
    }
    if (auto password = pamenv::get(pamh, "USER_PASSWORD")) {
        c.password = *password;
        return c;
    }
    // Another application: ask for the password.
    const char *answer = nullptr;
    int rc = pam_prompt(pamh, PAM_PROMPT_ECHO_OFF, const_cast<char **>(&answer), "%s", kPasswordPrompt);
    if (rc != PAM_SUCCESS || answer == nullptr) {
        error = rc == PAM_SUCCESS ? PAM_AUTH_ERR : rc;
        return std::nullopt;
    }
    c.password = answer;
    std::memset(const_cast<char *>(answer), 0, std::strlen(answer));
    std::free(const_cast<char *>(answer));
    return c;
}

int authenticate(pam_handle_t *pamh, const radius::config &cfg) {
    std::string user = user_of(pamh);
    if (user.empty()) return PAM_USER_UNKNOWN;
    int error = PAM_AUTH_ERR;
    auto cred = credential_of(pamh, user, error);
    if (!cred) return error;
    if (!cred->chap && cred->password.size() > radius::kMaxPassword) {
        syslog(LOG_ERR, "pam_dsradius: password of %s longer than %zu bytes", user.c_str(), radius::kMaxPassword);
        return PAM_AUTH_ERR;
    }
    auto build = [&](const radius::server &s, uint8_t id, unsigned, radius::authenticator &auth)
        -> std::optional<std::vector<uint8_t>> {
        radius::packet p;
        p.code = radius::access_request;
        p.identifier = id;
        p.auth = auth = random_authenticator();
        radius::add_user_attributes(pamh, cfg, user, p);
        if (cred->chap) {
            p.add(radius::chap_password, cred->chap_password);
            p.add(radius::chap_challenge, cred->challenge);
        } else {
            auto hidden = radius::hide_password(cred->password, s.secret, p.auth);
            if (!hidden) return std::nullopt;
            p.add(radius::user_password, *hidden);
        }
        return radius::encode_access_request(p, s.secret);
    };
    auto start = std::chrono::steady_clock::now();
    auto reply = radius::exchange(cfg, radius::service::authentication, build);
    cred->password.assign(cred->password.size(), '\0');
    if (!reply) {
        auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        syslog(LOG_ERR, "pam_dsradius: no RADIUS server answered for %s (gave up after %lld ms)",
               user.c_str(), static_cast<long long>(waited.count()));
        return PAM_AUTHINFO_UNAVAIL;
    }
    if (reply->code != radius::access_accept) {
        syslog(LOG_NOTICE, "pam_dsradius: %s refused by the RADIUS server", user.c_str());
        return PAM_AUTH_ERR;
    }
    radius::apply_accept(pamh, *reply);
    return PAM_SUCCESS;
}

void free_session(pam_handle_t *, void *data, int) { delete static_cast<std::string *>(data); }

std::string new_session_id() {
    unsigned char bytes[kSessionIdBytes] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        std::memset(bytes, 0, sizeof bytes);
    return pamenv::to_hex(std::string_view(reinterpret_cast<char *>(bytes), sizeof bytes));
}

int account(pam_handle_t *pamh, const radius::config &cfg, uint32_t status, const std::string &session_id) {
    std::string user = user_of(pamh);
    auto build = [&](const radius::server &s, uint8_t id, unsigned delay, radius::authenticator &auth)
        -> std::optional<std::vector<uint8_t>> {
        radius::packet p;
        p.code = radius::accounting_request;
        p.identifier = id;
        radius::add_user_attributes(pamh, cfg, user, p);
        p.add_u32(radius::acct_status_type, status);
        p.add(radius::acct_session_id, session_id);
        if (auto authentic = radius::counter(pamh, "ACCT_AUTHENTICD")) p.add_u32(radius::acct_authentic, *authentic);
        radius::add_classes(pamh, p);
        if (status == radius::kAcctStop) {
            struct numeric { const char *key; uint8_t type; };
            for (numeric n : {numeric{"ACCT_SESSION_TIME", radius::acct_session_time},
                              numeric{"ACCT_INPUT_OCTETS", radius::acct_input_octets},
                              numeric{"ACCT_OUTPUT_OCTETS", radius::acct_output_octets},
                              numeric{"ACCT_INPUT_PACKETS", radius::acct_input_packets},
                              numeric{"ACCT_OUTPUT_PACKETS", radius::acct_output_packets}})
                if (auto v = radius::counter(pamh, n.key)) p.add_u32(n.type, *v);
        }
        p.add_u32(radius::acct_delay_time, delay);
        auto bytes = radius::encode_accounting_request(p, s.secret);
        auth = p.auth;
        return bytes;
    };
    if (radius::exchange(cfg, radius::service::accounting, build)) return PAM_SUCCESS;
    syslog(LOG_ERR, "pam_dsradius: accounting %s for %s (session %s) not acknowledged by any server",
           status == radius::kAcctStart ? "start" : "stop", user.c_str(), session_id.c_str());
    return PAM_SESSION_ERR;
}

}  // namespace

#define DS_PAM_ENTRY __attribute__((visibility("default")))

extern "C" {

DS_PAM_ENTRY int pam_sm_authenticate(pam_handle_t *pamh, int, int argc, const char **argv) {
    try {
        auto cfg = configure(argc, argv);
        return cfg ? authenticate(pamh, *cfg) : PAM_AUTHINFO_UNAVAIL;
    } catch (...) {
        return PAM_BUF_ERR;
    }
}

DS_PAM_ENTRY int pam_sm_setcred(pam_handle_t *, int, int, const char **) { return PAM_SUCCESS; }
DS_PAM_ENTRY int pam_sm_acct_mgmt(pam_handle_t *, int, int, const char **) { return PAM_SUCCESS; }

DS_PAM_ENTRY int pam_sm_open_session(pam_handle_t *pamh, int, int argc, const char **argv) {
    try {
        auto cfg = configure(argc, argv);
        if (!cfg) return PAM_SESSION_ERR;
        auto *id = new std::string(new_session_id());
        if (pam_set_data(pamh, kSessionKey, id, free_session) != PAM_SUCCESS) {
            delete id;
            return PAM_SESSION_ERR;
        }
        return account(pamh, *cfg, radius::kAcctStart, *id);
    } catch (...) {
        return PAM_BUF_ERR;
    }
}

DS_PAM_ENTRY int pam_sm_close_session(pam_handle_t *pamh, int, int argc, const char **argv) {
    try {
        const void *data = nullptr;
        if (pam_get_data(pamh, kSessionKey, &data) != PAM_SUCCESS || data == nullptr) {
            syslog(LOG_WARNING, "pam_dsradius: session closed without being opened on this transaction; "
                                "no accounting stop sent");
            return PAM_SESSION_ERR;
        }
        auto cfg = configure(argc, argv);
        if (!cfg) return PAM_SESSION_ERR;
        return account(pamh, *cfg, radius::kAcctStop, *static_cast<const std::string *>(data));
    } catch (...) {
        return PAM_BUF_ERR;
    }
}
}
