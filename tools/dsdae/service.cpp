// SPDX-License-Identifier: BSD-3-Clause
#include "tools/dsdae/service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <syslog.h>

#include "base/log_text.h"
#include "tools/dsdae/sessions.h"

namespace dsdae {

namespace {

// Logs `what` when the last line of its kind is an interval old, with the
// number dropped since.
void log_drop(drop_log &d, int64_t now, const std::string &what) {
    ++d.dropped;
    if (now - d.last < kLogInterval) return;
    syslog(LOG_WARNING, "%s (%lu dropped since the last such line)", what.c_str(), d.dropped);
    d.last = now;
    d.dropped = 0;
}

const char *kind(const radius::packet &p) { return p.code == radius::coa_request ? "CoA-Request" : "Disconnect-Request"; }

const char *reply_name(const radius::packet &request, uint32_t error) {
    if (request.code == radius::coa_request) return error == 0 ? "CoA-ACK" : "CoA-NAK";
    return error == 0 ? "Disconnect-ACK" : "Disconnect-NAK";
}

// Returns what the selector names, for the log.
std::string describe(const radius::session_selector &want) {
    std::string out;
    auto add = [&](const char *name, const std::optional<std::string> &v) {
        if (v) out += std::string(out.empty() ? "" : ", ") + name + " " + base::escaped(*v).c_str();
    };
    add("Acct-Session-Id", want.session_id);
    add("User-Name", want.user);
    add("NAS-Port-Id", want.nas_port_id);
    add("Framed-IP-Address", want.framed_ip);
    add("Calling-Station-Id", want.calling_station_id);
    if (want.nas_port) add("NAS-Port", std::to_string(*want.nas_port));
    return out;
}

}  // namespace

std::string address_text(const sockaddr_storage &a) {
    char text[INET6_ADDRSTRLEN] = "?";
    if (a.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in &>(a).sin_addr, text, sizeof text);
    else if (a.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 &>(a).sin6_addr, text, sizeof text);
    return text;
}

std::optional<std::vector<uint8_t>> answer(service &s, const uint8_t *bytes, std::size_t size,
                                           const sockaddr_storage &from, const sockaddr_storage &local,
                                           const clocks &now) {
    const client *cl = find_client(*s.cfg, from);
    if (cl == nullptr) {
        // RFC 5176 section 6.1: silently discarded.
        log_drop(s.unknown_clients, now.monotonic, "datagram from " + address_text(from) + ", not a client, dropped");
        return std::nullopt;
    }
    radius::packet request;
    auto verdict = radius::check_dynauth_request(bytes, size, std::string_view(cl->secret.data(), cl->secret.size()),
                                                 s.cfg->rules, now.wall, &request);
    if (verdict != radius::dynauth_check::ok) {
        log_drop(s.invalid_requests[static_cast<std::size_t>(verdict)], now.monotonic,
                 "datagram from client " + cl->address + " dropped: " + radius::describe(verdict));
        return std::nullopt;
    }
    std::string context = std::string(kind(request)) + " " + std::to_string(request.identifier) + " from " +
                          cl->address;
    if (const auto *again = answered_before(s.replay, cl->where, request, now.monotonic)) {
        syslog(LOG_NOTICE, "%s: a repeat; its reply sent again, nothing done", context.c_str());
        return *again;
    }
    if (!has_room(s.replay)) {
        // Forgetting an answered request would let its repeat act twice.
        syslog(LOG_ERR, "%s: dropped: %zu requests answered in the last %lld s, no room to remember another",
               context.c_str(), s.replay.entries.size(), static_cast<long long>(s.replay.keep_s));
        return std::nullopt;
    }
    uint32_t error = radius::kUnsupportedService;  // this NAS changes no live session
    radius::session_selector want;
    if (request.code == radius::disconnect_request) {
        error = radius::read_disconnect(request, s.cfg->nas, local, want);
        if (error == 0) {
            syslog(LOG_INFO, "%s: asks to end %s", context.c_str(), describe(want).c_str());
            auto ended = end_sessions(s.registry_dir, want, context);
            error = ended.failed > 0 ? radius::kResourcesUnavailable
                    : ended.signalled == 0 ? radius::kSessionContextNotFound : 0;
        }
    }
    auto reply = radius::dynauth_reply(request, error, std::string_view(cl->secret.data(), cl->secret.size()));
    if (!reply) {
        syslog(LOG_ERR, "%s: no reply: it could not be signed", context.c_str());
        return std::nullopt;
    }
    remember(s.replay, cl->where, request, *reply, now.monotonic);
    if (error == 0)
        syslog(LOG_NOTICE, "%s: %s", context.c_str(), reply_name(request, error));
    else
        syslog(LOG_NOTICE, "%s: %s, Error-Cause %u", context.c_str(), reply_name(request, error), error);
    return reply;
}

}  // namespace dsdae
