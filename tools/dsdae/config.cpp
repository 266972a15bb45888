// SPDX-License-Identifier: BSD-3-Clause
#include "tools/dsdae/config.h"

#include <netinet/in.h>


#include "base/line_tokens.h"

namespace dsdae {

namespace {

using radius::address_bytes;
using radius::quoted;

bool yes_no(const std::string &v, bool &out) {
    if (v != "yes" && v != "no") return false;
    out = v == "yes";
    return true;
}

bool same_address(const sockaddr_storage &a, const sockaddr_storage &b) {
    return a.ss_family == b.ss_family && !address_bytes(a).empty() && address_bytes(a) == address_bytes(b);
}

}  // namespace

std::optional<config> parse_config(std::string_view text, std::string &error) {
    config c;
    for (const base::directive &d : base::directives(text)) {
        const std::vector<std::string> &w = d.words;
        auto fail = [&](const std::string &what) {
            error = base::at_line(d, what);
            return std::nullopt;
        };
        const std::string &key = w[0];
        std::string nas_error;
        if (key == "listen" && (w.size() == 2 || (w.size() == 4 && w[2] == "port"))) {
            listen_address l;
            l.address = w[1];
            if (w.size() == 4 && (!radius::parse_unsigned(w[3], l.port, radius::kMaxPort) || l.port == 0))
                return fail("bad port " + quoted(w[3]));
            l.size = radius::server_sockaddr(l.address, l.port, l.where);
            if (l.size == 0) return fail("bad listen address " + quoted(l.address));
            c.listens.push_back(std::move(l));
        } else if (key == "client" && w.size() == 4 && w[2] == "secret-file") {
            client cl;
            cl.address = w[1];
            if (radius::server_sockaddr(cl.address, 0, cl.where) == 0)
                return fail("bad client address " + quoted(cl.address));
            if (find_client(c, cl.where) != nullptr) return fail("client " + quoted(cl.address) + " given twice");
            std::string file_error;
            auto secret = radius::read_secret(w[3], file_error);
            if (!secret) return fail(file_error);
            cl.secret = std::move(*secret);
            c.clients.push_back(std::move(cl));
        } else if (radius::parse_nas_directive(w, c.nas, nas_error)) {
            if (!nas_error.empty()) return fail(nas_error);
        } else if (key == "require-message-authenticator" && w.size() == 2) {
            if (!yes_no(w[1], c.rules.require_message_authenticator))
                return fail("expected yes or no, got " + quoted(w[1]));
        } else if (key == "require-event-timestamp" && w.size() == 2) {
            if (!yes_no(w[1], c.rules.require_event_timestamp)) return fail("expected yes or no, got " + quoted(w[1]));
        } else if (key == "event-window" && w.size() == 2) {
            if (!radius::parse_unsigned(w[1], c.rules.event_window_s, kMaxEventWindow) || c.rules.event_window_s == 0)
                return fail("bad event-window " + quoted(w[1]));
        } else if (key == "user" && w.size() == 2) {
            c.user = w[1];
        } else {
            return fail("unknown or incomplete directive " + quoted(d.line));
        }
    }
    if (c.listens.empty()) {
        error = "no listen address configured";
        return std::nullopt;
    }
    if (c.clients.empty()) {
        error = "no client configured";
        return std::nullopt;
    }
    return c;
}

std::optional<config> load_config(const std::string &path, std::string &error) {
    // It names the secret files: whoever may change it may point them at
    // files of their own.
    auto text = radius::read_trusted_file(path, "configuration file", radius::kMaxConfigFile, radius::kSharedMode,
                                          error);
    if (!text) return std::nullopt;
    auto c = parse_config(std::string_view(text->data(), text->size()), error);
    if (!c) error = path + ": " + error;
    return c;
}

const client *find_client(const config &c, const sockaddr_storage &from) {
    for (const client &cl : c.clients)
        if (same_address(cl.where, from)) return &cl;
    return nullptr;
}

}  // namespace dsdae
