// SPDX-License-Identifier: BSD-3-Clause
// Textual routes, the per-port service configuration and the session
// registry's entries.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "device/port_config.h"
#include "device/route_text.h"
#include "platform/session_registry.h"

namespace {

std::string text_of(const ds_prefix &p) {
    char t[INET6_ADDRSTRLEN];
    inet_ntop(p.family, p.addr.data(), t, sizeof t);
    return std::string(t) + "/" + std::to_string(p.length);
}

TEST(RouteText, FramedRoutes) {
    auto r = ds_parse_framed_route("10.1.2.3/16 10.0.0.9 5", AF_INET);
    ASSERT_TRUE(r);
    EXPECT_EQ(text_of(r->dest), "10.1.0.0/16");
    EXPECT_EQ(r->metric, 5u);
    r = ds_parse_framed_route("192.168.7.7 0.0.0.0", AF_INET);
    ASSERT_TRUE(r);
    EXPECT_EQ(text_of(r->dest), "192.168.7.7/32");
    r = ds_parse_framed_route("2001:db8:1::/48 :: 1", AF_INET6);
    ASSERT_TRUE(r);
    EXPECT_EQ(text_of(r->dest), "2001:db8:1::/48");
    // RFC 2865 section 5.22's own example: the first metric counts.
    r = ds_parse_framed_route("192.168.1.0/24 192.168.1.1 1 2 -1 3 400", AF_INET);
    ASSERT_TRUE(r);
    EXPECT_EQ(text_of(r->dest), "192.168.1.0/24");
    EXPECT_EQ(r->metric, 1u);
    for (const char *bad : {"", "10.0.0.0/8", "10.0.0.0/33 1.1.1.1", "10.0.0.0/8 1.1.1.1 x",
                            "10.0.0.0/8 1.1.1.1 -1 2", "10.0.0.0/-1 1.1.1.1", "x/8 1.1.1.1",
                            "2001:db8::/48 ::"})
        EXPECT_FALSE(ds_parse_framed_route(bad, AF_INET)) << bad;
    for (const char *bad : {"2001:db8::1 ::", "2001:db8::/129 ::", "10.0.0.0/8 ::"})
        EXPECT_FALSE(ds_parse_framed_route(bad, AF_INET6)) << bad;
}

TEST(PortConfig, LinesAndErrors) {
    ds_port_config config;
    EXPECT_EQ(ds_parse_port_line("# comment", config), "");
    EXPECT_EQ(ds_parse_port_line("port 0 route 192.168.50.0/24", config), "");
    EXPECT_EQ(ds_parse_port_line("port 1 route 2001:db8:9::/48 via fe80::1 dev eth1", config), "");
    EXPECT_EQ(ds_parse_port_line(
                  "port 1 tunnel sit1 local 10.0.0.1 remote 192.0.2.1 address 2001:db8::1/64",
                  config),
              "");
    ASSERT_EQ(config.routes.size(), 2u);
    EXPECT_EQ(config.routes[1].ifname, "eth1");
    ASSERT_EQ(config.tunnels.size(), 1u);
    EXPECT_EQ(config.tunnels[0].remote, inet_addr("192.0.2.1"));
    EXPECT_EQ(ds_parse_port_line("port x route 1.2.3.0/24", config), "bad port \"x\"");
    EXPECT_EQ(ds_parse_port_line("port 0 route 1.2.3.0/99", config),
              "bad route destination \"1.2.3.0/99\"");
    EXPECT_EQ(ds_parse_port_line("port 0 route 1.2.3.0/24 via ::1", config),
              "bad gateway \"::1\"");
    EXPECT_EQ(ds_parse_port_line("port 0 route 1.2.3.0/24 dev", config),
              "missing value after \"dev\"");
    EXPECT_EQ(ds_parse_port_line("port 0 tunnel t0 local 1.1.1.1", config),
              "tunnel needs local and remote addresses");
    EXPECT_EQ(ds_parse_port_line("port 0 bridge", config), "unknown kind \"bridge\"");
}

}  // namespace

namespace {

// The session registry's entries: whatever a peer or server chose comes back
// whole and cannot add a line; anything else than the ten fields is refused;
// an entry is live only for the very process that wrote it.
TEST(SessionRegistry, EntriesRoundTripAndRefuseTheRest) {
    session_registry::entry e;
    e.session_id = "0a1b";
    e.user = "mal lory\npid 1";
    e.nas_port = 3;
    e.nas_port_id = "/dev/ttyS2";
    e.framed_ip = "10.0.0.2";
    e.ifname = "ppp0";
    e.pid = getpid();
    e.start_time = session_registry::process_start_time(e.pid).value_or(0);
    e.since = 1796654152;
    std::string text = session_registry::format(e);
    auto back = session_registry::parse(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->user, e.user);
    EXPECT_EQ(back->calling_station_id, "");
    EXPECT_EQ(session_registry::format(*back), text);
    EXPECT_NE(e.start_time, 0u);
    EXPECT_TRUE(session_registry::live(e));
    // Found by fuzzing: a field given twice stood in for a missing one.
    std::string no_pid = text.substr(0, text.find("pid ")) + text.substr(text.find("start_time"));
    for (std::string bad : {text + "extra 1\n", text.substr(text.find('\n') + 1), text + "pid 2 3\n",
                            std::string("session_id zz\n") + text.substr(text.find('\n') + 1),
                            no_pid + "user 61\n"})
        EXPECT_FALSE(session_registry::parse(bad)) << bad;
    session_registry::entry other = e;
    other.start_time += 1;  // the pid reused by another process
    EXPECT_FALSE(session_registry::live(other));
    other.pid = INT32_MAX;  // no such process
    EXPECT_FALSE(session_registry::live(other));
}

}  // namespace
