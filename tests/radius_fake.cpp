// SPDX-License-Identifier: BSD-3-Clause
// A misbehaving RADIUS server for tests: answers each request on the given
// port in one way, correct or broken, until killed.
//   radius-fake PORT SECRET MODE
// MODE: good (an Access-Accept granting Framed-MTU 1234), silent, bad-auth,
// no-ma, zero-auth (authenticators of zero octets, as a forger without the
// secret would send), truncated, challenge (a correctly signed
// Access-Challenge carrying attributes), no-status (answers all but
// Status-Server), other-port (answers from another source port, as a forger
// would), late (answers each request after
// FAKE_DELAY_MS, default 1500), acct-signed (signs Accounting-Responses over zero octets). With
// FAKE_LOG set, one line per request is appended to that file: identifier,
// Acct-Delay-Time, NAS address, whether a User-Password came, an MD5 of the
// whole packet (equal for byte-identical retransmissions) and its code.
// With FAKE_TLS set the fake is a RADIUS/TLS server (RFC 6614) on the TCP
// port instead, one connection at a time: FAKE_TLS=anon offers anonymous
// suites only (no certificate, TLS 1.2, security level 0, as a man in the
// middle would); FAKE_TLS=PREFIX presents PREFIX.pem with PREFIX.key. It
// logs "sni=NAME" (or "sni=none") for each handshake to FAKE_LOG.
#include <arpa/inet.h>
#include <openssl/ssl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "platform/pam_env.h"
#include "tests/radius_reply.h"

namespace {

using clock_type = std::chrono::steady_clock;
constexpr int kDefaultDelayMs = 1500;
constexpr std::size_t kTruncatedSize = 15;
const std::string kMtu1234("\0\0\x04\xd2", 4);

struct pending {
    clock_type::time_point due;
    std::vector<uint8_t> bytes;
    sockaddr_in to;
};

std::string nas_of(const radius::packet &p) {
    char text[INET6_ADDRSTRLEN] = "none";
    if (auto v = p.first(radius::nas_ip_address); v && v->size() == 4)
        inet_ntop(AF_INET, v->data(), text, sizeof text);
    else if (auto v6 = p.first(radius::nas_ipv6_address); v6 && v6->size() == 16)
        inet_ntop(AF_INET6, v6->data(), text, sizeof text);
    return text;
}

void log_request(const char *path, const uint8_t *request, std::size_t size) {
    auto decoded = radius::decode(request, size);
    std::string delay = "none", nas = "none", password = "no";
    if (decoded) {
        if (auto v = decoded->first(radius::acct_delay_time); v && v->size() == 4)
            delay = std::to_string(static_cast<unsigned char>((*v)[3]));
        nas = nas_of(*decoded);
        if (decoded->first(radius::user_password)) password = "yes";
    }
    auto digest = radius_test::must(radius::md5({std::string_view(reinterpret_cast<const char *>(request), size)}));
    if (std::FILE *f = std::fopen(path, "a")) {
        std::fprintf(f, "id=%u delay=%s nas=%s password=%s packet=%s code=%u\n", request[1], delay.c_str(),
                     nas.c_str(), password.c_str(),
                     pam_env::encode_hex(std::string_view(reinterpret_cast<char *>(digest.data()), digest.size())).c_str(),
                     request[0]);
        std::fclose(f);
    }
}

// Returns the reply MODE gives to `request`, or nothing for no reply.
std::optional<std::vector<uint8_t>> answer(const std::string &mode, const std::string &secret,
                                           const uint8_t *request) {
    radius::authenticator auth{};
    std::memcpy(auth.data(), request + radius::kAuthOffset, auth.size());
    uint8_t id = request[1];
    bool accounting = request[0] == radius::accounting_request;
    uint8_t code = accounting ? radius::accounting_response
                   : mode == "challenge" ? radius::access_challenge
                                         : radius::access_accept;
    std::vector<radius::attribute> attrs;
    if (!accounting) attrs.push_back({radius::framed_mtu, kMtu1234});
    if (mode == "challenge") attrs.push_back({radius::session_timeout, std::string("\0\0\0\x3c", 4)});
    radius_test::reply_shape shape;
    shape.with_ma = accounting ? mode == "acct-signed" : mode != "no-ma";
    shape.ma_over_zero = accounting;
    auto reply = radius_test::reply(code, id, auth, attrs, secret, shape);
    if (mode == "bad-auth") reply[radius::kAuthOffset + 1] ^= 0xff;
    if (mode == "zero-auth") {
        std::memset(reply.data() + radius::kAuthOffset, 0, radius::kAuthenticatorSize);
        std::memset(reply.data() + reply.size() - radius::kMessageAuthenticatorSize, 0,
                    radius::kMessageAuthenticatorSize);
    }
    if (mode == "truncated") reply.resize(kTruncatedSize);
    return reply;
}

void log_line(const char *path, const std::string &line) {
    if (std::FILE *f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

SSL_CTX *tls_context(const std::string &what) {
    SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
    if (ctx == nullptr) return nullptr;
    if (what == "anon") {
        SSL_CTX_set_security_level(ctx, 0);
        SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
        if (SSL_CTX_set_cipher_list(ctx, "aNULL:@SECLEVEL=0") == 1) return ctx;
    } else if (SSL_CTX_use_certificate_chain_file(ctx, (what + ".pem").c_str()) == 1 &&
               SSL_CTX_use_PrivateKey_file(ctx, (what + ".key").c_str(), SSL_FILETYPE_PEM) == 1) {
        return ctx;
    }
    SSL_CTX_free(ctx);
    return nullptr;
}

// Reads one whole RADIUS packet from the connection; false when it ends first.
bool read_packet(SSL *ssl, std::vector<uint8_t> &packet) {
    packet.assign(radius::kHeaderSize, 0);
    std::size_t want = radius::kHeaderSize, got = 0;
    while (got < want) {
        int n = SSL_read(ssl, packet.data() + got, static_cast<int>(want - got));
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
        if (got == radius::kHeaderSize) {
            want = (std::size_t{packet[radius::kLengthOffset]} << 8) | packet[radius::kLengthOffset + 1];
            if (want < radius::kHeaderSize || want > radius::kMaxPacket) return false;
            packet.resize(want);
        }
    }
    return true;
}

int serve_tls(uint16_t port, const std::string &secret, const std::string &mode, const std::string &what,
              const char *log_path) {
    SSL_CTX *ctx = tls_context(what);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (ctx == nullptr || fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) {
        std::fprintf(stderr, "radius-fake: cannot serve TLS \"%s\" on port %u\n", what.c_str(), port);
        return 1;
    }
    for (;;) {
        int conn = accept(fd, nullptr, nullptr);
        if (conn < 0) continue;
        SSL *ssl = SSL_new(ctx);
        SSL_set_fd(ssl, conn);
        std::vector<uint8_t> request;
        if (SSL_accept(ssl) == 1) {
            const char *sni = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
            if (log_path != nullptr) log_line(log_path, std::string("sni=") + (sni ? sni : "none"));
            if (read_packet(ssl, request)) {
                if (log_path != nullptr) log_request(log_path, request.data(), request.size());
                if (auto reply = answer(mode, secret, request.data()))
                    SSL_write(ssl, reply->data(), static_cast<int>(reply->size()));
            }
            SSL_shutdown(ssl);
        }
        SSL_free(ssl);
        close(conn);
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: radius-fake PORT SECRET MODE\n");
        return 2;
    }
    std::string secret = argv[2], mode = argv[3];
    const char *log_path = std::getenv("FAKE_LOG");
    if (const char *tls = std::getenv("FAKE_TLS"))
        return serve_tls(static_cast<uint16_t>(std::atoi(argv[1])), secret, mode, tls, log_path);
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        std::perror("radius-fake: bind");
        return 1;
    }
    const char *delay_text = std::getenv("FAKE_DELAY_MS");
    auto delay = std::chrono::milliseconds(delay_text ? std::atoi(delay_text) : kDefaultDelayMs);
    std::deque<pending> queue;
    for (;;) {
        int wait_ms = -1;
        if (!queue.empty())
            wait_ms = static_cast<int>(std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(queue.front().due - clock_type::now())
                       .count()));
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, wait_ms);
        while (!queue.empty() && queue.front().due <= clock_type::now()) {
            const pending &due = queue.front();
            sendto(fd, due.bytes.data(), due.bytes.size(), 0, reinterpret_cast<const sockaddr *>(&due.to),
                   sizeof due.to);
            queue.pop_front();
        }
        if (ready <= 0) continue;
        uint8_t request[radius::kMaxPacket];
        sockaddr_in from{};
        socklen_t from_len = sizeof from;
        ssize_t got = recvfrom(fd, request, sizeof request, 0, reinterpret_cast<sockaddr *>(&from), &from_len);
        if (got < static_cast<ssize_t>(radius::kHeaderSize)) continue;
        if (log_path != nullptr) log_request(log_path, request, static_cast<std::size_t>(got));
        if (mode == "silent" || (mode == "no-status" && request[0] == radius::status_server)) continue;
        auto reply = answer(mode, secret, request);
        if (!reply) continue;
        if (mode == "other-port") {  // a forger's answer: right bytes, wrong source port
            int other = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sendto(other, reply->data(), reply->size(), 0, reinterpret_cast<sockaddr *>(&from), from_len);
            close(other);
            continue;
        }
        if (mode == "late") {
            queue.push_back({clock_type::now() + delay, std::move(*reply), from});
            continue;
        }
        sendto(fd, reply->data(), reply->size(), 0, reinterpret_cast<sockaddr *>(&from), from_len);
    }
}
