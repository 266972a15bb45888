// SPDX-License-Identifier: BSD-3-Clause
// PAP: every outcome of the local-user and PAM roads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "plugin/handlers.h"
#include "plugin/state.h"
#include "tests/unit/fakes.h"

namespace {

constexpr int kPort = 2;
const char *const kUnchanged = "unchanged";

struct Pap : ::testing::Test {
    char *msg = const_cast<char *>(kUnchanged);
    void SetUp() override { reset_all(); }
    void TearDown() override { reset_all(); }

    int auth(const char *user, const char *password) {
        msg = const_cast<char *>(kUnchanged);
        return ds_pap_auth(const_cast<char *>(user), const_cast<char *>(password), &msg, nullptr,
                           nullptr);
    }
    void local_user(const std::string &name, const std::string &password) {
        setenv("PORT", std::to_string(kPort).c_str(), 1);
        put_store(store::ppp_block_offset(kPort) + store::kBlockLocalUserName, name);
        put_store(store::ppp_block_offset(kPort) + store::kBlockLocalUserPassword, password);
    }
    std::vector<int> alert_kinds() {
        std::vector<int> kinds;
        for (auto &a : dev.alerts) kinds.push_back(a.first);
        return kinds;
    }
};

TEST_F(Pap, LocalUserAloneDecides) {
    local_user("alice", "Secret");
    EXPECT_EQ(auth("alice", "Secret"), 1);
    EXPECT_EQ(auth("alice", "secret"), 0);
    EXPECT_EQ(auth("bob", "Secret"), 0);
    EXPECT_EQ(alert_kinds(), (std::vector<int>{6, 5, 5}));
    EXPECT_EQ(dev.alerts[0].second, "Authentication successful: alice");
    EXPECT_EQ(dev.alerts[2].second, "Authentication failed: bob");
    EXPECT_STREQ(msg, kUnchanged);
    EXPECT_TRUE(pam_events().empty());
    EXPECT_EQ(ds_pamh, nullptr);
    EXPECT_EQ(daemon_fake.reopen_log_calls, 0);
}

TEST_F(Pap, LocalUserWithEmptyName) {
    local_user("", "pw");
    EXPECT_EQ(auth("", "pw"), 1);
    EXPECT_EQ(auth("x", "pw"), 0);
}

TEST_F(Pap, UnreadableSettingsRefuseInsteadOfFallingThrough) {
    setenv("PORT", std::to_string(kPort).c_str(), 1);
    dev.failing_offsets.insert(store::ppp_block_offset(kPort));
    pam_script({"ppp.auth success"});
    EXPECT_EQ(auth("alice", "pw"), 0);
    EXPECT_EQ(alert_kinds(), (std::vector<int>{5}));
    EXPECT_TRUE(pam_events().empty());
    EXPECT_TRUE(logged_contains(LOG_ERR, "cannot read PPP settings of port 2"));
}

// The store holds ports 0 to 7: another index reads nothing of the store
// (PORT=8 would read the route table as a port) and PAM decides.
TEST_F(Pap, PortsWithoutARecordLeaveThePeerToPam) {
    struct row { const char *port, *nas_port, *nas_port_type, *logged; };
    for (row r : {row{"8", "9", "0", "port 8 has no record"}, row{"40", "41", "0", "port 40 has no record"},
                  row{"99999999999", "2147483647", "0", "port 2147483647 has no record"},
                  row{"-7", "-6", "5", "port -7 has no record"}}) {
        reset_all();
        setenv("PORT", r.port, 1);
        pam_script({"ppp.password pw"});
        EXPECT_EQ(auth("carol", "pw"), 1) << r.port;
        EXPECT_TRUE(dev.reprom_offsets.empty()) << r.port;
        EXPECT_TRUE(logged_contains(LOG_WARNING, std::string("ds_pap_auth(): ") + r.logged)) << r.port;
        auto events = pam_events();
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events[1].env["NAS_PORT"], r.nas_port) << r.port;
        EXPECT_EQ(events[1].env["NAS_PORT_TYPE"], r.nas_port_type) << r.port;
    }
}

TEST_F(Pap, UnsetPortGoesToPamWithoutReadingTheStore) {
    pam_script({"ppp.password pw"});
    EXPECT_EQ(auth("carol", "pw"), 1);
    EXPECT_TRUE(dev.reprom_offsets.empty());
    auto events = pam_events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[1].call, "authenticate");
    EXPECT_EQ(events[1].env["NAS_PORT"], "0");
    EXPECT_EQ(events[1].env["NAS_PORT_TYPE"], "5");
    EXPECT_EQ(events[1].env["USER_PASSWORD"], "pw");
    EXPECT_EQ(events[1].env["PAM_TTY"], "/dev/ttyS3");
}

TEST_F(Pap, PamRefusalKeepsTransactionAndConversation) {
    setenv("PORT", "0", 1);
    pam_script({"ppp.password right"});
    EXPECT_EQ(auth("dave", "wrong"), 0);
    EXPECT_EQ(alert_kinds(), (std::vector<int>{5}));
    EXPECT_STREQ(msg, kUnchanged);
    EXPECT_NE(ds_pamh, nullptr);
    EXPECT_STREQ(ds_conv_user, "dave");
    EXPECT_STREQ(ds_conv_password, "wrong");
    EXPECT_EQ(daemon_fake.reopen_log_calls, 0);
}

TEST_F(Pap, AccountCheckRefusal) {
    pam_script({"ppp.acct 13"});  // PAM_PERM_DENIED... any code will do
    EXPECT_EQ(auth("erin", "pw"), 0);
    EXPECT_EQ(alert_kinds(), (std::vector<int>{6}));
    EXPECT_STREQ(msg, pam_strerror(nullptr, 13));
    EXPECT_EQ(ds_pamh, nullptr);
    EXPECT_EQ(live_pam_handles, 0);
    EXPECT_TRUE(logged_contains(LOG_DEBUG, "ds_pap_auth: authorization failed erin 13"));
}

TEST_F(Pap, AcceptanceAppliesAuthorizationAndKeepsTransaction) {
    pam_script({"ppp.password pw", "ppp.put FRAMED_MTU=1400", "ppp.ask 2 1"});
    EXPECT_EQ(auth("frank", "pw"), 1);
    EXPECT_EQ(alert_kinds(), (std::vector<int>{6}));
    EXPECT_STREQ(msg, pam_strerror(nullptr, PAM_SUCCESS));
    EXPECT_EQ(lcp_wantoptions[0].mru, 1400);
    EXPECT_NE(ds_pamh, nullptr);
    EXPECT_EQ(ds_conv_user, nullptr);
    EXPECT_EQ(ds_conv_password, nullptr);
    EXPECT_EQ(daemon_fake.reopen_log_calls, 1);
    auto events = pam_events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[1].call, "conv");
    EXPECT_EQ(events[1].fields[4], "frank/0");
    EXPECT_EQ(events[1].fields[5], "pw/0");
}

TEST_F(Pap, FailedStartReportsItsError) {
    pam_start_failure = PAM_BUF_ERR;
    EXPECT_EQ(auth("gina", "pw"), 0);
    EXPECT_STREQ(msg, pam_strerror(nullptr, PAM_BUF_ERR));
    EXPECT_TRUE(dev.alerts.empty());
    EXPECT_EQ(daemon_fake.reopen_log_calls, 1);
}

TEST_F(Pap, RepeatedAttemptsLeakNoTransaction) {
    pam_script({"ppp.password right"});
    for (int i = 0; i < 50; ++i) auth("henry", i % 2 ? "right" : "wrong");
    EXPECT_EQ(live_pam_handles, 1);  // the last one, held in ds_pamh
    EXPECT_EQ(pam_module_live_transactions(), 1);
}

TEST_F(Pap, LongUserNameAlertIsCutSafely) {
    std::string user(400, 'u');
    pam_script({"ppp.password right"});
    EXPECT_EQ(auth(user.c_str(), "wrong"), 0);
    ASSERT_EQ(dev.alerts.size(), 1u);
    EXPECT_EQ(dev.alerts[0].second.size(), device::kAlertTextSize - 1);
    EXPECT_EQ(dev.alerts[0].second.rfind("Authentication failed: uuu", 0), 0u);
}

}  // namespace
