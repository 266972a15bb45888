// SPDX-License-Identifier: BSD-3-Clause
// Authorization attributes and the address and callback hooks.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "auth/attrs.h"
#include "device/string_list.h"
#include "platform/pam_env.h"
#include "plugin/handlers.h"
#include "plugin/state.h"
#include "tests/unit/fakes.h"

namespace {

struct Authz : ::testing::Test {
    pam_handle_t *pamh = nullptr;
    void SetUp() override { reset_all(); }
    void TearDown() override {
        if (pamh) pam_end(pamh, PAM_SUCCESS);
        reset_all();
    }
    // Applies a fresh environment holding exactly `attrs`.
    void apply(std::initializer_list<std::string> attrs) {
        if (pamh) pam_end(pamh, PAM_SUCCESS);
        pamh = test_pam_start("ppp", "u");
        ASSERT_NE(pamh, nullptr);
        for (const auto &a : attrs) ASSERT_EQ(pam_putenv(pamh, a.c_str()), PAM_SUCCESS);
        EXPECT_EQ(ds_apply_authz_attrs(pamh), 1);
    }
};

u_int32_t ip(const char *text) { return inet_addr(text); }

TEST_F(Authz, FramedAddressGrantsClearsAndKeeps) {
    // 167772172 is 0x0a00000c: the first octet is the most significant, and
    // the daemon wants the address as the bytes 10 0 0 12 on any CPU.
    apply({"FRAMED_IP_ADDRESS=167772172"});
    const unsigned char wire[] = {0x0a, 0x00, 0x00, 0x0c};
    EXPECT_EQ(std::memcmp(&ds_framed_ip, wire, sizeof wire), 0);
    apply({"FRAMED_IP_ADDRESS=167772162"});  // 10.0.0.2
    EXPECT_EQ(ds_framed_ip, ip("10.0.0.2"));
    u_int32_t addr = ip("10.9.9.9");
    ds_ip_choose(&addr);
    EXPECT_EQ(addr, ip("10.0.0.2"));
    EXPECT_EQ(ds_allowed_address(ip("10.0.0.2")), 1);
    EXPECT_EQ(ds_allowed_address(ip("10.0.0.3")), 0);

    apply({"FRAMED_IP_ADDRESS=-2"});
    EXPECT_EQ(ds_framed_ip, ip("10.0.0.2"));
    apply({"FRAMED_IP_ADDRESS=4294967294"});  // outside the signed range: ignored
    EXPECT_EQ(ds_framed_ip, ip("10.0.0.2"));
    apply({});
    EXPECT_EQ(ds_framed_ip, ip("10.0.0.2"));

    apply({"FRAMED_IP_ADDRESS=-1"});
    EXPECT_EQ(ds_framed_ip, 0u);
    addr = ip("10.9.9.9");
    ds_ip_choose(&addr);
    EXPECT_EQ(addr, ip("10.9.9.9"));
    EXPECT_EQ(ds_allowed_address(ip("192.0.2.1")), 1);

    apply({"FRAMED_IP_ADDRESS=-1062731775"});  // 192.168.0.1 as a signed pattern
    EXPECT_EQ(ds_framed_ip, ip("192.168.0.1"));
}

// A value the daemon cannot use is ignored with a line naming it, and the
// daemon's own value stays; the bounds themselves are taken.
TEST_F(Authz, ScalarsOutsideWhatTheDaemonTakesAreIgnored) {
    struct row {
        const char *attr;
        int *field;
        int taken;  // -1: ignored, the value before stays
    };
    const row rows[] = {
        {"FRAMED_MTU=abc", &lcp_wantoptions[0].mru, -1},
        {"FRAMED_MTU=", &lcp_wantoptions[0].mru, -1},
        {"FRAMED_MTU=1500x", &lcp_wantoptions[0].mru, -1},
        {"FRAMED_MTU=127", &lcp_wantoptions[0].mru, -1},
        {"FRAMED_MTU=16385", &lcp_wantoptions[0].mru, -1},
        {"FRAMED_MTU=99999999999999999999", &lcp_wantoptions[0].mru, -1},
        {"FRAMED_MTU=128", &lcp_wantoptions[0].mru, 128},
        {"FRAMED_MTU=16384", &lcp_wantoptions[0].mru, 16384},
        {"SESSION_TIMEOUT=-1", &maxconnect, -1},
        {"SESSION_TIMEOUT=ten", &maxconnect, -1},
        {"SESSION_TIMEOUT=0", &maxconnect, 0},
        {"IDLE_TIMEOUT=-300", &idle_time_limit, -1},
        {"IDLE_TIMEOUT=2147483648", &idle_time_limit, -1},
        {"IDLE_TIMEOUT=2147483647", &idle_time_limit, 2147483647},
    };
    for (const row &r : rows) {
        reset_all();
        lcp_wantoptions[0].mru = 1500;
        lcp_wantoptions[0].neg_mru = 0;
        maxconnect = idle_time_limit = 77;
        int before = *r.field;
        logged.clear();
        apply({r.attr});
        EXPECT_EQ(*r.field, r.taken < 0 ? before : r.taken) << r.attr;
        if (r.field == &lcp_wantoptions[0].mru) {
            EXPECT_EQ(lcp_wantoptions[0].neg_mru, r.taken < 0 ? 0 : 1) << r.attr;
        }
        EXPECT_EQ(logged_contains(LOG_WARNING, "is not a number from"), r.taken < 0) << r.attr;
    }
}

// Compression is a flag, read as atoi reads it: never refused.
TEST_F(Authz, CompressionIsAFlag) {
    for (auto [attr, flag] : {std::pair{"FRAMED_COMPRESSION=abc", 0}, {"FRAMED_COMPRESSION=257", 1}, {"FRAMED_COMPRESSION=0", 0}}) {
        ipcp_wantoptions[0].neg_vj = !flag;
        apply({attr});
        EXPECT_EQ(ipcp_wantoptions[0].neg_vj, flag) << attr;
    }
}

// The DNS servers offered to the peer: a unicast IPv4 address is taken; 0,
// loopback, multicast, the broadcast address or no address at all is
// ignored with a line, and the daemon's own stays.
TEST_F(Authz, DnsServersMustBeUnicast) {
    struct row {
        std::string value;
        const char *offered;
    };
    auto encoded = [](const char *a) { return pam_env::encode_address(inet_addr(a)); };
    const row rows[] = {
        {encoded("198.51.100.53"), "198.51.100.53"},
        {encoded("0.0.0.0"), "192.0.2.1"},
        {encoded("127.0.0.1"), "192.0.2.1"},
        {encoded("224.0.0.1"), "192.0.2.1"},
        {encoded("255.255.255.255"), "192.0.2.1"},
        {"dns.example", "192.0.2.1"},
    };
    for (const row &r : rows) {
        for (std::size_t i = 0; i < pppd::kDnsServers; ++i) {
            reset_all();
            ipcp_allowoptions[0].dnsaddr[i] = inet_addr("192.0.2.1");
            apply({std::string(pam_env::kMsDnsServers[i]) + "=" + r.value});
            EXPECT_EQ(ipcp_allowoptions[0].dnsaddr[i], inet_addr(r.offered)) << r.value << " as server " << i;
            EXPECT_EQ(logged_contains(LOG_WARNING, "is not a unicast IPv4 address"),
                      std::string(r.offered) == "192.0.2.1") << r.value;
        }
    }
}

TEST_F(Authz, ListsAreReplacedOrEmptied) {
    std::string routes = "FRAMED_ROUTE=" + pam_env::encode_list({"10.1.0.0/16 0.0.0.0",
                                                                  "10.2.0.0/16 10.0.0.9 5"});
    std::string classes = "CLASS_VX_ENCODED=" + pam_env::encode_list({"0a0b"});
    apply({routes, classes, "FRAMED_IPV6_ROUTE=" + pam_env::encode_list({"2001:db8::/32 ::"})});
    EXPECT_EQ(pamutil_string_list_count(ds_routes_v4), 2);
    EXPECT_STREQ(pamutil_string_list_at(ds_routes_v4, 1), "10.2.0.0/16 10.0.0.9 5");
    EXPECT_EQ(pamutil_string_list_count(ds_routes_v6), 1);
    EXPECT_EQ(pamutil_string_list_count(ds_class_list), 1);
    apply({"FRAMED_ROUTE=not a list"});
    EXPECT_EQ(ds_routes_v4, nullptr);
    EXPECT_EQ(ds_routes_v6, nullptr);
    EXPECT_EQ(ds_class_list, nullptr);
}

TEST_F(Authz, InterfaceIdentifierNeedsZeroUpperHalf) {
    apply({"FRAMED_INTERFACE_ID=::1:2:3:4"});
    const unsigned char expected[8] = {0, 1, 0, 2, 0, 3, 0, 4};
    EXPECT_EQ(std::memcmp(ipv6cp_wantoptions[0].hisid.e8, expected, 8), 0);
    apply({"FRAMED_INTERFACE_ID=fe80::1"});
    EXPECT_EQ(std::memcmp(ipv6cp_wantoptions[0].hisid.e8, expected, 8), 0);
    apply({"FRAMED_INTERFACE_ID=garbage"});
    EXPECT_EQ(std::memcmp(ipv6cp_wantoptions[0].hisid.e8, expected, 8), 0);
}

TEST_F(Authz, CallbackNumberAndAllowedSets) {
    apply({"LOGIN_CALLBACK_NUMBER=555", "FRAMED_CALLBACK_ID=", "FRAMED_CALLBACK_ENABLED=1"});
    EXPECT_STREQ(ds_callback_number, "555");
    apply({"LOGIN_CALLBACK_NUMBER=555", "FRAMED_CALLBACK_ID=777"});
    EXPECT_STREQ(ds_callback_number, "777");

    // The daemon owns the number the state held: the plug-in leaves it alone
    // (were it freed there, the free below would be a double free).
    cbcp_state state{};
    char *daemons_number = strdup("stale");
    state.us_number = daemons_number;
    ds_cbcp_init(&state);
    EXPECT_EQ(state.us_allowed, 10);
    ASSERT_NE(state.us_number, nullptr);
    EXPECT_STREQ(state.us_number, "777");
    EXPECT_EQ(ds_callback_number, nullptr);
    std::free(daemons_number);
    std::free(state.us_number);
    state.us_number = nullptr;

    ds_cbcp_init(&state);
    EXPECT_EQ(state.us_allowed, 6);
    EXPECT_EQ(state.us_number, nullptr);

    apply({"FRAMED_CALLBACK_ENABLED=0", "LOGIN_CALLBACK_NUMBER=123"});
    ds_cbcp_init(&state);
    EXPECT_EQ(state.us_allowed, 2);
    EXPECT_EQ(state.us_number, nullptr);
    EXPECT_EQ(ds_callback_number, nullptr);
}

}  // namespace
