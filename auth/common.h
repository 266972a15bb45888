// SPDX-License-Identifier: BSD-3-Clause
// Pieces the PAP and CHAP handlers share: the port's local user, alerts, and
// the PAM transaction an authentication runs in.
#pragma once

#include <array>
#include <cstddef>
#include <security/pam_appl.h>
#include <string_view>

#include "base/secure_equals.h"
#include "platform/store.h"

inline constexpr const char *kPamService = "ppp";
inline constexpr const char *kPamServiceNoAuth = "ds_no_auth";

struct ds_local_user {
    std::array<char, store::kLocalUserNameWidth + 1> name{};
    std::array<char, store::kLocalUserPasswordWidth + 1> password{};
};

enum class ds_local_user_status { none, configured, read_failed };

// Returns whether `port` has a local user, filling `out` when it has.
ds_local_user_status ds_read_local_user(int port, ds_local_user &out) noexcept;

// Sends the success (kind 6) or failure (kind 5) alert naming `user`.
void ds_send_auth_alert(bool success, const char *user) noexcept;

// Where a new authentication keeps its transaction: ds_pamh, or `scratch`
// while ds_pamh holds the open accounting session.
pam_handle_t **ds_auth_slot(pam_handle_t **scratch) noexcept;

// Returns pam_start's result; first ends any transaction `slot` still holds.
int ds_auth_pam_start(const char *service, const char *user, const struct pam_conv *conv,
                      pam_handle_t **slot) noexcept;

// Ends the transaction in `slot` when it is a scratch slot (not ds_pamh).
void ds_auth_release_scratch(pam_handle_t **slot, int status) noexcept;

// Records that the transaction in `slot` was authenticated and passed its
// account check (a scratch one is ended: the accounting session stays).
void ds_auth_accepted(pam_handle_t **slot) noexcept;

// Ends the transaction in `slot` with `status`.
void ds_auth_end(pam_handle_t **slot, int status) noexcept;

// Runs the account check that follows a successful pam_authenticate.
// Returns 1 when it passes: the authorization is applied and the transaction
// kept. Returns 0 when it refuses: "<handler>: authorization failed USER CODE"
// is logged, the refusal's text goes to `reply`, the transaction is ended.
int ds_account_check(pam_handle_t **slot, const char *handler, const char *user,
                     void (*reply)(void *context, const char *text), void *context) noexcept;
