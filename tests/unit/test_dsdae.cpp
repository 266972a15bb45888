// SPDX-License-Identifier: BSD-3-Clause
// dsdae's own parts: its configuration, which registry entries a
// Disconnect-Request names, and the memory of requests answered.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tools/dsdae/config.h"
#include "tools/dsdae/replay.h"
#include "tools/dsdae/sessions.h"

namespace {

struct DsdaeConfig : ::testing::Test {
    std::string dir;
    void SetUp() override {
        char templ[] = "/tmp/dsdae-conf-XXXXXX";
        ASSERT_TRUE(mkdtemp(templ));
        dir = templ;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string file(const std::string &name, const std::string &content, mode_t mode = 0600) {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        chmod(path.c_str(), mode);
        return path;
    }
};

TEST_F(DsdaeConfig, ParsesAndRefuses) {
    std::string secret = file("secret", "s3cret-sixteen-b\n");
    std::string error;
    auto c = dsdae::parse_config("listen 127.0.0.1\nlisten ::1 port 13799\nclient 192.0.2.7 secret-file " + secret +
                                     "\nnas-identifier dsppp\nnas-ip-address 192.0.2.1\nrequire-event-timestamp no\n"
                                     "event-window 60\nuser daemon\n",
                                 error);
    ASSERT_TRUE(c) << error;
    ASSERT_EQ(c->listens.size(), 2u);
    EXPECT_EQ(ntohs(reinterpret_cast<const sockaddr_in &>(c->listens[0].where).sin_port), dsdae::kDefaultPort);
    EXPECT_EQ(ntohs(reinterpret_cast<const sockaddr_in6 &>(c->listens[1].where).sin6_port), 13799);
    EXPECT_EQ(c->nas.nas_identifier, "dsppp");  // pam_dsradius's parser
    EXPECT_TRUE(c->nas.nas_ip);
    EXPECT_TRUE(c->rules.require_message_authenticator);
    EXPECT_FALSE(c->rules.require_event_timestamp);
    EXPECT_EQ(c->rules.event_window_s, 60u);
    EXPECT_EQ(c->user, "daemon");
    sockaddr_storage from{};
    radius::server_sockaddr("192.0.2.7", 40000, from);
    ASSERT_NE(dsdae::find_client(*c, from), nullptr);  // any source port
    EXPECT_EQ(std::string_view(dsdae::find_client(*c, from)->secret), "s3cret-sixteen-b");
    radius::server_sockaddr("192.0.2.8", 40000, from);
    EXPECT_EQ(dsdae::find_client(*c, from), nullptr);
    radius::server_sockaddr("::ffff:192.0.2.7", 40000, from);
    EXPECT_EQ(dsdae::find_client(*c, from), nullptr);  // a mapped address is another

    const std::string base = "listen 127.0.0.1\nclient 127.0.0.1 secret-file " + secret + "\n";
    struct bad { std::string text, message; };
    for (const bad &b : {bad{"client 127.0.0.1 secret-file " + secret, "no listen address configured"},
                         bad{"listen 127.0.0.1", "no client configured"},
                         bad{"listen localhost\n", "bad listen address \"localhost\""},
                         bad{base + "listen 127.0.0.1 port 0", "bad port \"0\""},
                         bad{base + "listen 127.0.0.1 port 65536", "bad port \"65536\""},
                         bad{base + "client 127.0.0.1 secret-file " + secret, "client \"127.0.0.1\" given twice"},
                         bad{base + "client 10.0.0.1 secret-file " + file("loose", "s3cret\n", 0644),
                             "may be read or written by group or others"},
                         bad{base + "client 10.0.0.1", "unknown or incomplete directive"},
                         bad{base + "nas-ip-address 10.0.0", "bad nas-ip-address \"10.0.0\""},
                         bad{base + "require-event-timestamp maybe", "expected yes or no, got \"maybe\""},
                         bad{base + "event-window 0", "bad event-window \"0\""},
                         bad{base + "event-window 86401", "bad event-window \"86401\""}}) {
        error.clear();
        EXPECT_FALSE(dsdae::parse_config(b.text, error)) << b.text;
        EXPECT_NE(error.find(b.message), std::string::npos) << error;
    }
}

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
