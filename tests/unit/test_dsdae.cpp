// SPDX-License-Identifier: BSD-3-Clause
// dsdae's own parts: which registry entries a Disconnect-Request names, and
// the memory of requests answered (its configuration is read with
// pam_dsradius's, in test_radius.cpp).
#include <gtest/gtest.h>

#include "tools/dsdae/replay.h"
#include "tools/dsdae/sessions.h"

namespace {

TEST(DsdaeSessions, EveryAttributeGivenMustMatch) {
    session_registry::entry e;
    e.session_id = "0a1b";
    e.user = "alice";
    e.nas_port = 3;
    e.nas_port_id = "/dev/ttyS3";
    e.framed_ip = "10.0.0.2";
    e.calling_station_id = "5550100";
    using sel = radius::session_selector;
    constexpr std::nullopt_t _ = std::nullopt;
    struct row { const char *what; sel want; bool named; };
    // Fields: session id, user, port id, address, caller's number, port.
    const row rows[] = {
        {"nothing given (read_disconnect refuses it first)", {_, _, _, _, _, _}, true},
        {"the session id", {"0a1b", _, _, _, _, _}, true},
        {"another session id", {"0a1c", _, _, _, _, _}, false},
        {"a prefix of the user", {_, "ali", _, _, _, _}, false},
        {"all six", {"0a1b", "alice", "/dev/ttyS3", "10.0.0.2", "5550100", 3u}, true},
        {"all but the port", {"0a1b", "alice", "/dev/ttyS3", "10.0.0.2", "5550100", 4u}, false},
        {"an empty caller's number is a value", {_, _, _, _, "", _}, false},
        {"the address", {_, _, _, "10.0.0.2", _, _}, true},
        {"a longer port id", {_, _, "/dev/ttyS30", _, _, _}, false},
    };
    for (const row &r : rows) EXPECT_EQ(dsdae::names(r.want, e), r.named) << r.what;
}

TEST(DsdaeReplay, RepeatsAnsweredUntilTheyCouldNoLongerPass) {
    dsdae::replay_cache cache;
    cache.keep_s = 600;
    cache.capacity = 2;
    sockaddr_storage a{}, b{};
    radius::server_sockaddr("192.0.2.7", 0, a);
    radius::server_sockaddr("192.0.2.8", 0, b);
    radius::packet request;
    request.identifier = 5;
    request.auth[0] = 1;
    EXPECT_EQ(dsdae::answered_before(cache, a, request, 100), nullptr);
    dsdae::remember(cache, a, request, {1, 2, 3}, 100);
    const auto *again = dsdae::answered_before(cache, a, request, 700);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(*again, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(dsdae::answered_before(cache, b, request, 700), nullptr) << "another client";
    radius::packet other = request;
    other.auth[0] = 2;
    EXPECT_EQ(dsdae::answered_before(cache, a, other, 700), nullptr) << "another authenticator";
    other = request;
    other.identifier = 6;
    EXPECT_EQ(dsdae::answered_before(cache, a, other, 700), nullptr) << "another identifier";
    dsdae::remember(cache, a, other, {4}, 700);
    EXPECT_FALSE(dsdae::has_room(cache)) << "full: nothing is forgotten early";
    EXPECT_EQ(dsdae::answered_before(cache, a, request, 701), nullptr) << "601 s later";
    EXPECT_TRUE(dsdae::has_room(cache));
}

}  // namespace
