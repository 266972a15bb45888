// SPDX-License-Identifier: BSD-3-Clause
#include "pam/radius/config.h"

#include "base/unique_fd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

namespace radius {

namespace {

constexpr mode_t kGroupOrOther = 077;

bool parse_unsigned(std::string_view text, unsigned &out, unsigned max) {
    auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), out);
    return err == std::errc{} && end == text.data() + text.size() && !text.empty() && out <= max;
}

bool parse_seconds_ms(std::string_view text, unsigned &ms) {
    unsigned seconds = 0;
    if (!parse_unsigned(text, seconds, kMaxTimeoutMs / 1000) || seconds == 0) return false;
    ms = seconds * 1000;
    return true;
}

std::string quoted(std::string_view s) {
    std::string out(1, '"');
    out += s;
    out += '"';
    return out;
}

}  // namespace

std::optional<secret::string> read_secret(const std::string &path, std::string &error) {
    // Non-blocking, so a FIFO planted at the path cannot hang the module.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = "secret file " + quoted(path) + " cannot be opened: " + std::strerror(errno);
        return std::nullopt;
    }
    base::unique_fd closing(fd);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "secret file " + quoted(path) + " is not a regular file";
        return std::nullopt;
    }
    if (st.st_uid != 0 && st.st_uid != geteuid()) {
        error = "secret file " + quoted(path) + " belongs to uid " + std::to_string(st.st_uid) +
                ", not to root; refusing it";
        return std::nullopt;
    }
    if ((st.st_mode & kGroupOrOther) != 0) {
        error = "secret file " + quoted(path) + " may be read or written by group or others; refusing it";
        return std::nullopt;
    }
    // One byte more than a secret, its CR and LF may take, to see one that is too long.
    std::array<char, kMaxSecret + 3> buffer{};
    std::size_t got = 0;
    while (got < buffer.size()) {
        ssize_t n = read(fd, buffer.data() + got, buffer.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    std::string_view text(buffer.data(), got);
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    std::optional<secret::string> result;
    if (text.empty() || text.size() > kMaxSecret || text.find('\0') != std::string_view::npos) {
        error = "secret file " + quoted(path) + " holds no usable secret (1 to " +
                std::to_string(kMaxSecret) + " bytes on its first line)";
    } else {
        result.emplace(text);
        if (text.size() < kRecommendedSecret)
            syslog(LOG_WARNING, "pam_dsradius: the secret in %s is %zu bytes; RFC 2865 recommends at least %zu",
                   path.c_str(), text.size(), kRecommendedSecret);
    }
    secret::wipe(buffer.data(), buffer.size());
    return result;
}

std::optional<config> parse_config(std::string_view text, std::string &error) {
    config c;
    std::istringstream lines{std::string(text)};
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        auto fail = [&](const std::string &what) {
            error = "line " + std::to_string(number) + ": " + what;
            return std::nullopt;
        };
        if (w.empty() || w[0][0] == '#') continue;
        const std::string &key = w[0];
        if (key == "server") {
            if (w.size() < 2) return fail("server needs an address");
            server s;
            s.address = w[1];
            unsigned char probe[sizeof(in6_addr)];
            if (inet_pton(AF_INET, s.address.c_str(), probe) != 1 &&
                inet_pton(AF_INET6, s.address.c_str(), probe) != 1)
                return fail("bad server address " + quoted(s.address));
            std::string secret_file;
            for (std::size_t i = 2; i < w.size(); i += 2) {
                if (i + 1 >= w.size()) return fail("missing value after " + quoted(w[i]));
                const std::string &v = w[i + 1];
                bool ok = true;
                if (w[i] == "auth-port") ok = parse_unsigned(v, s.auth_port, 65535) && s.auth_port;
                else if (w[i] == "acct-port") ok = parse_unsigned(v, s.acct_port, 65535) && s.acct_port;
                else if (w[i] == "secret-file") secret_file = v;
                else if (w[i] == "timeout") ok = parse_seconds_ms(v, s.timeout_ms);
                else if (w[i] == "retries") ok = parse_unsigned(v, s.retries, kMaxRetries);
                else return fail("unknown server option " + quoted(w[i]));
                if (!ok) return fail("bad " + w[i] + " " + quoted(v));
            }
            if (secret_file.empty()) return fail("server " + quoted(s.address) + " needs a secret-file");
            std::string secret_error;
            auto secret = read_secret(secret_file, secret_error);
            if (!secret) return fail(secret_error);
            s.secret = *secret;
            c.servers.push_back(std::move(s));
        } else if (key == "nas-identifier" && w.size() == 2) {
            c.nas_identifier = w[1];
        } else if (key == "nas-ipv6-address" && w.size() == 2) {
            in6_addr a{};
            if (inet_pton(AF_INET6, w[1].c_str(), &a) != 1) return fail("bad nas-ipv6-address " + quoted(w[1]));
            c.nas_ipv6 = a;
        } else if (key == "nas-ip-address" && w.size() == 2) {
            in_addr a{};
            if (inet_pton(AF_INET, w[1].c_str(), &a) != 1) return fail("bad nas-ip-address " + quoted(w[1]));
            c.nas_ip = a;
        } else if (key == "require-message-authenticator" && w.size() == 2) {
            if (w[1] != "yes" && w[1] != "no") return fail("expected yes or no, got " + quoted(w[1]));
            c.require_message_authenticator = w[1] == "yes";
        } else if (key == "total-timeout" && w.size() == 2) {
            if (!parse_seconds_ms(w[1], c.total_timeout_ms)) return fail("bad total-timeout " + quoted(w[1]));
        } else {
            return fail("unknown or incomplete directive " + quoted(line));
        }
    }
    if (c.servers.empty()) {
        error = "no server configured";
        return std::nullopt;
    }
    return c;
}

std::optional<config> load_config(const std::string &path, std::string &error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    auto c = parse_config(text.str(), error);
    if (!c) error = path + ": " + error;
    return c;
}

}  // namespace radius
