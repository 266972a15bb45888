// SPDX-License-Identifier: BSD-3-Clause
#include "plugin/transaction.h"

int ds_transaction_begin(pam_handle_t **slot, const char *service, const char *user, const struct pam_conv *conv,
                         ds_transaction kind) noexcept {
    ds_transaction_end(slot, PAM_ABORT);
    int result = pam_start(service, user, conv, slot);
    if (slot == &ds_pamh) ds_pamh_holds = ds_pamh != nullptr ? kind : ds_transaction::none;
    return result;
}

void ds_transaction_accept(pam_handle_t **slot) noexcept {
    if (slot == &ds_pamh && ds_pamh != nullptr) ds_pamh_holds = ds_transaction::accepted;
}

void ds_transaction_end(pam_handle_t **slot, int status) noexcept {
    if (*slot != nullptr) pam_end(*slot, status);
    *slot = nullptr;
    if (slot == &ds_pamh) ds_pamh_holds = ds_transaction::none;
}

void ds_transaction_close_session() noexcept {
    if (ds_pamh == nullptr) return;
    ds_transaction_end(&ds_pamh, pam_close_session(ds_pamh, PAM_SILENT));
}
