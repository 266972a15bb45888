// SPDX-License-Identifier: BSD-3-Clause
// Every call starts clean: what one caller's authorization set is gone when
// the next link starts (before its LCP request), while within one call (a
// CHAP re-challenge) an absent attribute keeps its value. And the caller's
// number travels with the request attributes.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/pam_env.h"
#include "plugin/call_defaults.h"
#include "plugin/handlers.h"
#include "plugin/state.h"
#include "tests/unit/fakes.h"

namespace {

u_int32_t ip(const char *text) { return inet_addr(text); }
std::string address(const char *text) { return pam_env::encode_address(ip(text)); }
std::string ip_text(u_int32_t a) { return inet_ntoa(in_addr{a}); }
std::string id_text(const eui64_t &id) { return pam_env::encode_interface_id(id.e8); }
std::string list_count(const pamutil_string_list *l) {
    return l == nullptr ? "none" : std::to_string(pamutil_string_list_count(l));
}

struct CleanStart : ::testing::Test {
    char *msg = nullptr;
    void SetUp() override {
        reset_all();
        // The daemon's own configuration, from its options.
        lcp_wantoptions[0].mru = 1500;
        lcp_wantoptions[0].neg_mru = 0;
        ipcp_wantoptions[0].neg_vj = 1;
        maxconnect = 7200;
        idle_time_limit = 900;
        const unsigned char id[] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
        std::memcpy(ipv6cp_wantoptions[0].hisid.e8, id, sizeof id);
        ipcp_allowoptions[0].dnsaddr[0] = ip("192.0.2.1");
        ipcp_allowoptions[0].dnsaddr[1] = ip("192.0.2.2");
    }
    void TearDown() override { reset_all(); }
    int pap(const char *user, std::vector<std::string> grants) {
        std::vector<std::string> script{"ppp.password pw"};
        for (auto &g : grants) script.push_back("ppp.put " + g);
        pam_script(script);
        return ds_pap_auth(const_cast<char *>(user), const_cast<char *>("pw"), &msg, nullptr, nullptr);
    }
    // The daemon starts the next link: a new call.
    void next_link() { ds_phase_changed(nullptr, pppd::kPhaseSerialConn); }
};

// Each value authorization may change: a first caller's grant, and the
// daemon's own value back for a second caller whose accept has no attributes.
TEST_F(CleanStart, EveryGrantEndsWithItsCall) {
    struct row {
        std::vector<std::string> grant;
        std::function<std::string()> read;
        std::string granted, daemons;
    };
    const row rows[] = {
        {{"FRAMED_IP_ADDRESS=167772172"}, [] { return ip_text(ds_framed_ip); }, "10.0.0.12", "0.0.0.0"},
        {{"FRAMED_MTU=1400"},
         [] { return std::to_string(lcp_wantoptions[0].mru) + "/" + std::to_string(lcp_wantoptions[0].neg_mru); },
         "1400/1", "1500/0"},
        {{"FRAMED_COMPRESSION=0"}, [] { return std::to_string(ipcp_wantoptions[0].neg_vj); }, "0", "1"},
        {{"SESSION_TIMEOUT=60"}, [] { return std::to_string(maxconnect); }, "60", "7200"},
        {{"IDLE_TIMEOUT=30"}, [] { return std::to_string(idle_time_limit); }, "30", "900"},
        {{"FRAMED_CALLBACK_ENABLED=1", "LOGIN_CALLBACK_NUMBER=555"},
         [] { return std::to_string(ds_callback_enabled) + "/" + (ds_callback_number ? ds_callback_number : "-"); },
         "1/555", "0/-"},
        {{"FRAMED_INTERFACE_ID=::9:9:9:9"}, [] { return id_text(ipv6cp_wantoptions[0].hisid); }, "::9:9:9:9",
         "::211:2233:4455:6677"},
        {{"MS_PRIMARY_DNS_SERVER=" + address("198.51.100.53")},
         [] { return ip_text(ipcp_allowoptions[0].dnsaddr[0]); }, "198.51.100.53", "192.0.2.1"},
        {{"MS_SECONDARY_DNS_SERVER=" + address("198.51.100.54")},
         [] { return ip_text(ipcp_allowoptions[0].dnsaddr[1]); }, "198.51.100.54", "192.0.2.2"},
        {{"FRAMED_ROUTE=" + pam_env::encode_list({"10.1.0.0/16 0.0.0.0"})}, [] { return list_count(ds_routes_v4); },
         "1", "none"},
        {{"FRAMED_IPV6_ROUTE=" + pam_env::encode_list({"2001:db8::/32 ::"})},
         [] { return list_count(ds_routes_v6); }, "1", "none"},
        {{"CLASS_VX_ENCODED=" + pam_env::encode_list({"0a0b"})}, [] { return list_count(ds_class_list); }, "1",
         "none"},
    };
    for (const row &r : rows) {
        SetUp();
        ASSERT_EQ(pap("first", r.grant), 1) << r.grant[0];
        EXPECT_EQ(r.read(), r.granted) << r.grant[0];
        // Hung up before IP-up, or after IP-down: the next link starts.
        next_link();
        EXPECT_EQ(r.read(), r.daemons) << r.grant[0] << ": back before the next LCP request";
        ASSERT_EQ(pap("second", {}), 1);
        EXPECT_EQ(r.read(), r.daemons) << r.grant[0] << ": the second caller";
        // A caller granted it again, then a refused one on the next link.
        ASSERT_EQ(pap("third", r.grant), 1);
        next_link();
        pam_script({"ppp.auth 7"});  // PAM_AUTH_ERR
        EXPECT_EQ(ds_pap_auth(const_cast<char *>("refused"), const_cast<char *>("x"), &msg, nullptr, nullptr), 0);
        EXPECT_EQ(r.read(), r.daemons) << r.grant[0] << ": after a refused call";
    }
}

// The daemon's values are those it had when the first caller came, not at
// load time: options parsed after plugin_init count.
TEST_F(CleanStart, KeptAtTheFirstAuthenticationNotBefore) {
    next_link();  // nothing kept yet: nothing to put back
    EXPECT_EQ(maxconnect, 7200);
    maxconnect = 3600;  // a later option
    ASSERT_EQ(pap("first", {"SESSION_TIMEOUT=60"}), 1);
    next_link();
    EXPECT_EQ(maxconnect, 3600);
    for (int phase : {pppd::kPhaseEstablish, pppd::kPhaseAuthenticate, pppd::kPhaseNetwork, pppd::kPhaseRunning,
                      pppd::kPhaseTerminate, pppd::kPhaseDisconnect, pppd::kPhaseDead}) {
        ASSERT_EQ(pap("again", {"SESSION_TIMEOUT=60"}), 1);
        ds_phase_changed(nullptr, phase);
        EXPECT_EQ(maxconnect, 60) << "phase " << phase << " starts no new call";
    }
}

// A CHAP re-challenge of a link that is up is no new call: an attribute the
// stack leaves out this time keeps the value the call was granted.
TEST_F(CleanStart, RechallengeKeepsTheCallsValues) {
    auto verify = [](int, char *, unsigned char *, int, unsigned char *, unsigned char *, char *message,
                     int space) {
        std::snprintf(message, space, "Access granted");
        return 1;
    };
    chap_digest_type digest = {pppd::kChapMd5, nullptr, verify, nullptr, nullptr, nullptr, nullptr};
    unsigned char challenge[17] = {16}, response[17] = {16}, message[pppd::kChapMessageSpace];
    auto chap = [&](std::vector<std::string> script) {
        pam_script(script);
        return ds_chap_auth(const_cast<char *>("carol"), const_cast<char *>("server"), 1, &digest, challenge,
                            response, message, sizeof message);
    };
    ASSERT_EQ(chap({"ppp.auth success", "ppp.put FRAMED_MTU=1400", "ppp.put SESSION_TIMEOUT=60"}), 1);
    ASSERT_EQ(chap({"ppp.auth success", "ppp.put FRAMED_COMPRESSION=0"}), 1);
    EXPECT_EQ(lcp_wantoptions[0].mru, 1400);
    EXPECT_EQ(maxconnect, 60);
    EXPECT_EQ(ipcp_wantoptions[0].neg_vj, 0);
    next_link();
    EXPECT_EQ(lcp_wantoptions[0].mru, 1500);
    EXPECT_EQ(maxconnect, 7200);
    EXPECT_EQ(ipcp_wantoptions[0].neg_vj, 1);
}

// The caller's number goes with the request attributes when it can be sent
// as it is; a number with a control character or too long for
// Calling-Station-Id stays out, with a line.
TEST_F(CleanStart, CallersNumberTravelsWithTheRequest) {
    struct row {
        std::string number, sent;
        bool logged_line;
    };
    const row rows[] = {
        {"", "(none)", false},
        {"+1 555 0100", "+1 555 0100", false},
        {std::string(pam_env::kMaxText, '5'), std::string(pam_env::kMaxText, '5'), false},
        {std::string(pam_env::kMaxText + 1, '5'), "(none)", true},
        {"555\n0100", "(none)", true},
    };
    for (const row &r : rows) {
        SetUp();
        std::snprintf(remote_number, sizeof remote_number, "%s", r.number.c_str());
        ASSERT_EQ(pap("first", {}), 1);
        std::string sent = "(none)";
        for (const auto &e : pam_events())
            if (e.call == "authenticate" && e.env.count(pam_env::kCallingStationId))
                sent = e.env.at(pam_env::kCallingStationId);
        EXPECT_EQ(sent, r.sent) << r.number;
        EXPECT_EQ(logged_contains(LOG_WARNING, "Calling-Station-Id not sent"), r.logged_line) << r.number;
    }
}

}  // namespace
