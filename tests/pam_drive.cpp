// SPDX-License-Identifier: BSD-3-Clause
// Drives one PAM transaction from the command line, for testing modules
// outside the plug-in:
//   pam-drive CONFDIR SERVICE USER [--env K=V]... [--answer TEXT] STEP...
// STEP: authenticate, open, close. Prints "<step> <result code>" for each,
// and "prompt <style>" for every question the stack asks.
#include <security/pam_appl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char *answer = "";

int converse(int n, const pam_message **messages, pam_response **resp, void *) {
    auto *out = static_cast<pam_response *>(std::calloc(n, sizeof(pam_response)));
    if (out == nullptr) return PAM_CONV_ERR;
    for (int i = 0; i < n; ++i) {
        std::printf("prompt %d\n", messages[i]->msg_style);
        if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF || messages[i]->msg_style == PAM_PROMPT_ECHO_ON)
            out[i].resp = strdup(answer);
    }
    *resp = out;
    return PAM_SUCCESS;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: pam-drive CONFDIR SERVICE USER [--env K=V] [--answer TEXT] STEP...\n");
        return 2;
    }
    const pam_conv conv = {converse, nullptr};
    pam_handle_t *pamh = nullptr;
    if (pam_start_confdir(argv[2], argv[3], &conv, argv[1], &pamh) != PAM_SUCCESS) return 2;
    int status = PAM_SUCCESS;
    for (int i = 4; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "--env" || arg == "--answer") && i + 1 < argc) {
            if (arg == "--env") pam_putenv(pamh, argv[++i]);
            else answer = argv[++i];
            continue;
        }
        if (arg == "authenticate") status = pam_authenticate(pamh, 0);
        else if (arg == "open") status = pam_open_session(pamh, 0);
        else if (arg == "close") status = pam_close_session(pamh, 0);
        else {
            std::fprintf(stderr, "pam-drive: unknown step \"%s\"\n", arg.c_str());
            return 2;
        }
        std::printf("%s %d\n", arg.c_str(), status);
        std::fflush(stdout);
    }
    pam_end(pamh, status);
    return 0;
}
