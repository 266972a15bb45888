// SPDX-License-Identifier: BSD-3-Clause
// Accounting session from IP-up to IP-down, and the link-down clean-up.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "device/string_list.h"
#include "platform/pam_env.h"
#include "plugin/handlers.h"
#include "plugin/state.h"
#include "tests/unit/fakes.h"

namespace {

struct Acct : ::testing::Test {
    void SetUp() override { reset_all(); }
    void TearDown() override { reset_all(); }

    void authenticate(std::initializer_list<std::string> script) {
        pam_script(script);
        char *msg = nullptr;
        ASSERT_EQ(ds_pap_auth(const_cast<char *>("alice"), const_cast<char *>("pw"), &msg,
                              nullptr, nullptr),
                  1);
    }
    std::optional<pam_event> event(const std::string &call) {
        for (auto &e : pam_events())
            if (e.call == call) return e;
        return std::nullopt;
    }
};

TEST_F(Acct, SessionCarriesUserClassAndCounters) {
    setenv("PORT", "4", 1);
    std::string classes = "CLASS_VX_ENCODED=" + pam_env::encode_list({"c1", "c2"});
    authenticate({"ppp.put ACCT_AUTHENTICD=2", "ppp.put " + classes});
    ds_acct_start(nullptr, 0);
    ASSERT_NE(ds_pamh, nullptr);
    EXPECT_EQ(ds_pamh_holds, ds_transaction::accounting);
    EXPECT_EQ(live_pam_handles, 1);

    // A transaction of its own, not the authentication's (the module names
    // each transaction; handle addresses may be reused by the allocator).
    std::optional<pam_event> auth = event("authenticate");
    std::optional<pam_event> open = event("open_session");
    ASSERT_TRUE(auth.has_value() && open.has_value());
    EXPECT_NE(open->id, auth->id);
    auto env = open->env;
    EXPECT_EQ(env["USER_NAME"], "alice");
    EXPECT_EQ(env["SERVICE_TYPE"], "2");     // Framed
    EXPECT_EQ(env["FRAMED_PROTOCOL"], "1");  // PPP
    EXPECT_EQ(env["NAS_PORT"], "5");
    EXPECT_EQ(env["NAS_PORT_TYPE"], "0");
    EXPECT_EQ(env["ACCT_AUTHENTICD"], "2");
    EXPECT_EQ(env["CLASS_VX_ENCODED"], pam_env::encode_list({"c1", "c2"}));
    EXPECT_EQ(env.count("USER_PASSWORD"), 0u);

    daemon_fake.stats_at_down = {3000000000u, 42, 7, 8};
    daemon_fake.connect_time_at_down = 61;
    ds_acct_stop(nullptr, 0);
    std::optional<pam_event> close = event("close_session");
    ASSERT_TRUE(close.has_value());
    env = close->env;
    EXPECT_EQ(env["ACCT_INPUT_OCTETS"], "-1294967296");
    EXPECT_EQ(env["ACCT_OUTPUT_OCTETS"], "42");
    EXPECT_EQ(env["ACCT_SESSION_TIME"], "61");
    EXPECT_EQ(env["ACCT_INPUT_PACKETS"], "7");
    EXPECT_EQ(env["ACCT_OUTPUT_PACKETS"], "8");
    EXPECT_EQ(env["CLASS_VX_ENCODED"], pam_env::encode_list({"c1", "c2"}));
    EXPECT_EQ(close->id, open->id);
    EXPECT_EQ(ds_pamh, nullptr);
    EXPECT_EQ(ds_pamh_holds, ds_transaction::none);
    EXPECT_EQ(live_pam_handles, 0);
    EXPECT_EQ(pam_module_live_transactions(), 0);
    EXPECT_EQ(env["ACCT_INPUT_GIGAWORDS"], "0");
    EXPECT_EQ(sim_pending_timers(), 0u);  // no tick may come after the session is gone
    EXPECT_EQ(dev.calls, (std::vector<std::string>{"deletePortRoutes 4", "deleteIPv6Tunnel 4"}));
}

TEST_F(Acct, AuthenticAbsentStaysAbsent) {
    authenticate({});
    ds_acct_start(nullptr, 0);
    std::optional<pam_event> open = event("open_session");
    ASSERT_TRUE(open.has_value());
    EXPECT_EQ(open->env.count("ACCT_AUTHENTICD"), 0u);
    EXPECT_EQ(open->env.at("NAS_PORT_TYPE"), "5");
}

TEST_F(Acct, WithoutAuthenticationOnlyCleanUpRuns) {
    setenv("PORT", "0", 1);
    ds_acct_start(nullptr, 0);
    EXPECT_EQ(ds_pamh, nullptr);
    pid_t child = fork();
    if (child == 0) {
        pause();
        _exit(0);
    }
    ds_dyndns_pid = child;
    ds_acct_stop(nullptr, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(ds_dyndns_pid, 0);
    ds_acct_stop(nullptr, 0);  // a second IP-down finds nothing but cleans up again
    EXPECT_EQ(dev.calls.size(), 4u);
    EXPECT_TRUE(pam_events().empty());
    EXPECT_EQ(daemon_fake.reopen_log_calls, 2);
}

// A PAM refusal leaves its transaction in ds_pamh; when the next link of the
// daemon is accepted by the port's local user, IP-up must not open
// accounting under the refused user's name.
TEST_F(Acct, RefusedTransactionIsNeverCharged) {
    pam_script({"ppp.password right"});
    char *msg = nullptr;
    ds_pap_auth(const_cast<char *>("mallory"), const_cast<char *>("wrong"), &msg, nullptr, nullptr);
    ASSERT_NE(ds_pamh, nullptr);
    setenv("PORT", "2", 1);
    put_store(store::ppp_block_offset(2) + store::kBlockLocalUserName, "dave");
    put_store(store::ppp_block_offset(2) + store::kBlockLocalUserPassword, "dpw");
    ASSERT_EQ(ds_pap_auth(const_cast<char *>("dave"), const_cast<char *>("dpw"), &msg, nullptr, nullptr), 1);
    ds_acct_start(nullptr, 0);
    EXPECT_FALSE(event("open_session").has_value());
    EXPECT_EQ(ds_pamh, nullptr);
    EXPECT_EQ(live_pam_handles, 0);
    EXPECT_EQ(pam_module_live_transactions(), 0);
}

// IP-up again without IP-down (a daemon re-running its up hooks): the open
// session is closed with its counters before the same user's new one opens.
TEST_F(Acct, SecondIpUpStopsTheOpenSessionFirst) {
    authenticate({"ppp.put ACCT_AUTHENTICD=1"});
    ds_acct_start(nullptr, 0);
    daemon_fake.stats_at_down = {1000, 2000, 3, 4};
    daemon_fake.connect_time_at_down = 30;
    ds_acct_start(nullptr, 0);
    std::vector<pam_event> sessions;
    for (auto &e : pam_events())
        if (e.call == "open_session" || e.call == "close_session") sessions.push_back(e);
    ASSERT_EQ(sessions.size(), 3u);
    EXPECT_EQ(sessions[0].call, "open_session");
    EXPECT_EQ(sessions[1].call, "close_session");
    EXPECT_EQ(sessions[1].id, sessions[0].id);
    EXPECT_EQ(sessions[1].env["ACCT_INPUT_OCTETS"], "1000");
    EXPECT_EQ(sessions[1].env["ACCT_SESSION_TIME"], "30");
    EXPECT_EQ(sessions[2].call, "open_session");
    EXPECT_NE(sessions[2].id, sessions[0].id);
    EXPECT_EQ(sessions[2].env["USER_NAME"], "alice");
    EXPECT_EQ(sessions[2].env["ACCT_AUTHENTICD"], "1");
    EXPECT_EQ(ds_pamh_holds, ds_transaction::accounting);
    EXPECT_EQ(live_pam_handles, 1);
}

TEST_F(Acct, UnsetPortSkipsRouteRemoval) {
    ds_acct_stop(nullptr, 0);
    EXPECT_TRUE(dev.calls.empty());
}

TEST_F(Acct, LinkNameTooLongForMarkerWritesNothing) {
    std::string name(100, 'l');
    std::snprintf(linkname, sizeof linkname, "%s", name.c_str());
    ds_acct_start(nullptr, 0);
    ds_acct_stop(nullptr, 0);
    EXPECT_TRUE(logged_contains(LOG_ERR, "link name too long for the marker file"));
    std::string truncated = "/var/run/ppp-" + name.substr(0, 80 - 14);
    EXPECT_NE(access(truncated.c_str(), F_OK), 0);
}

}  // namespace
