// SPDX-License-Identifier: BSD-3-Clause
// A RADIUS server's side of Dynamic Authorization for tests: sends one
// Disconnect- or CoA-Request, correct or broken one piece at a time, and
// prints each answer ("Disconnect-ACK", "Disconnect-NAK 503", "no answer").
//   dae-send ADDRESS PORT SECRET [option...] [ATTRIBUTE=VALUE...]
// Options: --coa; --id N; --ma none|bad|two; --stamp none|+S|-S (seconds
// from now); --sign-with SECRET (another than the daemon's); --from ADDRESS
// (the source); --times N (the same datagram N times, each answer printed;
// 0: none); --junk N (N datagrams of random bytes first).
// Attributes: user, session, nas-port, port-id, framed-ip, calling, nas-id,
// nas-ip, proxy, password (one a Disconnect-Request may not carry).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <string_view>

#include "radius/config.h"
#include "tests/radius_reply.h"

namespace {

constexpr int kWaitMs = 2000;
constexpr std::size_t kJunkMax = 64;

int usage() {
    std::fprintf(stderr, "usage: dae-send ADDRESS PORT SECRET [--coa] [--id N] [--ma none|bad|two] "
                         "[--stamp none|+S|-S] [--sign-with SECRET] [--from ADDRESS] [--times N] [--junk N] "
                         "[ATTRIBUTE=VALUE...]\n");
    return 2;
}

// Returns the attribute `name`=`value` names, or false.
bool attribute_of(std::string_view name, const std::string &value, radius::attribute &out) {
    struct known { const char *name; uint8_t type; };
    constexpr known texts[] = {{"user", radius::user_name}, {"session", radius::acct_session_id},
                               {"port-id", radius::nas_port_id}, {"calling", radius::calling_station_id},
                               {"nas-id", radius::nas_identifier}, {"proxy", radius::proxy_state},
                               {"password", radius::user_password}};
    for (const known &k : texts)
        if (name == k.name) {
            out = {k.type, value};
            return true;
        }
    if (name == "nas-port") {
        out = {radius::nas_port, radius::u32_bytes(static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10)))};
        return true;
    }
    in_addr a{};
    if ((name == "framed-ip" || name == "nas-ip") && inet_pton(AF_INET, value.c_str(), &a) == 1) {
        out = {name == "nas-ip" ? radius::nas_ip_address : radius::framed_ip_address,
               std::string(reinterpret_cast<char *>(&a), sizeof a)};
        return true;
    }
    return false;
}

const char *code_name(uint8_t code) {
    switch (code) {
    case radius::disconnect_ack: return "Disconnect-ACK";
    case radius::disconnect_nak: return "Disconnect-NAK";
    case radius::coa_ack: return "CoA-ACK";
    case radius::coa_nak: return "CoA-NAK";
    }
    return "unexpected";
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4) return usage();
    std::string secret = argv[3], sign_with = secret, from;
    uint8_t code = radius::disconnect_request, id = 1;
    int mas = 1, times = 1, junk = 0;
    bool break_ma = false, stamp = true;
    long offset = 0;
    std::vector<radius::attribute> attrs;
    for (int i = 4; i < argc; ++i) {
        std::string_view arg = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--coa") code = radius::coa_request;
        else if (arg == "--id") id = static_cast<uint8_t>(std::atoi(next().c_str()));
        else if (arg == "--times") times = std::atoi(next().c_str());
        else if (arg == "--junk") junk = std::atoi(next().c_str());
        else if (arg == "--sign-with") sign_with = next();
        else if (arg == "--from") from = next();
        else if (arg == "--ma") {
            std::string v = next();
            mas = v == "none" ? 0 : v == "two" ? 2 : 1;
            break_ma = v == "bad";
        } else if (arg == "--stamp") {
            std::string v = next();
            stamp = v != "none";
            if (stamp) offset = std::strtol(v.c_str(), nullptr, 10);
        } else {
            auto eq = arg.find('=');
            radius::attribute a;
            if (eq == std::string_view::npos || !attribute_of(arg.substr(0, eq), std::string(arg.substr(eq + 1)), a))
                return usage();
            attrs.push_back(a);
        }
    }
    if (stamp) attrs.push_back({radius::event_timestamp, radius::u32_bytes(static_cast<uint32_t>(std::time(nullptr) + offset))});
    auto request = radius_test::dynauth_request(code, id, attrs, sign_with, mas, break_ma);

    sockaddr_storage to{};
    socklen_t size = radius::server_sockaddr(argv[1], static_cast<unsigned>(std::atoi(argv[2])), to);
    int fd = socket(to.ss_family, SOCK_DGRAM, 0);
    sockaddr_storage source{};
    socklen_t source_size = from.empty() ? 0 : radius::server_sockaddr(from, 0, source);
    if (size == 0 || fd < 0 || (!from.empty() && bind(fd, reinterpret_cast<sockaddr *>(&source), source_size) != 0) ||
        connect(fd, reinterpret_cast<sockaddr *>(&to), size) != 0) {
        std::perror("dae-send");
        return 1;
    }
    std::mt19937 random(static_cast<unsigned>(std::time(nullptr)));
    for (int j = 0; j < junk; ++j) {
        std::vector<uint8_t> bytes(random() % kJunkMax + 1);
        for (uint8_t &b : bytes) b = static_cast<uint8_t>(random());
        if (j % 2 == 0) bytes[0] = radius::disconnect_request;  // passes the first look
        (void)send(fd, bytes.data(), bytes.size(), 0);
    }
    for (int t = 0; t < times; ++t) {
        if (send(fd, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) {
            std::perror("dae-send");
            return 1;
        }
        pollfd p{fd, POLLIN, 0};
        uint8_t reply[radius::kMaxPacket];
        ssize_t n = poll(&p, 1, kWaitMs) == 1 ? recv(fd, reply, sizeof reply, 0) : -1;
        radius::packet answer;
        radius::reply_expectation want{id, radius::authenticator{}, false, true};
        std::copy(request.begin() + radius::kAuthOffset, request.begin() + radius::kHeaderSize, want.request_auth.begin());
        if (n < 0) {
            std::printf("no answer\n");
        } else if (radius::check_reply(reply, static_cast<std::size_t>(n), want, secret, &answer) != radius::reply_check::ok) {
            std::printf("a reply that does not check out\n");
        } else {
            auto cause = answer.first(radius::error_cause);
            std::printf("%s%s%s", code_name(answer.code), cause ? " " : "",
                        cause ? std::to_string(*radius::u32_value(*cause)).c_str() : "");
            for (const radius::attribute &a : answer.attributes)
                if (a.type == radius::proxy_state) std::printf(" proxy=%s", a.value.c_str());
            std::printf("\n");
        }
        std::fflush(stdout);
    }
    return 0;
}
