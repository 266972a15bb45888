// SPDX-License-Identifier: BSD-3-Clause
// CHAP: local user, PAM road with hex attributes, local-database fallback,
// and re-challenges while the accounting session is open.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "plugin/handlers.h"
#include "plugin/state.h"
#include "tests/unit/fakes.h"

namespace {

constexpr int kPort = 1;
constexpr const char *kUntouched = "untouched";

int verifier_calls = 0;
std::string verifier_secret;

// Accepts when the response bytes spell the secret, like a digest would.
int fake_verify(int, char *, unsigned char *secret, int secret_len, unsigned char *,
                unsigned char *response, char *message, int message_space) {
    ++verifier_calls;
    verifier_secret.assign(reinterpret_cast<char *>(secret), secret_len);
    bool ok = response[0] == secret_len && std::memcmp(response + 1, secret, secret_len) == 0;
    std::snprintf(message, message_space, ok ? "Access granted" : "Access denied");
    return ok;
}

chap_digest_type digest = {pppd::kChapMd5, nullptr, fake_verify, nullptr, nullptr, nullptr,
                           nullptr};

struct Chap : ::testing::Test {
    std::vector<unsigned char> challenge, response;
    unsigned char message[pppd::kChapMessageSpace];

    void SetUp() override {
        reset_all();
        verifier_calls = 0;
        challenge_of(16, 0xc0);
        respond_with("secret");
    }
    void TearDown() override { reset_all(); }

    void challenge_of(std::size_t n, unsigned char fill) {
        challenge.assign(1 + n, fill);
        challenge[0] = static_cast<unsigned char>(n);
    }
    void respond_with(const std::string &bytes) {
        response.assign(1, static_cast<unsigned char>(bytes.size()));
        response.insert(response.end(), bytes.begin(), bytes.end());
    }
    int auth(const char *name, int space = pppd::kChapMessageSpace) {
        std::snprintf(reinterpret_cast<char *>(message), sizeof message, "%s", kUntouched);
        return ds_chap_auth(const_cast<char *>(name), const_cast<char *>("server"), 9, &digest,
                            challenge.data(), response.data(), message, space);
    }
    std::string msg() { return reinterpret_cast<char *>(message); }
    std::vector<int> alert_kinds() {
        std::vector<int> kinds;
        for (auto &a : dev.alerts) kinds.push_back(a.first);
        return kinds;
    }
    void local_user(const std::string &name, const std::string &password) {
        setenv("PORT", std::to_string(kPort).c_str(), 1);
        put_store(store::ppp_block_offset(kPort) + store::kBlockLocalUserName, name);
        put_store(store::ppp_block_offset(kPort) + store::kBlockLocalUserPassword, password);
    }
    std::optional<pam_event> find(const std::string &call, const std::string &section) {
        for (auto &e : pam_events())
            if (e.call == call && e.section == section) return e;
        return std::nullopt;
    }
};

TEST_F(Chap, LocalUserRoad) {
    local_user("alice", "secret");
    EXPECT_EQ(auth("mallory"), 0);
    EXPECT_EQ(verifier_calls, 0);
    EXPECT_EQ(msg(), kUntouched);
    EXPECT_EQ(daemon_fake.reopen_log_calls, 1);

    respond_with("wrong");
    EXPECT_EQ(auth("alice"), 0);
    EXPECT_EQ(msg(), "Access denied");
    EXPECT_EQ(daemon_fake.reopen_log_calls, 2);

    respond_with("secret");
    EXPECT_EQ(auth("alice"), 1);
    EXPECT_EQ(msg(), "Access granted");
    EXPECT_EQ(verifier_secret, "secret");
    EXPECT_EQ(daemon_fake.reopen_log_calls, 2);
    EXPECT_EQ(alert_kinds(), (std::vector<int>{5, 5, 6}));
    EXPECT_TRUE(pam_events().empty());
    EXPECT_EQ(ds_pamh, nullptr);
}

TEST_F(Chap, HexAttributesReachTheStackAndAreEmptiedAfter) {
    pam_script({"ppp.auth 7"});
    response.assign(1 + 49, 0x0f);
    response[0] = 49;
    EXPECT_EQ(auth("bob"), 0);
    std::optional<pam_event> e = find("authenticate", "ppp");
    ASSERT_TRUE(e.has_value());
    auto env = e->env;
    auto repeated = [](const char *hex, int n) { std::string s; while (n--) s += hex; return s; };
    EXPECT_EQ(env["CHAP_CHALLENGE_HEX"], repeated("c0", 16));
    EXPECT_EQ(env["CHAP_RESPONSE_HEX"], repeated("0f", 49));
    EXPECT_EQ(env["CHAP_ALGORITHM"], "5");
    EXPECT_EQ(env["CHAP_ID"], "9");
    EXPECT_EQ(env["USER_PASSWORD"], "");
    ASSERT_NE(ds_pamh, nullptr);
    EXPECT_STREQ(pam_getenv(ds_pamh, "CHAP_CHALLENGE_HEX"), "");
    EXPECT_STREQ(pam_getenv(ds_pamh, "CHAP_RESPONSE_HEX"), "");
    EXPECT_STREQ(pam_getenv(ds_pamh, "USER_PASSWORD"), "");
}

TEST_F(Chap, PamRefusalWithoutFallback) {
    pam_script({"ppp.auth 7"});
    EXPECT_EQ(auth("bob"), 0);
    EXPECT_EQ(alert_kinds(), (std::vector<int>{5}));
    EXPECT_EQ(msg(), pam_strerror(nullptr, 7));
    EXPECT_NE(ds_pamh, nullptr);
    EXPECT_EQ(daemon_fake.reopen_log_calls, 1);
    EXPECT_FALSE(find("authenticate", "ds_no_auth").has_value());
}

TEST_F(Chap, FallbackUserNotInDatabase) {
    pam_script({"ppp.auth 7", "ppp.attempted_local 1"});
    EXPECT_EQ(auth("carol"), 0);
    EXPECT_TRUE(find("authenticate", "ds_no_auth").has_value());
    EXPECT_EQ(msg(), pam_strerror(nullptr, PAM_AUTH_ERR));
    EXPECT_EQ(alert_kinds(), (std::vector<int>{5}));
    EXPECT_EQ(live_pam_handles, 1);
}

TEST_F(Chap, FallbackAcceptsMatchingResponse) {
    pam_script({"ppp.auth 7", "ppp.attempted_local 1", "ds_no_auth.put FRAMED_MTU=1200"});
    dev.users["carol"] = "secret";
    EXPECT_EQ(auth("carol"), 1);
    EXPECT_EQ(msg(), "Access granted");
    EXPECT_EQ(verifier_secret, "secret");
    EXPECT_TRUE(find("acct_mgmt", "ds_no_auth").has_value());
    EXPECT_EQ(lcp_wantoptions[0].mru, 1200);
    EXPECT_EQ(alert_kinds(), (std::vector<int>{6}));
    EXPECT_EQ(live_pam_handles, 1);
}

TEST_F(Chap, FallbackRefusalsByNoAuthStack) {
    pam_script({"ppp.auth 7", "ppp.attempted_local 1", "ds_no_auth.auth 9"});
    dev.users["carol"] = "secret";
    EXPECT_EQ(auth("carol"), 0);
    EXPECT_EQ(msg(), pam_strerror(nullptr, 9));
    EXPECT_EQ(verifier_calls, 0);
}

// The secret's storage holds 32 bytes: a 32-character password fits it,
// one longer is refused without being copied.
TEST_F(Chap, DatabasePasswordsUpTo32CharactersVerify) {
    pam_script({"ppp.auth 7", "ppp.attempted_local 1"});
    struct row { std::size_t length; int result, verifier_calls; };
    for (row r : {row{31, 1, 1}, row{32, 1, 1}, row{33, 0, 0}, row{40, 0, 0}}) {
        verifier_calls = 0;
        std::string password(r.length, 'p');
        dev.users["carol"] = password;
        respond_with(password);
        EXPECT_EQ(auth("carol"), r.result) << r.length;
        EXPECT_EQ(verifier_calls, r.verifier_calls) << r.length;
        if (r.result == 0) {
            EXPECT_EQ(msg(), pam_strerror(nullptr, PAM_AUTH_ERR)) << r.length;
        }
    }
}

TEST_F(Chap, AccountCheckRefusal) {
    pam_script({"ppp.acct 13"});
    EXPECT_EQ(auth("dave"), 0);
    EXPECT_EQ(alert_kinds(), (std::vector<int>{6}));
    EXPECT_EQ(msg(), pam_strerror(nullptr, 13));
    EXPECT_EQ(ds_pamh, nullptr);
    EXPECT_EQ(live_pam_handles, 0);
    EXPECT_TRUE(logged_contains(LOG_DEBUG, "ds_chap_auth: authorization failed dave 13"));
}

TEST_F(Chap, AcceptanceLeavesMessageAndKeepsTransaction) {
    pam_script({"ppp.put SESSION_TIMEOUT=60"});
    EXPECT_EQ(auth("erin"), 1);
    EXPECT_EQ(msg(), kUntouched);
    EXPECT_EQ(maxconnect, 60);
    EXPECT_NE(ds_pamh, nullptr);
    EXPECT_EQ(ds_conv_user, nullptr);
    EXPECT_EQ(daemon_fake.reopen_log_calls, 1);
}

TEST_F(Chap, TinyMessageSpaceGetsEmptyText) {
    pam_script({"ppp.auth 7"});
    EXPECT_EQ(auth("bob", 1), 0);
    EXPECT_EQ(msg(), "");
}

TEST_F(Chap, FailedStartEndsInRefusal) {
    pam_start_failure = PAM_BUF_ERR;
    EXPECT_EQ(auth("bob"), 0);
    EXPECT_EQ(ds_pamh, nullptr);
    EXPECT_EQ(alert_kinds(), (std::vector<int>{5}));
}

TEST_F(Chap, RechallengeKeepsTheAccountingSession) {
    pam_handle_t *accounting = test_pam_start("ppp", "frank");
    ASSERT_NE(accounting, nullptr);
    ds_pamh = accounting;
    ds_pamh_holds = ds_transaction::accounting;
    pam_script({"ppp.put IDLE_TIMEOUT=30"});
    for (int i = 0; i < 20; ++i) EXPECT_EQ(auth("frank"), 1);
    pam_script({"ppp.auth 7", "ppp.attempted_local 1"});
    for (int i = 0; i < 20; ++i) EXPECT_EQ(auth("frank"), 0);
    EXPECT_EQ(ds_pamh, accounting);
    EXPECT_EQ(idle_time_limit, 30);
    EXPECT_EQ(live_pam_handles, 0);
    EXPECT_EQ(pam_module_live_transactions(), 0);
}

TEST_F(Chap, RepeatedRefusalsLeakNoTransaction) {
    pam_script({"ppp.auth 7", "ppp.attempted_local 1"});
    for (int i = 0; i < 30; ++i) auth("gina");
    EXPECT_EQ(live_pam_handles, 1);
}

}  // namespace
