// SPDX-License-Identifier: BSD-3-Clause
// CHAP: the digest's own verifier checks the response wherever we hold the
// password; otherwise the PAM stack checks it from hexadecimal attributes.
#include <array>
#include <cstdlib>
#include <cstring>
#include <syslog.h>

#include "base/log_text.h"
#include "auth/attrs.h"
#include "auth/common.h"
#include "platform/device.h"
#include "platform/pam_env.h"
#include "plugin/call_defaults.h"
#include "plugin/handlers.h"
#include "plugin/state.h"

namespace {

constexpr std::size_t kSecretSize = device::kChapSecretMax;
constexpr const char *kEmptyPassword = "";

struct chap_exchange {
    const char *name;
    int id;
    chap_digest_type *digest;
    unsigned char *challenge;
    unsigned char *response;
    unsigned char *message;
    int message_space;
};

// Returns true when the digest's verifier accepts the response for `password`.
// A password that does not fit the secret storage is never verified.
bool verify_with_password(const chap_exchange &x, const char *password, std::size_t max_len) {
    if (x.digest == nullptr || x.digest->verify_response == nullptr) return false;
    std::size_t len = strnlen(password, max_len);
    if (len > kSecretSize) return false;
    std::array<unsigned char, kSecretSize> secret{};
    std::memcpy(secret.data(), password, len);
    int ok = x.digest->verify_response(x.id, const_cast<char *>(x.name), secret.data(),
                                       static_cast<int>(len), x.challenge, x.response,
                                       reinterpret_cast<char *>(x.message), x.message_space);
    explicit_bzero(secret.data(), secret.size());
    return ok != 0;
}

// Writes `text` into the reply message, cut to fit and always terminated.
void write_message(const chap_exchange &x, const char *text) {
    if (x.message == nullptr || x.message_space <= 0) return;
    std::size_t room = static_cast<std::size_t>(x.message_space) - 1;
    std::size_t len = strnlen(text ? text : "", room);
    if (len > 0) std::memcpy(x.message, text, len);
    x.message[len] = '\0';
}

// Puts the challenge and response as hexadecimal texts.
void put_hex_attrs(pam_handle_t *pamh, const chap_exchange &x) {
    std::size_t challenge_len = x.challenge ? x.challenge[0] : 0;
    std::size_t response_len = x.response ? x.response[0] : 0;
    std::size_t longest = challenge_len > response_len ? challenge_len : response_len;
    char *hex = static_cast<char *>(std::malloc(2 * longest + 1));
    if (hex == nullptr) {
        syslog(LOG_ERR, "%s(): out of memory for the CHAP attributes", "ds_chap_auth");
        return;
    }
    hex_to_asc(x.challenge ? x.challenge + 1 : nullptr, hex, static_cast<int>(challenge_len));
    hex[2 * challenge_len] = '\0';
    ds_pam_putenv_str(pamh, pam_env::kChapChallengeHex, hex);
    hex_to_asc(x.response ? x.response + 1 : nullptr, hex, static_cast<int>(response_len));
    hex[2 * response_len] = '\0';
    ds_pam_putenv_str(pamh, pam_env::kChapResponseHex, hex);
    std::free(hex);
}

void write_into(void *exchange, const char *text) {
    write_message(*static_cast<const chap_exchange *>(exchange), text);
}

int refuse(pam_handle_t **pamh, const chap_exchange &x, int code) {
    ds_send_auth_alert(false, x.name);
    write_message(x, pam_strerror(*pamh, code));
    reopen_log();
    ds_auth_release_scratch(pamh, code);
    return 0;
}

int refuse_locally(const chap_exchange &x) {
    ds_send_auth_alert(false, x.name);
    reopen_log();
    return 0;
}

int accept(pam_handle_t **pamh, const chap_exchange &x) {
    reopen_log();
    ds_send_auth_alert(true, x.name);
    ds_conv_password = nullptr;
    ds_conv_user = nullptr;
    return ds_account_check(pamh, "ds_chap_auth", x.name, write_into, const_cast<chap_exchange *>(&x));
}

// The stack consulted the local user database and refused: check the
// response ourselves against that database, inside a "ds_no_auth" transaction.
int fallback_to_local_database(pam_handle_t **pamh, const chap_exchange &x, int result) {
    ds_auth_end(pamh, result);
    result = ds_auth_pam_start(kPamServiceNoAuth, x.name, &ds_chap_conv_record, pamh);
    if (result != PAM_SUCCESS) return refuse(pamh, x, result);
    result = pam_authenticate(*pamh, PAM_SILENT);
    if (result != PAM_SUCCESS) return refuse(pamh, x, result);
    std::array<unsigned char, device::kUserinfoSize> record{};
    if (getuserinfo(x.name, record.data()) != 0) return refuse(pamh, x, PAM_AUTH_ERR);
    const char *password = reinterpret_cast<const char *>(record.data() + device::kUserinfoPassword);
    bool verified =
        verify_with_password(x, password, device::kUserinfoSize - device::kUserinfoPassword);
    explicit_bzero(record.data(), record.size());
    if (!verified) return refuse(pamh, x, PAM_AUTH_ERR);
    return accept(pamh, x);
}

int authenticate_locally(const chap_exchange &x, const ds_local_user &local) {
    if (!base::secure_equals(local.name.data(), x.name)) return refuse_locally(x);
    if (!verify_with_password(x, local.password.data(), local.password.size()))
        return refuse_locally(x);
    ds_send_auth_alert(true, x.name);
    return 1;
}

}  // namespace

int ds_chap_auth(char *name, char *, int id, struct chap_digest_type *digest,
                 unsigned char *challenge, unsigned char *response, unsigned char *message,
                 int message_space) noexcept {
    const chap_exchange x{name ? name : "", id,      digest,       challenge,
                          response,         message, message_space};
    ds_keep_daemon_values();
    int port = ds_get_port();

    if (port != kNoPort && ds_port_record_exists(port, "ds_chap_auth")) {
        ds_local_user local;
        switch (ds_read_local_user(port, local)) {
        case ds_local_user_status::read_failed:
            syslog(LOG_ERR, "%s(): cannot read PPP settings of port %d, refusing %s",
                   "ds_chap_auth", port, base::escaped(x.name).c_str());
            return refuse_locally(x);
        case ds_local_user_status::configured:
            return authenticate_locally(x, local);
        case ds_local_user_status::none:
            break;
        }
    }

    pam_handle_t *scratch = nullptr;
    pam_handle_t **pamh = ds_auth_slot(&scratch);
    int started = ds_auth_pam_start(kPamService, x.name, &ds_chap_conv_record, pamh);
    ds_conv_user = x.name;
    ds_conv_password = kEmptyPassword;
    // Without a handle every PAM call would answer PAM_SYSTEM_ERR; refuse
    // with that at once rather than hand PAM a null handle.
    if (started != PAM_SUCCESS || *pamh == nullptr) return refuse(pamh, x, PAM_SYSTEM_ERR);
    pam_set_item(*pamh, PAM_TTY, devnam);
    ds_set_auth_attrs(*pamh, x.name, ds_conv_password, port);
    ds_pam_putenv_int(*pamh, pam_env::kChapAlgorithm, digest ? digest->code : 0);
    ds_pam_putenv_int(*pamh, pam_env::kChapId, id);
    put_hex_attrs(*pamh, x);

    int result = pam_authenticate(*pamh, PAM_SILENT);
    ds_pam_putenv_str(*pamh, pam_env::kChapChallengeHex, "");
    ds_pam_putenv_str(*pamh, pam_env::kChapResponseHex, "");
    if (result == PAM_SUCCESS) return accept(pamh, x);
    if (pam_getenv(*pamh, pam_env::kAttemptedLocal) == nullptr) return refuse(pamh, x, result);
    return fallback_to_local_database(pamh, x, result);
}
