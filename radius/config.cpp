// SPDX-License-Identifier: BSD-3-Clause
#include "radius/config.h"

#include "base/file_trust.h"
#include "base/line_tokens.h"
#include "base/unique_fd.h"
#include "radius/hold_down.h"
#include "radius/log_name.h"
#include "radius/packet.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace radius {

bool parse_unsigned(std::string_view text, unsigned &out, unsigned max) {
    auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), out);
    return err == std::errc{} && end == text.data() + text.size() && !text.empty() && out <= max;
}

std::string quoted(std::string_view s) {
    std::string out(1, '"');
    out += s;
    out += '"';
    return out;
}

namespace {

bool parse_seconds_ms(std::string_view text, unsigned &ms) {
    unsigned seconds = 0;
    if (!parse_unsigned(text, seconds, kMaxTimeoutMs / 1000) || seconds == 0) return false;
    ms = seconds * 1000;
    return true;
}


// Returns the first `limit` bytes of `path` (and whether there is more in
// `more`), when it is a regular file of root's (or ours) that group and
// others have none of the `forbidden` permissions on, checked on the open
// descriptor and read from it.
std::optional<secret::string> read_checked(const std::string &path, const char *what, std::size_t limit,
                                           mode_t forbidden, bool &more, std::string &error) {
    std::string name = std::string(what) + " " + quoted(path);
    // Non-blocking, so a FIFO planted at the path cannot hang the module.
    base::unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) {
        error = name + " cannot be opened: " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    base::file_verdict verdict = base::check_open_file(fd.get(), {base::file_owner::root_or_us, forbidden}, st);
    if (verdict == base::file_verdict::not_regular) {
        error = name + " is not a regular file";
        return std::nullopt;
    }
    if (verdict == base::file_verdict::foreign_owner) {
        error = name + " belongs to uid " + std::to_string(st.st_uid) + ", not to root; refusing it";
        return std::nullopt;
    }
    if (verdict == base::file_verdict::loose_mode) {
        error = name + (forbidden == kPrivateMode ? " may be read or written" : " may be written") +
                " by group or others; refusing it";
        return std::nullopt;
    }
    secret::string content(limit + 1, '\0');
    std::size_t got = 0;
    while (got < content.size()) {
        ssize_t n = read(fd.get(), content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    more = got > limit;
    content.resize(std::min(got, limit));
    return content;
}

}  // namespace

std::optional<secret::string> read_trusted_file(const std::string &path, const char *what, std::size_t max_size,
                                                mode_t forbidden, std::string &error) {
    bool more = false;
    auto content = read_checked(path, what, max_size, forbidden, more, error);
    if (content && more) {
        error = std::string(what) + " " + quoted(path) + " is larger than " + std::to_string(max_size) + " bytes";
        return std::nullopt;
    }
    return content;
}

std::optional<secret::string> read_secret(const std::string &path, std::string &error) {
    bool more = false;
    // Room for the longest secret, its CR and LF.
    auto content = read_checked(path, "secret file", kMaxSecret + 2, kPrivateMode, more, error);
    if (!content) return std::nullopt;
    std::string_view text(*content);
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (text.empty() || text.size() > kMaxSecret || text.find('\0') != std::string_view::npos) {
        error = "secret file " + quoted(path) + " holds no usable secret (1 to " + std::to_string(kMaxSecret) +
                " bytes on its first line)";
        return std::nullopt;
    }
    if (text.size() < kRecommendedSecret)
        syslog(LOG_WARNING, "%s: the secret in %s is %zu bytes; RFC 2865 recommends at least %zu", log_name,
               path.c_str(), text.size(), kRecommendedSecret);
    return secret::string(text);
}

bool parse_nas_directive(const std::vector<std::string> &w, config &c, std::string &error) {
    error.clear();
    if (w.size() != 2) return false;
    if (w[0] == "nas-identifier") {
        if (w[1].size() > kMaxAttrValue)
            error = "nas-identifier of " + std::to_string(w[1].size()) + " bytes; at most " +
                    std::to_string(kMaxAttrValue) + " fit NAS-Identifier";
        else
            c.nas_identifier = w[1];
    } else if (w[0] == "nas-ipv6-address") {
        in6_addr a{};
        if (inet_pton(AF_INET6, w[1].c_str(), &a) != 1) error = "bad nas-ipv6-address " + quoted(w[1]);
        else c.nas_ipv6 = a;
    } else if (w[0] == "nas-ip-address") {
        in_addr a{};
        if (inet_pton(AF_INET, w[1].c_str(), &a) != 1) error = "bad nas-ip-address " + quoted(w[1]);
        else c.nas_ip = a;
    } else {
        return false;
    }
    return true;
}

std::optional<config> parse_config(std::string_view text, std::string &error) {
    config c;
    for (const base::directive &d : base::directives(text)) {
        const std::vector<std::string> &w = d.words;
        auto fail = [&](const std::string &what) {
            error = base::at_line(d, what);
            return std::nullopt;
        };
        const std::string &key = w[0];
        if (key == "server") {
            if (w.size() < 2) return fail("server needs an address");
            server s;
            s.address = w[1];
            sockaddr_storage probe{};
            if (server_sockaddr(s.address, 0, probe) == 0) return fail("bad server address " + quoted(s.address));
            std::size_t first_option = 2;
            if (w.size() > 2 && w[2] == "tls") {
                s.via = transport::tls;
                s.auth_port = s.acct_port = kDefaultTlsPort;
                first_option = 3;
            }
            bool tls = s.via == transport::tls;
            std::string secret_file, key_file;
            for (std::size_t i = first_option; i < w.size(); i += 2) {
                if (w[i] == "status-server") {  // the one option without a value
                    s.status_server = true;
                    --i;
                    continue;
                }
                if (i + 1 >= w.size()) return fail("missing value after " + quoted(w[i]));
                const std::string &v = w[i + 1];
                bool ok = true;
                if (!tls && w[i] == "auth-port") ok = parse_unsigned(v, s.auth_port, kMaxPort) && s.auth_port;
                else if (!tls && w[i] == "acct-port") ok = parse_unsigned(v, s.acct_port, kMaxPort) && s.acct_port;
                else if (!tls && w[i] == "secret-file") secret_file = v;
                else if (tls && w[i] == "port") {
                    ok = parse_unsigned(v, s.auth_port, kMaxPort) && s.auth_port;
                    s.acct_port = s.auth_port;
                }
                else if (tls && w[i] == "ca-file") s.ca_file = v;
                else if (tls && w[i] == "cert-file") s.cert_file = v;
                else if (tls && w[i] == "key-file") key_file = v;
                else if (tls && w[i] == "name") s.name = v;
                else if (w[i] == "timeout") ok = parse_seconds_ms(v, s.timeout_ms);
                else if (w[i] == "retries") ok = parse_unsigned(v, s.retries, kMaxRetries);
                else return fail("unknown server option " + quoted(w[i]));
                if (!ok) return fail("bad " + w[i] + " " + quoted(v));
            }
            std::string file_error;
            if (tls) {
                // RFC 6614 section 2.3: a client certificate is required.
                if (s.ca_file.empty() || s.cert_file.empty() || key_file.empty())
                    return fail("TLS server " + quoted(s.address) + " needs a ca-file, a cert-file and a key-file");
                auto key = read_trusted_file(key_file, "key file", kMaxKeyFile, kPrivateMode, file_error);
                if (!key) return fail(file_error);
                s.key = std::move(*key);
                // Whoever may change a trust anchor or our certificate could
                // act as the server: both are checked and read once, here.
                auto ca = read_trusted_file(s.ca_file, "ca-file", kMaxCertFile, kSharedMode, file_error);
                if (!ca) return fail(file_error);
                s.ca_pem.assign(ca->data(), ca->size());
                auto cert = read_trusted_file(s.cert_file, "cert-file", kMaxCertFile, kSharedMode, file_error);
                if (!cert) return fail(file_error);
                s.cert_pem.assign(cert->data(), cert->size());
                s.secret.assign(kTlsSecret);
            } else {
                if (secret_file.empty()) return fail("server " + quoted(s.address) + " needs a secret-file");
                auto secret = read_secret(secret_file, file_error);
                if (!secret) return fail(file_error);
                s.secret = std::move(*secret);
            }
            c.servers.push_back(std::move(s));
        } else if (key == "hold-down" && w.size() == 2) {
            if (!parse_unsigned(w[1], c.hold_down_s, kMaxHoldDownSeconds))
                return fail("bad hold-down " + quoted(w[1]));
        } else if (std::string nas_error; parse_nas_directive(w, c, nas_error)) {
            if (!nas_error.empty()) return fail(nas_error);
        } else if (key == "require-message-authenticator" && w.size() == 2) {
            if (w[1] != "yes" && w[1] != "no") return fail("expected yes or no, got " + quoted(w[1]));
            c.require_message_authenticator = w[1] == "yes";
        } else if (key == "interim-interval" && w.size() == 2) {
            if (!parse_unsigned(w[1], c.interim_interval_s, kMaxInterimInterval) || c.interim_interval_s == 0)
                return fail("bad interim-interval " + quoted(w[1]));
        } else if (key == "status-interval" && w.size() == 2) {
            if (!parse_unsigned(w[1], c.status_interval_s, kMaxStatusInterval) || c.status_interval_s == 0)
                return fail("bad status-interval " + quoted(w[1]));
        } else if (key == "total-timeout" && w.size() == 2) {
            if (!parse_seconds_ms(w[1], c.total_timeout_ms)) return fail("bad total-timeout " + quoted(w[1]));
        } else {
            return fail("unknown or incomplete directive " + quoted(d.line));
        }
    }
    if (c.servers.empty()) {
        error = "no server configured";
        return std::nullopt;
    }
    return c;
}

std::optional<config> load_config(const std::string &path, std::string &error) {
    // It names the secret, key and trust files: whoever may change it may
    // point them at files of their own.
    auto text = read_trusted_file(path, "configuration file", kMaxConfigFile, kSharedMode, error);
    if (!text) return std::nullopt;
    auto c = parse_config(std::string_view(text->data(), text->size()), error);
    if (!c) error = path + ": " + error;
    return c;
}

socklen_t server_sockaddr(const std::string &address, unsigned port, sockaddr_storage &out) {
    out = {};
    auto *v4 = reinterpret_cast<sockaddr_in *>(&out);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&out);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        return sizeof *v4;
    }
    if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        return sizeof *v6;
    }
    out = {};
    return 0;
}

std::string_view address_bytes(const sockaddr_storage &a) {
    if (a.ss_family == AF_INET) {
        const auto &v4 = reinterpret_cast<const sockaddr_in &>(a).sin_addr;
        return {reinterpret_cast<const char *>(&v4), sizeof v4};
    }
    if (a.ss_family == AF_INET6) {
        const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(a).sin6_addr;
        return {reinterpret_cast<const char *>(&v6), sizeof v6};
    }
    return {};
}

}  // namespace radius
