// SPDX-License-Identifier: BSD-3-Clause
// A scriptable PAM module for tests. The script (file named by DSTEST_SCRIPT)
// holds "<section>.<key> <value>" lines; the stack line names its section
// ("section=ppp"). Every call is appended to the file named by DSTEST_RECORD
// with the environment it saw, so tests can check what reached the stack.
//
// Keys: auth (success or a PAM code), password (checked against
// USER_PASSWORD, a conversation answer, or the CHAP attributes), ask (message
// styles to ask in authenticate; acct_ask likewise in acct_mgmt), put (KEY=VALUE, put on success), attempted_local (put
// ATTEMPTED_VX_LOCAL on refusal), acct, session (success or a code).
#include <security/pam_appl.h>
#include <security/pam_modules.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/md5.h"
#include "platform/pam_env.h"

namespace {

constexpr const char *kLiveKey = "dstest-live";

struct script {
    std::string section;
    std::multimap<std::string, std::string> values;

    std::string get(const std::string &key, const std::string &fallback = "") const {
        auto it = values.find(section + "." + key);
        return it == values.end() ? fallback : it->second;
    }
    std::vector<std::string> all(const std::string &key) const {
        std::vector<std::string> out;
        auto [first, last] = values.equal_range(section + "." + key);
        for (auto it = first; it != last; ++it) out.push_back(it->second);
        return out;
    }
};

script load(int argc, const char **argv) {
    script s;
    s.section = "default";
    for (int i = 0; i < argc; ++i)
        if (std::strncmp(argv[i], "section=", 8) == 0) s.section = argv[i] + 8;
    const char *path = std::getenv("DSTEST_SCRIPT");
    std::ifstream in(path ? path : "");
    std::string line;
    while (std::getline(in, line)) {
        std::size_t space = line.find(' ');
        if (line.empty() || line[0] == '#' || space == std::string::npos) continue;
        s.values.emplace(line.substr(0, space), line.substr(space + 1));
    }
    return s;
}

int code_of(const std::string &text) {
    return text.empty() || text == "success" ? PAM_SUCCESS : std::atoi(text.c_str());
}

void record(const std::string &line) {
    const char *path = std::getenv("DSTEST_RECORD");
    if (path == nullptr) return;
    std::FILE *f = std::fopen(path, "a");
    if (f == nullptr) return;
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
}

void end_transaction(pam_handle_t *, void *data, int) {
    auto *id = static_cast<std::string *>(data);
    record("end\t" + *id);
    delete id;
}

// Returns this transaction's id, announcing the transaction on first use.
std::string transaction_id(pam_handle_t *pamh, const script &s) {
    const void *data = nullptr;
    if (pam_get_data(pamh, kLiveKey, &data) == PAM_SUCCESS && data != nullptr)
        return *static_cast<const std::string *>(data);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    auto *id = new std::string(std::to_string(now.tv_sec * 1000000000LL + now.tv_nsec));
    pam_set_data(pamh, kLiveKey, id, end_transaction);
    record("begin\t" + *id + "\t" + s.section);
    return *id;
}

void record_call(pam_handle_t *pamh, const script &s, const char *call, int rc) {
    std::ostringstream line;
    line << call << "\t" << transaction_id(pamh, s) << "\t" << s.section << "\t" << rc;
    const void *tty = nullptr;
    if (pam_get_item(pamh, PAM_TTY, &tty) == PAM_SUCCESS && tty)
        line << "\tPAM_TTY=" << static_cast<const char *>(tty);
    if (char **env = pam_getenvlist(pamh)) {
        for (char **e = env; *e; ++e) {
            line << "\t" << *e;
            std::free(*e);
        }
        std::free(env);
    }
    record(line.str());
}

std::string md5_hex(int id, const std::string &secret, const std::string &challenge_hex) {
    std::string challenge = pam_env::decode_hex(challenge_hex).value_or("");
    auto digest = base::chap_md5(id, secret, reinterpret_cast<const unsigned char *>(challenge.data()),
                           challenge.size());
    return pam_env::encode_hex(
        std::string_view(reinterpret_cast<const char *>(digest.digest.data()), digest.digest.size()));
}

// Asks the scripted questions; returns the answers ("(null)" for none).
int ask(pam_handle_t *pamh, const script &s, const char *key, std::vector<std::string> &answers) {
    std::istringstream styles(s.get(key));
    std::vector<pam_message> messages;
    int style;
    while (styles >> style) messages.push_back({style, "question"});
    if (messages.empty()) return PAM_SUCCESS;
    std::vector<const pam_message *> pointers;
    for (auto &m : messages) pointers.push_back(&m);
    const void *item = nullptr;
    if (pam_get_item(pamh, PAM_CONV, &item) != PAM_SUCCESS || item == nullptr) return PAM_CONV_ERR;
    auto *conv = static_cast<const pam_conv *>(item);
    pam_response *resp = nullptr;
    int rc = conv->conv(static_cast<int>(pointers.size()), pointers.data(), &resp, conv->appdata_ptr);
    std::ostringstream line;
    line << "conv\t" << transaction_id(pamh, s) << "\t" << s.section << "\t" << rc;
    if (rc == PAM_SUCCESS && resp != nullptr) {
        for (std::size_t i = 0; i < messages.size(); ++i) {
            std::string answer = resp[i].resp ? resp[i].resp : "(null)";
            answers.push_back(answer);
            line << "\t" << answer << "/" << resp[i].resp_retcode;
            std::free(resp[i].resp);
        }
        std::free(resp);
    }
    record(line.str());
    return rc;
}

bool password_matches(pam_handle_t *pamh, const script &s,
                      const std::vector<std::string> &answers) {
    std::string wanted = s.get("password");
    if (wanted.empty()) return true;
    const char *response = pam_getenv(pamh, pam_env::kChapResponseHex);
    if (response != nullptr && *response) {
        const char *challenge = pam_getenv(pamh, pam_env::kChapChallengeHex);
        const char *id = pam_getenv(pamh, pam_env::kChapId);
        std::string expected = md5_hex(id ? std::atoi(id) : 0, wanted, challenge ? challenge : "");
        return expected == response;
    }
    const char *password = pam_getenv(pamh, pam_env::kUserPassword);
    if (password != nullptr && wanted == password) return true;
    for (const auto &a : answers)
        if (a == wanted) return true;
    return false;
}

}  // namespace

extern "C" {

PAM_EXTERN int pam_sm_authenticate(pam_handle_t *pamh, int, int argc, const char **argv) {
    script s = load(argc, argv);
    std::vector<std::string> answers;
    int rc = ask(pamh, s, "ask", answers);
    if (rc == PAM_SUCCESS) rc = code_of(s.get("auth"));
    if (rc == PAM_SUCCESS && !password_matches(pamh, s, answers)) rc = PAM_AUTH_ERR;
    if (rc == PAM_SUCCESS) {
        for (const auto &kv : s.all("put")) pam_putenv(pamh, kv.c_str());
    } else if (s.get("attempted_local") == "1") {
        pam_env::put(pamh, pam_env::kAttemptedLocal, "");
    }
    record_call(pamh, s, "authenticate", rc);
    return rc;
}

PAM_EXTERN int pam_sm_setcred(pam_handle_t *, int, int, const char **) { return PAM_SUCCESS; }

PAM_EXTERN int pam_sm_acct_mgmt(pam_handle_t *pamh, int, int argc, const char **argv) {
    script s = load(argc, argv);
    std::vector<std::string> answers;
    int rc = ask(pamh, s, "acct_ask", answers) == PAM_SUCCESS ? code_of(s.get("acct")) : PAM_CONV_ERR;
    record_call(pamh, s, "acct_mgmt", rc);
    return rc;
}

PAM_EXTERN int pam_sm_open_session(pam_handle_t *pamh, int, int argc, const char **argv) {
    script s = load(argc, argv);
    int rc = code_of(s.get("session"));
    record_call(pamh, s, "open_session", rc);
    return rc;
}

PAM_EXTERN int pam_sm_close_session(pam_handle_t *pamh, int, int argc, const char **argv) {
    script s = load(argc, argv);
    int rc = code_of(s.get("session"));
    record_call(pamh, s, "close_session", rc);
    return rc;
}
}
