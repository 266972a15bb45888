// SPDX-License-Identifier: BSD-3-Clause
// The two conversations never prompt anyone: they answer from the values the
// authentication handlers put into the shared state.
#include <cstdlib>
#include <cstring>
#include <security/pam_appl.h>

#include "auth/attrs.h"
#include "plugin/handlers.h"
#include "plugin/state.h"

namespace {

enum class Conversation { pap, chap };

// Returns a malloc'ed copy of `text`, or nullptr when there is none.
char *copy_answer(const char *text) { return text ? strdup(text) : nullptr; }

void release_responses(pam_response *responses, int filled) {
    for (int i = 0; i < filled; ++i) std::free(responses[i].resp);
    std::free(responses);
}

// Returns PAM_SUCCESS with *resp owning one answer per message, or
// PAM_CONV_ERR with nothing handed back.
int converse(Conversation kind, int count, const pam_message **messages, pam_response **resp) {
    if (resp == nullptr || messages == nullptr || count < 1 || count > PAM_MAX_NUM_MSG)
        return PAM_CONV_ERR;
    auto *responses = static_cast<pam_response *>(std::calloc(count, sizeof(pam_response)));
    if (responses == nullptr) return PAM_CONV_ERR;
    for (int i = 0; i < count; ++i) {
        const pam_message *message = messages[i];
        int style = message ? message->msg_style : -1;
        responses[i].resp_retcode = 0;
        switch (style) {
        case PAM_PROMPT_ECHO_OFF:
            if (kind == Conversation::chap) {
                release_responses(responses, i);
                return PAM_CONV_ERR;
            }
            responses[i].resp = copy_answer(ds_conv_password);
            break;
        case PAM_PROMPT_ECHO_ON:
            responses[i].resp = copy_answer(ds_conv_user);
            break;
        case PAM_ERROR_MSG:
        case PAM_TEXT_INFO:
            responses[i].resp = nullptr;
            break;
        default:
            release_responses(responses, i);
            return PAM_CONV_ERR;
        }
    }
    *resp = responses;
    return PAM_SUCCESS;
}

}  // namespace

int ds_pap_conv(int count, const pam_message **messages, pam_response **resp,
                void *) noexcept {
    return converse(Conversation::pap, count, messages, resp);
}

int ds_chap_conv(int count, const pam_message **messages, pam_response **resp,
                 void *) noexcept {
    return converse(Conversation::chap, count, messages, resp);
}

const struct pam_conv ds_pap_conv_record = {ds_pap_conv, nullptr};
const struct pam_conv ds_chap_conv_record = {ds_chap_conv, nullptr};
