// SPDX-License-Identifier: BSD-3-Clause
#include "auth/common.h"

#include <cstdio>
#include <cstring>
#include <syslog.h>

#include "base/log_text.h"
#include "auth/attrs.h"
#include "platform/device.h"
#include "plugin/state.h"
#include "plugin/transaction.h"

namespace {

// Copies the NUL-terminated text of at most `width` bytes at `field` into `out`.
template <std::size_t N>
void copy_text_field(const unsigned char *field, std::size_t width, std::array<char, N> &out) {
    static_assert(N > 0);
    std::size_t limit = width < N - 1 ? width : N - 1;
    std::size_t len = strnlen(reinterpret_cast<const char *>(field), limit);
    std::memcpy(out.data(), field, len);
    out[len] = '\0';
}

}  // namespace

ds_local_user_status ds_read_local_user(int port, ds_local_user &out) noexcept {
    out = ds_local_user{};
    std::array<unsigned char, store::kPppBlockSize> block{};
    int got = ds_reprom(block.data(), store::kPppBlockSize, store::ppp_block_offset(port));
    if (got != store::kPppBlockSize) return ds_local_user_status::read_failed;
    copy_text_field(block.data() + store::kBlockLocalUserName, store::kLocalUserNameWidth,
                    out.name);
    copy_text_field(block.data() + store::kBlockLocalUserPassword,
                    store::kLocalUserPasswordWidth, out.password);
    if (out.name[0] == '\0' && out.password[0] == '\0') return ds_local_user_status::none;
    return ds_local_user_status::configured;
}

void ds_send_auth_alert(bool success, const char *user) noexcept {
    char text[device::kAlertTextSize] = {};
    // A long name is cut to the alert's size (the result says by how much).
    if (std::snprintf(text, sizeof text, success ? "Authentication successful: %s" : "Authentication failed: %s",
                      base::escaped(user).c_str()) < 0)
        text[0] = '\0';
    send_auth_alert(0, success ? device::kAlertSuccess : device::kAlertFailure, text);
}

pam_handle_t **ds_auth_slot(pam_handle_t **scratch) noexcept {
    return ds_pamh_holds == ds_transaction::accounting ? scratch : &ds_pamh;
}

int ds_auth_pam_start(const char *service, const char *user, const struct pam_conv *conv,
                      pam_handle_t **slot) noexcept {
    return ds_transaction_begin(slot, service, user, conv, ds_transaction::unaccepted);
}

void ds_auth_accepted(pam_handle_t **slot) noexcept {
    ds_transaction_accept(slot);
    ds_auth_release_scratch(slot, PAM_SUCCESS);
}

void ds_auth_end(pam_handle_t **slot, int status) noexcept { ds_transaction_end(slot, status); }

int ds_account_check(pam_handle_t **slot, const char *handler, const char *user,
                     void (*reply)(void *context, const char *text), void *context) noexcept {
    int result = pam_acct_mgmt(*slot, 0);
    if (result != PAM_SUCCESS) {
        syslog(LOG_DEBUG, "%s: authorization failed %s %d", handler, base::escaped(user).c_str(), result);
        reply(context, pam_strerror(*slot, result));
        ds_auth_end(slot, result);
        return 0;
    }
    ds_apply_authz_attrs(*slot);
    ds_auth_accepted(slot);
    return 1;
}

void ds_auth_release_scratch(pam_handle_t **slot, int status) noexcept {
    if (slot != &ds_pamh) ds_transaction_end(slot, status);
}
