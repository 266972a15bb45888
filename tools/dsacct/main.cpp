// SPDX-License-Identifier: BSD-3-Clause
// dsacct: tells the RADIUS accounting servers that the device starts or stops
// (Accounting-On and Accounting-Off, RFC 2866 section 5.1), so that they close
// the sessions it had open before. Uses pam_dsradius's configuration and its
// client: the same servers, failover, TLS and reply checks.
//   dsacct [-c PATH] on|off
#include <syslog.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/pam_env.h"
#include "platform/terminate_cause.h"
#include "radius/accounting.h"
#include "radius/client.h"
#include "radius/config.h"
#include "radius/log_name.h"
#include "radius/nas.h"

namespace {

constexpr const char *kName = "dsacct";
constexpr std::size_t kSessionIdBytes = 8;
constexpr int kExitUsage = 2;
constexpr int kExitFailed = 1;

int usage() {
    std::fprintf(stderr, "usage: dsacct [-c PATH] on|off\n"
                         "  tells the accounting servers of PATH (default %s) that the device starts or stops\n",
                 radius::kDefaultConfig);
    return kExitUsage;
}

// Returns a random Acct-Session-Id for the event, or nothing (logged).
std::optional<std::string> event_session_id() {
    unsigned char bytes[kSessionIdBytes] = {};
    if (!radius::random_bytes(bytes, sizeof bytes)) return std::nullopt;
    return pam_env::encode_hex(std::string_view(reinterpret_cast<char *>(bytes), sizeof bytes));
}

}  // namespace

int main(int argc, char **argv) {
    std::string path = radius::kDefaultConfig;
    const char *what = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "-c" && i + 1 < argc)
            path = argv[++i];
        else if ((arg == "on" || arg == "off") && what == nullptr)
            what = argv[i];
        else
            return usage();
    }
    if (what == nullptr) return usage();
    const bool on = std::strcmp(what, "on") == 0;
    const char *event_name = on ? "Accounting-On" : "Accounting-Off";

    // Every line goes to syslog and, for whoever runs the command, to stderr.
    openlog(kName, LOG_PID | LOG_PERROR, LOG_DAEMON);
    setlogmask(LOG_UPTO(LOG_INFO));
    radius::log_name = kName;

    std::string error;
    auto cfg = radius::load_config(path, error);
    if (!cfg) {
        syslog(LOG_ERR, "%s not sent: %s", event_name, error.c_str());
        return kExitFailed;
    }
    auto session_id = event_session_id();
    if (!session_id) {
        syslog(LOG_ERR, "%s not sent: no random session id", event_name);
        return kExitFailed;
    }
    const radius::accounting_event event{on ? radius::kAcctOn : radius::kAcctOff, *session_id,
                                         radius::event_time_now()};
    auto build = [&](const radius::server &s, const sockaddr_storage &local, uint8_t id,
                     unsigned tried_for) -> std::optional<radius::request_bytes> {
        radius::packet p;
        p.code = radius::accounting_request;
        p.identifier = id;
        radius::add_nas_identity(*cfg, local, p);
        radius::add_accounting_event(event, tried_for, p);
        // Why the sessions the server still holds open ended: the device
        // restarted without stopping them, or its operator shuts it down.
        p.add_u32(radius::acct_terminate_cause, on ? terminate_cause::kNasReboot : terminate_cause::kAdminReboot);
        auto bytes = radius::encode_accounting_request(p, s.secret);
        if (!bytes) return std::nullopt;
        return radius::request_bytes{std::move(*bytes), p.auth};
    };
    auto result = radius::exchange(*cfg, radius::service::accounting, build);
    if (result.how == radius::outcome::answered) {
        syslog(LOG_NOTICE, "%s acknowledged by %s", event_name, cfg->servers[result.server].address.c_str());
        return 0;
    }
    syslog(LOG_ERR, "%s %s", event_name,
           result.how == radius::outcome::failed ? "failed closed: no request sent or no reply trusted"
                                                 : "acknowledged by no accounting server");
    return kExitFailed;
}
