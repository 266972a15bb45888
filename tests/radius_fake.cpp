// SPDX-License-Identifier: BSD-3-Clause
// A misbehaving RADIUS server for tests: answers each request on the given
// port in one way, correct or broken, until killed.
//   radius-fake PORT SECRET MODE
// MODE: good, silent, wrong-id, bad-auth, no-ma, bad-ma, truncated, overlong-attr,
// every-second (answers only every second request). With FAKE_LOG set, each
// request's identifier and Acct-Delay-Time are appended to that file.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/radius_reply.h"

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: radius-fake PORT SECRET MODE\n");
        return 2;
    }
    std::string secret = argv[2], mode = argv[3];
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        std::perror("radius-fake: bind");
        return 1;
    }
    const char *log_path = std::getenv("FAKE_LOG");
    unsigned received = 0;
    for (;;) {
        uint8_t request[radius::kMaxPacket];
        sockaddr_in from{};
        socklen_t from_len = sizeof from;
        ssize_t got = recvfrom(fd, request, sizeof request, 0, reinterpret_cast<sockaddr *>(&from), &from_len);
        if (got < static_cast<ssize_t>(radius::kHeaderSize) || mode == "silent") continue;
        if (log_path != nullptr) {
            auto decoded = radius::decode(request, static_cast<std::size_t>(got));
            std::string delay = "none";
            if (decoded) {
                if (auto v = decoded->first(radius::acct_delay_time); v && v->size() == 4)
                    delay = std::to_string(static_cast<unsigned char>((*v)[3]));
            }
            if (std::FILE *f = std::fopen(log_path, "a")) {
                std::fprintf(f, "id=%u delay=%s\n", request[1], delay.c_str());
                std::fclose(f);
            }
        }
        if (mode == "every-second" && ++received % 2 == 1) continue;
        radius::authenticator auth{};
        std::memcpy(auth.data(), request + 4, auth.size());
        uint8_t id = request[1];
        uint8_t code = request[0] == radius::accounting_request ? radius::accounting_response : radius::access_accept;
        std::vector<radius::attribute> attrs;
        if (code == radius::access_accept) attrs.push_back({radius::framed_mtu, std::string("\0\0\x04\xd2", 4)});
        auto reply = radius_test::reply(code, mode == "wrong-id" ? id + 1 : id, auth, attrs, secret,
                                        mode != "no-ma" && code == radius::access_accept);
        if (mode == "bad-auth") reply[5] ^= 0xff;
        if (mode == "bad-ma") {
            reply[reply.size() - 1] ^= 0xff;
            std::memcpy(reply.data() + 4, auth.data(), auth.size());
            auto digest = radius::md5({std::string_view(reinterpret_cast<char *>(reply.data()), reply.size()), secret});
            std::memcpy(reply.data() + 4, digest.data(), digest.size());
        }
        if (mode == "truncated") reply.resize(15);
        if (mode == "overlong-attr") reply[radius::kHeaderSize + 1] = 250;
        sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&from), from_len);
    }
}
