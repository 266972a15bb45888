// SPDX-License-Identifier: BSD-3-Clause
// PAM environment attributes: the request attributes the plug-in gives the
// stack, and the conversation records that answer its questions.
#pragma once

#include <cstddef>
#include <security/pam_appl.h>

inline constexpr std::size_t kAttrIntBuffer = 128;
inline constexpr std::size_t kAttrTextBuffer = 1024;

inline constexpr int kServiceTypeFramed = 2;
inline constexpr int kFramedProtocolPpp = 1;
inline constexpr int kNasPortTypeAsync = 0;
inline constexpr int kNasPortTypeVirtual = 5;

extern const struct pam_conv ds_pap_conv_record;
extern const struct pam_conv ds_chap_conv_record;

// Returns pam_putenv's result for "name=value", or PAM_BUF_ERR when the text
// does not fit its buffer (nothing is put then).
int ds_pam_putenv_int(pam_handle_t *pamh, const char *name, int value) noexcept;
int ds_pam_putenv_str(pam_handle_t *pamh, const char *name, const char *value) noexcept;

// Returns the result of the last put: USER_NAME .. NAS_PORT_TYPE.
int ds_set_user_attrs(pam_handle_t *pamh, const char *user, int port) noexcept;

// Returns 1 unless a given password failed to be put (0).
int ds_set_auth_attrs(pam_handle_t *pamh, const char *user, const char *password,
                      int port) noexcept;

// Returns 1; moves the authorization attributes into the daemon and the shared state.
int ds_apply_authz_attrs(pam_handle_t *pamh) noexcept;

