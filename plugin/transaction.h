// SPDX-License-Identifier: BSD-3-Clause
// The PAM transactions the plug-in drives, and the only place that changes
// ds_pamh and what it holds (plugin/state.h). A slot is ds_pamh or a scratch
// handle of a caller (a CHAP re-challenge while the accounting session is
// open); only ds_pamh's changes are recorded in ds_pamh_holds.
#pragma once

#include <security/pam_appl.h>

#include "plugin/state.h"

// Returns pam_start's result for a transaction of `kind` in `slot`, after
// ending (PAM_ABORT) any transaction the slot still held.
int ds_transaction_begin(pam_handle_t **slot, const char *service, const char *user, const struct pam_conv *conv,
                         ds_transaction kind) noexcept;

// Records that the transaction in `slot` was authenticated and passed its
// account check.
void ds_transaction_accept(pam_handle_t **slot) noexcept;

// Ends the transaction in `slot` (if any) with `status`.
void ds_transaction_end(pam_handle_t **slot, int status) noexcept;

// Closes ds_pamh's accounting session and ends the transaction with the
// close's result.
void ds_transaction_close_session() noexcept;
