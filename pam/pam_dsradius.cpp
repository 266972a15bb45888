// SPDX-License-Identifier: BSD-3-Clause
// pam_dsradius: RADIUS authentication (RFC 2865) and accounting (RFC 2866)
// behind the PAM interface, reading the request attributes the plug-in puts
// into the environment and leaving the authorization there.
// Module arguments: conf=PATH (default /etc/dsdevice/pam_dsradius.conf).
#include <security/pam_appl.h>
#include <security/pam_ext.h>
#include <security/pam_modules.h>
#include <syslog.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "base/log_text.h"
#include "base/secret.h"
#include "pam/radius_attrs.h"
#include "platform/pam_env.h"
#include "radius/accounting.h"
#include "radius/client.h"
#include "radius/probe.h"

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

// How the request proves the user: PAP password or CHAP response.
struct credential {
    bool chap = false;
    secret::string password;               // PAP
    std::string chap_password, challenge;  // CHAP: id byte + response, challenge
};

// Returns the CHAP credential, or nothing (logged) when it is not a CHAP-MD5 response.
std::optional<credential> chap_credential(const pam_request::request &r) {
    const std::string &user = r.user;
    if (!r.chap_algorithm || *r.chap_algorithm != kChapMd5) {
        syslog(LOG_ERR, "pam_dsradius: CHAP algorithm %s for %s is not supported (only MD5, 5)",
               base::escaped(r.chap_algorithm_text.value_or("(none)")).c_str(), base::escaped(user).c_str());
        return std::nullopt;
    }
    const auto &id = r.chap_id;
    const auto &response = r.chap_response;
    const auto &challenge = r.chap_challenge;
    if (!id || !response || response->size() != radius::kChapResponseSize || !challenge ||
        challenge->empty() || challenge->size() > radius::kMaxAttrValue) {
        syslog(LOG_ERR, "pam_dsradius: malformed or empty CHAP response for %s; refused, no password sent",
               base::escaped(user).c_str());
        return std::nullopt;
    }
    credential c;
    c.chap = true;
    c.chap_password = std::string(1, static_cast<char>(*id & 0xff)) + *response;
    c.challenge = *challenge;
    return c;
}

// Returns the credential, or a PAM error code when there is none to send.
std::optional<credential> credential_of(pam_handle_t *pamh, const pam_request::request &r, int &error) {
    error = PAM_AUTH_ERR;
    // A request with any CHAP attribute is CHAP, whatever else it holds: the
    // peer must not turn an empty CHAP response into a PAP login.
    if (r.chap) return chap_credential(r);
    credential c;
    if (r.password) {
        c.password = *r.password;
        return c;
    }
    // Another application: ask for the password.
    char *answer = nullptr;
    int rc = pam_prompt(pamh, PAM_PROMPT_ECHO_OFF, &answer, "%s", kPasswordPrompt);
    if (rc != PAM_SUCCESS || answer == nullptr) {
        if (rc != PAM_SUCCESS) error = rc;
        std::free(answer);
        return std::nullopt;
    }
    c.password.assign(answer);
    secret::wipe(answer, std::strlen(answer));
    std::free(answer);
    return c;
}

// Returns a fresh random Request Authenticator, or nothing (logged).
std::optional<radius::authenticator> random_authenticator() {
    radius::authenticator a{};
    if (!radius::random_bytes(a.data(), a.size())) return std::nullopt;
    return a;
}

int authenticate(pam_handle_t *pamh, const pam_request::request &r, const radius::config &cfg) {
    const std::string &user = r.user;
    if (user.empty()) return PAM_USER_UNKNOWN;
    if (!radius::user_name_fits(user)) return PAM_AUTH_ERR;
    int error = PAM_AUTH_ERR;
    auto cred = credential_of(pamh, r, error);
    if (!cred) return error;
    if (!cred->chap && cred->password.size() > radius::kMaxPassword) {
        syslog(LOG_ERR, "pam_dsradius: password of %s longer than %zu bytes", base::escaped(user).c_str(),
               radius::kMaxPassword);
        return PAM_AUTH_ERR;
    }
    auto build = [&](const radius::server &s, const sockaddr_storage &local, uint8_t id,
                     unsigned) -> std::optional<radius::request_bytes> {
        radius::packet p;
        p.code = radius::access_request;
        p.identifier = id;
        auto auth = random_authenticator();
        if (!auth) return std::nullopt;
        p.auth = *auth;
        if (!radius::add_user_attributes(r, cfg, local, p)) return std::nullopt;
        if (cred->chap) {
            p.add(radius::chap_password, cred->chap_password);
            p.add(radius::chap_challenge, cred->challenge);
        } else {
            auto hidden = radius::hide_password(cred->password, s.secret, p.auth);
            if (!hidden) return std::nullopt;
            p.add(radius::user_password, *hidden);
        }
        auto bytes = radius::encode_access_request(p, s.secret);
        if (!bytes) return std::nullopt;
        return radius::request_bytes{std::move(*bytes), p.auth};
    };
    auto start = std::chrono::steady_clock::now();
    auto result = radius::exchange(cfg, radius::service::authentication, build);
    if (result.how == radius::outcome::failed) {
        syslog(LOG_ERR, "pam_dsradius: authentication of %s failed closed: no request sent or no reply trusted",
               base::escaped(user).c_str());
        return PAM_AUTHINFO_UNAVAIL;
    }
    if (result.how == radius::outcome::no_answer) {
        auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        syslog(LOG_ERR, "pam_dsradius: no RADIUS server answered for %s (gave up after %lld ms)",
               base::escaped(user).c_str(), static_cast<long long>(waited.count()));
        return PAM_AUTHINFO_UNAVAIL;
    }
    if (result.reply.code != radius::access_accept) {
        syslog(LOG_NOTICE, "pam_dsradius: %s refused by the RADIUS server", base::escaped(user).c_str());
        return PAM_AUTH_ERR;
    }
    radius::apply_accept(pamh, result.reply);
    return PAM_SUCCESS;
}

void free_session(pam_handle_t *, void *data, int) { delete static_cast<std::string *>(data); }

// Returns a random Acct-Session-Id, or nothing (logged).
std::optional<std::string> new_session_id() {
    unsigned char bytes[kSessionIdBytes] = {};
    if (!radius::random_bytes(bytes, sizeof bytes)) return std::nullopt;
    return pam_env::encode_hex(std::string_view(reinterpret_cast<char *>(bytes), sizeof bytes));
}

// Puts the interval of the session's Interim-Updates: our own setting (RFC
// 2869 section 2.1: one configured on the NAS wins), else the
// Access-Accept's, at least 60 s (section 5.16); neither: none.
void put_interim_interval(pam_handle_t *pamh, const pam_request::request &r, const radius::config &cfg) {
    unsigned seconds = cfg.interim_interval_s;
    if (seconds == 0 && r.accept_interim_interval)
        seconds = std::min<uint32_t>(*r.accept_interim_interval, radius::kMaxInterimInterval);
    if (seconds == 0) return;
    seconds = std::max<unsigned>(seconds, pam_env::kMinInterimInterval);
    pam_env::put(pamh, pam_env::kInterimUpdateInterval, pam_env::encode_decimal(static_cast<int32_t>(seconds)));
}

int account(const pam_request::request &r, const radius::config &cfg, uint32_t status,
            const std::string &session_id) {
    const std::string &user = r.user;
    const radius::accounting_event event{status, session_id, radius::event_time_now()};
    auto build = [&](const radius::server &s, const sockaddr_storage &local, uint8_t id,
                     unsigned delay) -> std::optional<radius::request_bytes> {
        radius::packet p;
        p.code = radius::accounting_request;
        p.identifier = id;
        if (!radius::add_user_attributes(r, cfg, local, p)) return std::nullopt;
        radius::add_accounting_event(event, delay, p);
        if (r.acct_authentic) p.add_u32(radius::acct_authentic, *r.acct_authentic);
        radius::add_classes(r, p);
        if (status != radius::kAcctStart) {
            struct numeric { const std::optional<uint32_t> &value; uint8_t type; };
            for (numeric n : {numeric{r.session_time, radius::acct_session_time},
                              numeric{r.input_octets, radius::acct_input_octets},
                              numeric{r.output_octets, radius::acct_output_octets},
                              numeric{r.input_gigawords, radius::acct_input_gigawords},
                              numeric{r.output_gigawords, radius::acct_output_gigawords},
                              numeric{r.input_packets, radius::acct_input_packets},
                              numeric{r.output_packets, radius::acct_output_packets}})
                if (n.value) p.add_u32(n.type, *n.value);
        }
        if (status == radius::kAcctStop && r.terminate_cause)
            p.add_u32(radius::acct_terminate_cause, *r.terminate_cause);
        auto bytes = radius::encode_accounting_request(p, s.secret);
        if (!bytes) return std::nullopt;
        return radius::request_bytes{std::move(*bytes), p.auth};
    };
    auto result = radius::exchange(cfg, radius::service::accounting, build);
    if (result.how == radius::outcome::answered) return PAM_SUCCESS;
    syslog(LOG_ERR, "pam_dsradius: accounting %s for %s (session %s) %s",
           status == radius::kAcctStart ? "start" : status == radius::kAcctStop ? "stop" : "interim update",
           base::escaped(user).c_str(), session_id.c_str(),
           result.how == radius::outcome::failed ? "failed closed: no request sent or no reply trusted"
                                                 : "not acknowledged by any server");
    return PAM_SESSION_ERR;
}

}  // namespace

#define DS_PAM_ENTRY __attribute__((visibility("default")))

extern "C" {

DS_PAM_ENTRY int pam_sm_authenticate(pam_handle_t *pamh, int, int argc, const char **argv) {
    try {
        auto cfg = configure(argc, argv);
        return cfg ? authenticate(pamh, pam_request::read(pamh), *cfg) : PAM_AUTHINFO_UNAVAIL;
    } catch (...) {
        return PAM_BUF_ERR;
    }
}

// A refresh of an open session sends an Interim-Update (see pam_env.h). It
// runs inside the daemon's loop, which must keep answering LCP echoes: one
// try to the first accounting server nobody marked dead, bounded by that
// server's time-out; with every server marked, nothing is sent.
DS_PAM_ENTRY int pam_sm_setcred(pam_handle_t *pamh, int flags, int argc, const char **argv) {
    try {
        const void *data = nullptr;
        if ((flags & PAM_REFRESH_CRED) == 0 || pam_get_data(pamh, kSessionKey, &data) != PAM_SUCCESS ||
            data == nullptr)
            return PAM_SUCCESS;
        auto cfg = configure(argc, argv);
        if (!cfg) return PAM_CRED_ERR;
        auto alive = radius::unmarked_servers(*cfg, radius::service::accounting);
        if (alive.empty()) {
            syslog(LOG_WARNING, "pam_dsradius: every accounting server is marked dead; no interim update sent");
            return PAM_CRED_UNAVAIL;
        }
        radius::config one = *cfg;
        one.servers = {cfg->servers[alive.front()]};
        one.servers.front().retries = 0;
        one.total_timeout_ms = one.servers.front().timeout_ms;
        // The servers the tick skips are probed as any transaction's are.
        radius::probe_run probes = radius::start_probes(*cfg, radius::service::accounting);
        int rc = account(pam_request::read(pamh), one, radius::kAcctInterimUpdate,
                         *static_cast<const std::string *>(data));
        radius::finish_probes(*cfg, probes);
        return rc == PAM_SUCCESS ? PAM_SUCCESS : PAM_CRED_UNAVAIL;
    } catch (...) {
        return PAM_BUF_ERR;
    }
}
DS_PAM_ENTRY int pam_sm_acct_mgmt(pam_handle_t *, int, int, const char **) { return PAM_SUCCESS; }

DS_PAM_ENTRY int pam_sm_open_session(pam_handle_t *pamh, int, int argc, const char **argv) {
    try {
        auto cfg = configure(argc, argv);
        if (!cfg) return PAM_SESSION_ERR;
        auto session_id = new_session_id();
        if (!session_id) return PAM_SESSION_ERR;
        auto *id = new std::string(*session_id);
        if (pam_set_data(pamh, kSessionKey, id, free_session) != PAM_SUCCESS) {
            delete id;
            return PAM_SESSION_ERR;
        }
        auto request = pam_request::read(pamh);
        put_interim_interval(pamh, request, *cfg);
        pam_env::put(pamh, pam_env::kAcctSessionId, *id);
        return account(request, *cfg, radius::kAcctStart, *id);
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
        return account(pam_request::read(pamh), *cfg, radius::kAcctStop, *static_cast<const std::string *>(data));
    } catch (...) {
        return PAM_BUF_ERR;
    }
}
}
