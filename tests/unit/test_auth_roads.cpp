// SPDX-License-Identifier: BSD-3-Clause
// PAP and CHAP: the roads both protocols share run as one table for each
// (the port's local user, the PAM stack's answers, ports without a record,
// hostile names); what only CHAP has (hex attributes, the local-database
// fallback, re-challenges) follows.
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

enum class protocol { pap, chap };
constexpr const char *kUntouched = "untouched";
constexpr int kLocalPort = 2;

int verifier_calls = 0;
std::string verifier_secret;

// Accepts when the response bytes spell the secret, as a digest would.
int fake_verify(int, char *, unsigned char *secret, int secret_len, unsigned char *, unsigned char *response,
                char *message, int message_space) {
    ++verifier_calls;
    verifier_secret.assign(reinterpret_cast<char *>(secret), secret_len);
    bool ok = response[0] == secret_len && std::memcmp(response + 1, secret, secret_len) == 0;
    std::snprintf(message, message_space, ok ? "Access granted" : "Access denied");
    return ok;
}

chap_digest_type digest = {pppd::kChapMd5, nullptr, fake_verify, nullptr, nullptr, nullptr, nullptr};

struct outcome {
    int result;
    std::string message;  // what the daemon gets back; kUntouched when nothing was written
};

// Authenticates `user` with `password` (CHAP: a response that spells it).
outcome authenticate(protocol p, const std::string &user, const std::string &password,
                     int chap_space = pppd::kChapMessageSpace) {
    if (p == protocol::pap) {
        char *msg = const_cast<char *>(kUntouched);
        int result = ds_pap_auth(const_cast<char *>(user.c_str()), const_cast<char *>(password.c_str()), &msg,
                                 nullptr, nullptr);
        return {result, msg};
    }
    std::vector<unsigned char> challenge(17, 0xc0), response{static_cast<unsigned char>(password.size())};
    challenge[0] = 16;
    response.insert(response.end(), password.begin(), password.end());
    unsigned char message[pppd::kChapMessageSpace];
    std::snprintf(reinterpret_cast<char *>(message), sizeof message, "%s", kUntouched);
    int result = ds_chap_auth(const_cast<char *>(user.c_str()), const_cast<char *>("server"), 9, &digest,
                              challenge.data(), response.data(), message, chap_space);
    return {result, reinterpret_cast<char *>(message)};
}

std::vector<int> alert_kinds() {
    std::vector<int> kinds;
    for (auto &a : dev.alerts) kinds.push_back(a.first);
    return kinds;
}

void local_user(const std::string &name, const std::string &password) {
    setenv("PORT", std::to_string(kLocalPort).c_str(), 1);
    put_store(store::ppp_block_offset(kLocalPort) + store::kBlockLocalUserName, name);
    put_store(store::ppp_block_offset(kLocalPort) + store::kBlockLocalUserPassword, password);
}

std::optional<pam_event> find(const std::string &call, const std::string &section = "ppp") {
    for (auto &e : pam_events())
        if (e.call == call && e.section == section) return e;
    return std::nullopt;
}

std::string pam_text(int code) { return pam_strerror(nullptr, code); }

struct AuthRoads : ::testing::TestWithParam<protocol> {
    protocol p = GetParam();
    void SetUp() override {
        reset_all();
        verifier_calls = 0;
        verifier_secret.clear();
    }
    void TearDown() override { reset_all(); }
    // Picks the protocol's own expectation.
    template <typename T> const T &per(const T &pap, const T &chap) const { return p == protocol::pap ? pap : chap; }
    std::string handler() const { return p == protocol::pap ? "ds_pap_auth" : "ds_chap_auth"; }
};

INSTANTIATE_TEST_SUITE_P(Both, AuthRoads, ::testing::Values(protocol::pap, protocol::chap),
                         [](const auto &info) { return info.param == protocol::pap ? "Pap" : "Chap"; });

// The port's local user decides alone: no PAM transaction, one alert each.
TEST_P(AuthRoads, LocalUserAloneDecides) {
    struct row {
        std::string stored_name, user, password;
        int result;
        std::string pap_message, chap_message;
    };
    const row rows[] = {
        {"alice", "alice", "Secret", 1, kUntouched, "Access granted"},
        {"alice", "alice", "secret", 0, kUntouched, "Access denied"},
        {"alice", "bob", "Secret", 0, kUntouched, kUntouched},
        {"", "", "Secret", 1, kUntouched, "Access granted"},
        {"", "x", "Secret", 0, kUntouched, kUntouched},
    };
    for (const row &r : rows) {
        SetUp();
        local_user(r.stored_name, "Secret");
        pam_script({"ppp.auth success"});
        outcome o = authenticate(p, r.user, r.password);
        EXPECT_EQ(o.result, r.result) << r.user << "/" << r.password;
        EXPECT_EQ(o.message, per(r.pap_message, r.chap_message)) << r.user << "/" << r.password;
        ASSERT_EQ(dev.alerts.size(), 1u);
        EXPECT_EQ(dev.alerts[0].second,
                  (r.result ? "Authentication successful: " : "Authentication failed: ") + r.user);
        EXPECT_EQ(dev.alerts[0].first, r.result ? 6 : 5);
        EXPECT_TRUE(pam_events().empty()) << r.user;
        EXPECT_EQ(ds_pamh, nullptr);
        // CHAP hands the stored password to the digest's own verifier.
        EXPECT_EQ(verifier_secret, p == protocol::chap && r.user == r.stored_name ? "Secret" : "") << r.user;
    }
}

// The PAM road: what each answer of the stack gives the daemon, which alert
// goes out, and whether the transaction is kept for accounting.
TEST_P(AuthRoads, PamAnswers) {
    struct row {
        const char *what;
        std::vector<std::string> script;
        int start_failure, result;
        std::vector<int> pap_alerts, chap_alerts;
        std::string pap_message, chap_message;
        bool kept;
    };
    const row rows[] = {
        {"accepted", {"ppp.put FRAMED_MTU=1400"}, 0, 1, {6}, {6}, pam_text(PAM_SUCCESS), kUntouched, true},
        {"refused", {"ppp.auth 7"}, 0, 0, {5}, {5}, kUntouched, pam_text(7), true},
        {"account check refused", {"ppp.acct 13"}, 0, 0, {6}, {6}, pam_text(13), pam_text(13), false},
        {"no transaction", {}, PAM_BUF_ERR, 0, {}, {5}, pam_text(PAM_BUF_ERR), pam_text(PAM_SYSTEM_ERR), false},
    };
    for (const row &r : rows) {
        SetUp();
        setenv("PORT", "0", 1);
        pam_script(r.script);
        pam_start_failure = r.start_failure;
        outcome o = authenticate(p, "erin", "pw");
        EXPECT_EQ(o.result, r.result) << r.what;
        EXPECT_EQ(o.message, per(r.pap_message, r.chap_message)) << r.what;
        EXPECT_EQ(alert_kinds(), per(r.pap_alerts, r.chap_alerts)) << r.what;
        EXPECT_EQ(ds_pamh != nullptr, r.kept) << r.what;
        EXPECT_EQ(live_pam_handles, r.kept ? 1 : 0) << r.what;
        EXPECT_EQ(lcp_wantoptions[0].mru, r.result ? 1400 : 0) << r.what;
        // The modules may have reopened the log: the daemon's is back after them.
        if (r.result) {
            EXPECT_GT(daemon_fake.reopen_log_calls, 0) << r.what;
        }
        EXPECT_EQ(logged_contains(LOG_DEBUG, handler() + ": authorization failed erin 13"), !r.kept && o.message == pam_text(13))
            << r.what;
    }
}

// A port 0-7 whose settings cannot be read is refused: the PAM stack is not
// asked in place of a local user that may be configured there.
TEST_P(AuthRoads, UnreadableSettingsRefuseInsteadOfFallingThrough) {
    setenv("PORT", std::to_string(kLocalPort).c_str(), 1);
    dev.failing_offsets.insert(store::ppp_block_offset(kLocalPort));
    pam_script({"ppp.auth success"});
    EXPECT_EQ(authenticate(p, "alice", "pw").result, 0);
    EXPECT_EQ(alert_kinds(), (std::vector<int>{5}));
    EXPECT_TRUE(pam_events().empty());
    EXPECT_TRUE(logged_contains(LOG_ERR, "cannot read PPP settings of port 2"));
}

// The store holds ports 0 to 7: another index reads nothing of the store
// (PORT=8 would read the route table as a port) and PAM decides.
TEST_P(AuthRoads, PortsWithoutARecordLeaveThePeerToPam) {
    struct row { const char *port, *nas_port, *nas_port_type, *logged; };
    for (row r : {row{"", "0", "5", nullptr}, row{"8", "9", "0", "port 8 has no record"},
                  row{"40", "41", "0", "port 40 has no record"},
                  row{"99999999999", "2147483647", "0", "port 2147483647 has no record"},
                  row{"-7", "-6", "5", "port -7 has no record"}}) {
        SetUp();
        if (*r.port) setenv("PORT", r.port, 1);
        pam_script({"ppp.auth success"});
        EXPECT_EQ(authenticate(p, "carol", "pw").result, 1) << r.port;
        EXPECT_TRUE(dev.reprom_offsets.empty()) << r.port;
        if (r.logged) {
            EXPECT_TRUE(logged_contains(LOG_WARNING, handler() + "(): " + r.logged)) << r.port;
        }
        std::optional<pam_event> e = find("authenticate");
        ASSERT_TRUE(e.has_value());
        EXPECT_EQ(e->env["NAS_PORT"], r.nas_port) << r.port;
        EXPECT_EQ(e->env["NAS_PORT_TYPE"], r.nas_port_type) << r.port;
        EXPECT_EQ(e->env["PAM_TTY"], "/dev/ttyS3");
    }
}

// A peer's name reaches the alert as printable text, within its buffer.
TEST_P(AuthRoads, HostileNamesReachTheAlertSafely) {
    pam_script({"ppp.auth 7"});
    EXPECT_EQ(authenticate(p, "mallory\nalert 6 (success): root\x1b[2J", "x").result, 0);
    EXPECT_EQ(authenticate(p, std::string(400, 'u'), "x").result, 0);
    ASSERT_EQ(dev.alerts.size(), 2u);
    EXPECT_EQ(dev.alerts[0].second, "Authentication failed: mallory\\012alert 6 (success): root\\033[2J");
    EXPECT_EQ(dev.alerts[1].second.size(), device::kAlertTextSize - 1);
    EXPECT_EQ(dev.alerts[1].second.rfind("Authentication failed: uuu", 0), 0u);
}

TEST_P(AuthRoads, RepeatedAttemptsLeakNoTransaction) {
    pam_script({"ppp.auth 7", "ppp.attempted_local 1"});
    for (int i = 0; i < 40; ++i) authenticate(p, "henry", "wrong");
    EXPECT_EQ(live_pam_handles, 1);  // the last refusal's, held in ds_pamh
    EXPECT_EQ(pam_module_live_transactions(), 1);
}

TEST(Pap, PasswordReachesTheStackThroughTheConversation) {
    reset_all();
    pam_script({"ppp.password pw", "ppp.ask 2 1"});
    EXPECT_EQ(authenticate(protocol::pap, "frank", "pw").result, 1);
    std::optional<pam_event> e = find("authenticate");
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->env["USER_PASSWORD"], "pw");
    e = find("conv");
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->fields[4], "frank/0");
    EXPECT_EQ(e->fields[5], "pw/0");
    EXPECT_EQ(ds_conv_user, nullptr);  // nothing points at the daemon's buffers after
    EXPECT_EQ(ds_conv_password, nullptr);
    reset_all();
}

TEST(Chap, HexAttributesReachTheStackAndAreEmptiedAfter) {
    reset_all();
    pam_script({"ppp.auth 7"});
    EXPECT_EQ(authenticate(protocol::chap, "bob", std::string(49, '\x0f')).result, 0);
    std::optional<pam_event> e = find("authenticate");
    ASSERT_TRUE(e.has_value());
    auto repeated = [](const char *hex, int n) { std::string s; while (n--) s += hex; return s; };
    EXPECT_EQ(e->env["CHAP_CHALLENGE_HEX"], repeated("c0", 16));
    EXPECT_EQ(e->env["CHAP_RESPONSE_HEX"], repeated("0f", 49));
    EXPECT_EQ(e->env["CHAP_ALGORITHM"], "5");
    EXPECT_EQ(e->env["CHAP_ID"], "9");
    EXPECT_EQ(e->env["USER_PASSWORD"], "");
    ASSERT_NE(ds_pamh, nullptr);
    for (const char *key : {"CHAP_CHALLENGE_HEX", "CHAP_RESPONSE_HEX", "USER_PASSWORD"})
        EXPECT_STREQ(pam_getenv(ds_pamh, key), "") << key;
    EXPECT_FALSE(find("authenticate", "ds_no_auth").has_value());  // no fallback unless the stack asks
    EXPECT_EQ(authenticate(protocol::chap, "bob", "x", 1).message, "");  // a one-byte message space
    reset_all();
}

// The stack consulted the local database and refused: the plug-in verifies
// the response against the database's password through ds_no_auth. The
// secret's storage holds 32 bytes: a longer password is refused uncopied.
TEST(Chap, LocalDatabaseFallback) {
    struct row {
        const char *what;
        std::optional<std::string> stored;
        std::string response, no_auth;
        int result, verifier_calls;
        std::string message;
    };
    const std::string p32(32, 'p'), p33(33, 'p');
    const row rows[] = {
        {"not in the database", std::nullopt, "secret", "", 0, 0, pam_text(PAM_AUTH_ERR)},
        {"matching response", "secret", "secret", "ds_no_auth.put FRAMED_MTU=1200", 1, 1, "Access granted"},
        {"wrong response", "secret", "other", "", 0, 1, pam_text(PAM_AUTH_ERR)},
        {"refused by the ds_no_auth stack", "secret", "secret", "ds_no_auth.auth 9", 0, 0, pam_text(9)},
        {"a 32-byte password", p32, p32, "", 1, 1, "Access granted"},
        {"a 33-byte password", p33, p33, "", 0, 0, pam_text(PAM_AUTH_ERR)},
    };
    for (const row &r : rows) {
        reset_all();
        verifier_calls = 0;
        std::vector<std::string> script{"ppp.auth 7", "ppp.attempted_local 1"};
        if (!r.no_auth.empty()) script.push_back(r.no_auth);
        pam_script(script);
        if (r.stored) dev.users["carol"] = *r.stored;
        outcome o = authenticate(protocol::chap, "carol", r.response);
        EXPECT_EQ(o.result, r.result) << r.what;
        EXPECT_EQ(o.message, r.message) << r.what;
        EXPECT_EQ(verifier_calls, r.verifier_calls) << r.what;
        EXPECT_EQ(alert_kinds(), (std::vector<int>{r.result ? 6 : 5})) << r.what;
        EXPECT_EQ(live_pam_handles, 1) << r.what;
        if (r.result) {
            EXPECT_EQ(verifier_secret, *r.stored) << r.what;
            EXPECT_TRUE(find("acct_mgmt", "ds_no_auth").has_value()) << r.what;
        }
    }
    EXPECT_EQ(lcp_wantoptions[0].mru, 0);  // the refused last row applied nothing
    reset_all();
}

TEST(Chap, RechallengeKeepsTheAccountingSession) {
    reset_all();
    pam_handle_t *accounting = test_pam_start("ppp", "frank");
    ASSERT_NE(accounting, nullptr);
    ds_pamh = accounting;
    ds_pamh_holds = ds_transaction::accounting;
    pam_script({"ppp.put IDLE_TIMEOUT=30"});
    for (int i = 0; i < 20; ++i) EXPECT_EQ(authenticate(protocol::chap, "frank", "pw").result, 1);
    pam_script({"ppp.auth 7", "ppp.attempted_local 1"});
    for (int i = 0; i < 20; ++i) EXPECT_EQ(authenticate(protocol::chap, "frank", "pw").result, 0);
    EXPECT_EQ(ds_pamh, accounting);
    EXPECT_EQ(idle_time_limit, 30);
    EXPECT_EQ(live_pam_handles, 0);
    EXPECT_EQ(pam_module_live_transactions(), 0);
    reset_all();
}

}  // namespace
