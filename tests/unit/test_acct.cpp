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
    std::string classes = "CLASS_VX_ENCODED=" + ds_encode_string_list({"c1", "c2"});
    authenticate({"ppp.put ACCT_AUTHENTICD=2", "ppp.put " + classes});
    pam_handle_t *authentication = ds_pamh;
    ds_acct_start(nullptr, 0);
    ASSERT_NE(ds_pamh, nullptr);
    EXPECT_NE(ds_pamh, authentication);
    EXPECT_TRUE(ds_acct_open);
    EXPECT_EQ(live_pam_handles, 1);

    std::optional<pam_event> open = event("open_session");
    ASSERT_TRUE(open.has_value());
    auto env = open->env;
    EXPECT_EQ(env["USER_NAME"], "alice");
    EXPECT_EQ(env["NAS_PORT"], "5");
    EXPECT_EQ(env["NAS_PORT_TYPE"], "0");
    EXPECT_EQ(env["ACCT_AUTHENTICD"], "2");
    EXPECT_EQ(env["CLASS_VX_ENCODED"], ds_encode_string_list({"c1", "c2"}));
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
    EXPECT_EQ(env["CLASS_VX_ENCODED"], ds_encode_string_list({"c1", "c2"}));
    EXPECT_EQ(close->id, open->id);
    EXPECT_EQ(ds_pamh, nullptr);
    EXPECT_FALSE(ds_acct_open);
    EXPECT_EQ(live_pam_handles, 0);
    EXPECT_EQ(pam_module_live_transactions(), 0);
    EXPECT_EQ(daemon_fake.update_link_stats_calls, 1);
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

TEST_F(Acct, RefusedTransactionIsEndedAtIpUp) {
    pam_script({"ppp.password right"});
    char *msg = nullptr;
    ds_pap_auth(const_cast<char *>("bob"), const_cast<char *>("wrong"), &msg, nullptr, nullptr);
    ASSERT_NE(ds_pamh, nullptr);
    ds_acct_start(nullptr, 0);
    // pam_get_user answers from the refused transaction too: accounting follows it.
    EXPECT_EQ(live_pam_handles, ds_pamh ? 1 : 0);
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
