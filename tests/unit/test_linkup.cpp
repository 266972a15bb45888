// SPDX-License-Identifier: BSD-3-Clause
// IPv4 and IPv6 link-up, the dynamic-DNS launcher's early results and the
// resolver line rule.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "linkup/resolv_line.h"
#include "plugin/handlers.h"
#include "plugin/state.h"
#include "tests/unit/fakes.h"

namespace {

void put_addr(int offset, const char *text) {
    unsigned char addr[16] = {};
    in_addr v4{};
    if (inet_pton(AF_INET, text, &v4) == 1) {
        addr[10] = addr[11] = 0xff;
        std::memcpy(addr + 12, &v4, 4);
    } else {
        ASSERT_EQ(inet_pton(AF_INET6, text, addr), 1) << text;
    }
    std::memcpy(dev.store.data() + offset, addr, 16);
}

void route(int i, unsigned type, const char *dest, unsigned prefix, unsigned host,
           bool via = true) {
    int at = store::route_offset(i);
    put_store_byte(at + store::kRouteType, static_cast<unsigned char>(type));
    put_addr(at + store::kRouteDest, dest);
    put_store_byte(at + store::kRouteHost, static_cast<unsigned char>(host));
    put_store_byte(at + store::kRouteViaHost, via);
    put_store_byte(at + store::kRoutePrefixLen, static_cast<unsigned char>(prefix));
}

void host(int n, const char *addr, bool enabled = true) {
    put_addr(store::host_offset(n) + store::kHostAddr, addr);
    put_store_byte(store::host_offset(n) + store::kHostEnabled, enabled);
}

void id(eui64_t &target, const char *text) {
    unsigned char addr[16];
    ASSERT_EQ(inet_pton(AF_INET6, text, addr), 1);
    std::memcpy(target.e8, addr + 8, 8);
}

struct Linkup : ::testing::Test {
    void SetUp() override {
        reset_all();
        ipcp_gotoptions[0].ouraddr = inet_addr("10.0.0.1");
        ipcp_hisoptions[0].hisaddr = inet_addr("10.0.0.2");
        ipcp_wantoptions[0].ouraddr = inet_addr("10.0.0.3");
        ipcp_wantoptions[0].hisaddr = inet_addr("10.0.0.4");
        id(ipv6cp_gotoptions[0].ourid, "::1");
        id(ipv6cp_hisoptions[0].hisid, "::2");
        id(ipv6cp_wantoptions[0].ourid, "::3");
        id(ipv6cp_wantoptions[0].hisid, "::4");
    }
    void TearDown() override { reset_all(); }

    std::vector<std::string> routes() {
        std::vector<std::string> out;
        for (auto &c : dev.calls)
            if (c.rfind("route", 0) == 0) out.push_back(c);
        return out;
    }
    bool read_at(int offset) {
        for (int o : dev.reprom_offsets)
            if (o == offset) return true;
        return false;
    }
};

TEST_F(Linkup, StaticRoutesFollowTheLinkEndpoints) {
    host(1, "10.0.0.2");
    host(2, "10.0.0.1");
    host(3, "10.0.0.3");
    host(4, "10.0.0.4");
    host(5, "fe80::2");
    host(6, "2001:db8::3");
    host(7, "10.9.9.9");
    host(8, "10.0.0.2", false);
    host(9, "2001:db8::99");
    route(0, 0, "192.168.1.0", 120, 1);
    route(1, 1, "192.168.2.5", 128, 2);
    route(2, 0, "192.168.3.0", 96, 1);
    route(3, 0, "192.168.4.0", 129, 1);
    route(4, 0, "172.16.9.9", 97, 3);
    route(5, 2, "1.2.3.4", 7, 4);
    route(6, 2, "::", 64, 5);
    route(7, 0, "2001:db8:5::", 48, 6);
    route(8, 0, "192.168.8.0", 120, 7);
    route(9, 0, "192.168.9.0", 120, 8);
    route(10, 3, "192.168.10.0", 120, 1);
    route(11, 0, "192.168.11.0", 120, 42, false);
    route(12, 0, "2001:db8:12::", 48, 9);

    ds_ip_up();
    EXPECT_EQ(routes(), (std::vector<std::string>{
                            "route4 192.168.1.0/255.255.255.0 via 10.0.0.2 dev dstest0",
                            "route4 192.168.2.5/255.255.255.255 via 10.0.0.1 dev dstest0",
                            "route4 172.16.9.9/128.0.0.0 via 10.0.0.3 dev dstest0",
                            "route4 0.0.0.0/0.0.0.0 via 10.0.0.4 dev dstest0",
                            "route6 ::/0 via fe80::2 dev dstest0",
                            "route6 2001:db8:5::/48 via 2001:db8::3 dev dstest0",
                        }));
    EXPECT_EQ(dev.calls.front(), "radius4 0 dstest0 10.0.0.2");
    EXPECT_TRUE(read_at(store::host_offset(1)));  // type 3 still reads its host
    EXPECT_FALSE(read_at(store::host_offset(42)));
    EXPECT_FALSE(read_at(store::host_offset(0)));  // entries without a host read none
}

// A route record and its host entry as the store holds them, byte by byte:
// addresses in IPv4-mapped form and network order, prefix 96 + 24.
TEST_F(Linkup, StoreRecordBytesGiveTheRoute) {
    const unsigned char record[] = {
        0x00,                                                  // type: network
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 192, 168, 1, 0,  // destination
        0x01, 0x01, 0x78,                                      // host 1, via host, prefix 120
    };
    const unsigned char gateway[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 10, 0, 0, 2};
    std::memcpy(dev.store.data() + store::route_offset(0), record, sizeof record);
    std::memcpy(dev.store.data() + store::host_offset(1) + store::kHostAddr, gateway, sizeof gateway);
    put_store_byte(store::host_offset(1) + store::kHostEnabled, 1);
    ds_ip_up();
    EXPECT_EQ(routes(), (std::vector<std::string>{
                            "route4 192.168.1.0/255.255.255.0 via 10.0.0.2 dev dstest0"}));
}

TEST_F(Linkup, ZeroGatewayMatchesZeroLinkAddress) {
    ipcp_wantoptions[0].hisaddr = 0;
    host(3, "0.0.0.0");
    route(0, 0, "192.168.1.0", 120, 3);
    ds_ip_up();
    EXPECT_EQ(routes(), (std::vector<std::string>{
                            "route4 192.168.1.0/255.255.255.0 via 0.0.0.0 dev dstest0"}));
}

TEST_F(Linkup, FailedReadEndsTheHandler) {
    setenv("PORT", "2", 1);
    host(1, "10.0.0.2");
    route(0, 0, "192.168.1.0", 120, 1);
    route(1, 0, "192.168.2.0", 120, 1);
    route(2, 0, "192.168.3.0", 120, 5);
    dev.failing_offsets.insert(store::host_offset(5));
    ds_ip_up();
    EXPECT_EQ(routes().size(), 2u);
    EXPECT_FALSE(read_at(store::route_offset(3)));
    for (auto &c : dev.calls) EXPECT_EQ(c.find("Port"), std::string::npos) << c;
}

TEST_F(Linkup, PortServicesFollowTheRoutes) {
    setenv("PORT", "2", 1);
    ds_ip_up();
    std::vector<std::string> expected = {"radius4 0 dstest0 10.0.0.2", "createPortRoutes 2 4",
                                         "createIPv6Tunnel 2", "get_semaphore 14 /tmp/psema4"};
    EXPECT_EQ(dev.calls, expected);
    EXPECT_TRUE(read_at(store::kGlobalOffset));  // the launcher ran: dynamic DNS is off
    EXPECT_EQ(ds_dyndns_pid, 0);
    EXPECT_EQ(dev.releases, 1);

    dev = fake_device{};
    ipcp_hisoptions[0].hisaddr = 0;
    ds_dyndns_pid = 4242;  // a recorded client: no second launch
    ds_ip_up();
    EXPECT_EQ(dev.calls[1], "createIPv6Tunnel 2");
    EXPECT_FALSE(read_at(store::kGlobalOffset));
    EXPECT_EQ(ds_dyndns_pid, 4242);
    ds_dyndns_pid = 0;
}

TEST_F(Linkup, UnsetPortStopsAfterStaticRoutes) {
    ds_ip_up();
    EXPECT_EQ(dev.calls, (std::vector<std::string>{"radius4 0 dstest0 10.0.0.2"}));
}

TEST_F(Linkup, Ipv6StopsWithoutPortPeerIdPrefixOrFlag) {
    ds_ipv6_up();
    EXPECT_EQ(dev.calls, (std::vector<std::string>{"radius6 0 dstest0"}));

    setenv("PORT", "1", 1);
    std::memset(&ipv6cp_hisoptions[0].hisid, 0, 8);
    dev = fake_device{};
    ds_ipv6_up();
    EXPECT_EQ(dev.calls, (std::vector<std::string>{"radius6 0 dstest0"}));

    id(ipv6cp_hisoptions[0].hisid, "::2");
    dev.failing_offsets.insert(store::port_offset(1));
    ds_ipv6_up();
    EXPECT_TRUE(logged_contains(LOG_INFO, "ds_ipv6_up(): error getting port config"));
    EXPECT_EQ(dev.calls.back(), "createPortRoutes 1 6");

    logged.clear();
    dev.failing_offsets.clear();
    put_addr(store::port_offset(1) + store::kIpv6Prefix, "0.0.0.0");
    put_store_byte(store::port_offset(1) + store::kIpv6PrefixFlag, 1);
    ds_ipv6_up();
    put_addr(store::port_offset(1) + store::kIpv6Prefix, "2001:db8:1:2::1");
    put_store_byte(store::port_offset(1) + store::kIpv6PrefixFlag, 0);
    ds_ipv6_up();
    EXPECT_TRUE(logged.empty());
}

TEST_F(Linkup, Ipv6MissingInterfaceIsLogged) {
    setenv("PORT", "1", 1);
    put_addr(store::port_offset(1) + store::kIpv6Prefix, "2001:db8:1:2::1");
    put_store_byte(store::port_offset(1) + store::kIpv6PrefixFlag, 1);
    ds_ipv6_up();
    EXPECT_TRUE(logged_contains(LOG_INFO, "ds_ipv6_up(): ioctl(SIOCGIFINDEX): "));
    EXPECT_TRUE(logged_contains(LOG_INFO, "ds_ipv6_up(): interface: dstest0"));
}

TEST_F(Linkup, DyndnsResultsBeforeAnyFile) {
    pid_t pid = 0;
    dev.failing_offsets = {store::kGlobalOffset};
    EXPECT_EQ(check_and_launch_ppp_dyndns(0, &pid), -2);  // even though it is off
    dev.failing_offsets = {store::kDyndnsOffset};
    EXPECT_EQ(check_and_launch_ppp_dyndns(0, &pid), -3);
    dev.failing_offsets = {store::port_offset(0)};
    EXPECT_EQ(check_and_launch_ppp_dyndns(0, &pid), -4);
    dev.failing_offsets.clear();
    EXPECT_EQ(check_and_launch_ppp_dyndns(0, &pid), 1);

    // A line break would end the option, a blank, '#' or '\\' would split it
    // (the client reads its input file as words): each would add options.
    put_store_byte(store::port_offset(0) + store::kDyndnsEnabled, 1);
    struct row { int offset; const char *value, *field; };
    for (row r : {row{store::kDyndnsPassword, "pw\n--evil", "dyndns_password"},
                  row{store::kDyndnsPassword, "pw --evil", "dyndns_password"},
                  row{store::kDyndnsUser, "u#evil", "dyndns_user"}, row{store::kDyndnsAlias, "a\\evil", "dyndns_alias"}}) {
        logged.clear();
        std::vector<unsigned char> before = dev.store;
        put_store(store::port_offset(0) + r.offset, r.value);
        EXPECT_EQ(check_and_launch_ppp_dyndns(0, &pid), -8) << r.value;
        EXPECT_TRUE(logged_contains(LOG_ERR, std::string(r.field) + " holds a control character, blank")) << r.value;
        for (auto &[p, line] : logged) EXPECT_EQ(line.find("evil"), std::string::npos) << r.value;
        EXPECT_EQ(pid, 0);
        dev.store = before;
    }
}

// Past the store's eight port records and 198 host entries, an index names
// no record: nothing is read there, and the link is still served.
TEST_F(Linkup, IndexesWithoutARecordReadNothing) {
    setenv("PORT", "8", 1);
    ds_ipv6_up();
    EXPECT_EQ(dev.calls.back(), "createPortRoutes 8 6");
    EXPECT_TRUE(logged_contains(LOG_WARNING, "ds_ipv6_up(): port 8 has no record in the store"));
    pid_t pid = 0;
    EXPECT_EQ(check_and_launch_ppp_dyndns(8, &pid), -4);
    EXPECT_TRUE(logged_contains(LOG_WARNING, "check_and_launch_ppp_dyndns(): port 8 has no record"));
    EXPECT_FALSE(read_at(store::port_offset(8)));  // the route table, read as a port

    dev = fake_device{};
    host(197, "10.0.0.2");
    route(0, 0, "192.168.1.0", 120, 197);
    route(1, 0, "192.168.2.0", 120, 198);
    route(2, 0, "192.168.3.0", 120, 255);
    ds_ip_up();
    EXPECT_TRUE(read_at(store::host_offset(197)));
    EXPECT_FALSE(read_at(store::host_offset(198)));
    EXPECT_FALSE(read_at(store::host_offset(255)));
    EXPECT_EQ(routes(), (std::vector<std::string>{"route4 192.168.1.0/255.255.255.0 via 10.0.0.2 dev dstest0"}));
}

TEST_F(Linkup, ResolverSemaphoreFailureSkipsTheMerge) {
    dev.wait_result = -1;
    ds_update_resolv(0);
    EXPECT_TRUE(logged_contains(LOG_DEBUG, "ds_update_resolv(): get_semaphore failed, not updating resolv.conf"));
    EXPECT_EQ(dev.releases, 0);  // never held, never released
}

TEST(ResolvLine, FollowsTheLineRule) {
    struct Case {
        const char *line, *address;
    };
    const Case cases[] = {
        {"nameserver 1.2.3.4\n", "1.2.3.4"},
        {"nameserver 1.2.3\n", ""},            // 17 characters: too short
        {"nameserver 1.2.34\n", "1.2.34"},     // exactly 18
        {"nameserver 1.2.34", ""},             // 17 without its newline
        {" \t,nameserver,9.9.9.9 extra\n", "9.9.9.9"},
        {"nameservers 10.0.0.53\n", "10.0.0.53"},
        {"# nameserver 10.0.0.53\n", ""},
        {"search nameserver.example\n", ""},
        {"nameserver 10.0.0.53\r\n", "10.0.0.53\r"},
        {"nameserver                 \n", ""},
        {"nameserver\n\n\n\n\n\n\n\n\n\n", ""},
        {"nameserver\t2001:db8::1,x\n", "2001:db8::1"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ds_resolv_nameserver(c.line), c.address) << "line: " << c.line;
    std::string with_nul("nameserver 1.2\0.3.4.5\n", 22);
    EXPECT_EQ(ds_resolv_nameserver(with_nul), "1.2");
}

}  // namespace
