// SPDX-License-Identifier: BSD-3-Clause
// dsdae: the device's Dynamic Authorization server (RFC 5176). A RADIUS
// server's Disconnect-Request ends the dial-in sessions it names, through
// the session registry the port daemons keep; a CoA-Request is refused.
//   dsdae [-f] [-c PATH]
#include <netinet/in.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <syslog.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/session_registry.h"
#include "radius/log_name.h"
#include "tools/dsdae/config.h"
#include "tools/dsdae/privileges.h"
#include "tools/dsdae/service.h"
#include "tools/dsdae/udp.h"

namespace {

constexpr const char *kName = "dsdae";
constexpr int kExitUsage = 2;
constexpr int kExitFailed = 1;
// Datagrams read from one socket before the others and the signals get a
// look: a flood delays a SIGTERM by one batch, never for as long as it lasts.
constexpr int kBatch = 64;

int usage() {
    std::fprintf(stderr, "usage: dsdae [-f] [-c PATH]\n"
                         "  answers Disconnect-Requests (RFC 5176) as PATH (default %s) says;\n"
                         "  -f: stays in the foreground and logs to stderr as well\n",
                 dsdae::kDefaultConfig);
    return kExitUsage;
}

int64_t clock_seconds(clockid_t which) {
    timespec t{};
    clock_gettime(which, &t);
    return t.tv_sec;
}

// Returns a descriptor that reads SIGTERM, SIGINT and SIGHUP, now blocked.
base::unique_fd daemon_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    return base::unique_fd(signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
}

}  // namespace

int main(int argc, char **argv) {
    std::string path = dsdae::kDefaultConfig;
    bool foreground = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "-f") foreground = true;
        else if (arg == "-c" && i + 1 < argc) path = argv[++i];
        else return usage();
    }
    openlog(kName, LOG_PID | (foreground ? LOG_PERROR : 0), LOG_DAEMON);
    radius::log_name = kName;

    std::string error;
    auto cfg = dsdae::load_config(path, error);
    if (!cfg) {
        syslog(LOG_ERR, "not started: %s", error.c_str());
        return kExitFailed;
    }
    std::vector<base::unique_fd> sockets;
    for (const dsdae::listen_address &l : cfg->listens) {
        sockets.push_back(dsdae::bind_socket(l, error));
        if (!sockets.back()) {
            syslog(LOG_ERR, "not started: %s", error.c_str());
            return kExitFailed;
        }
    }
    base::unique_fd signals = daemon_signals();
    if (!signals) {
        syslog(LOG_ERR, "not started: no descriptor for its signals");
        return kExitFailed;
    }
    if (!dsdae::drop_privileges(cfg->user, error)) {
        syslog(LOG_ERR, "not started: cannot drop privileges: %s", error.c_str());
        return kExitFailed;
    }
    if (!foreground && daemon(0, 0) != 0) {
        syslog(LOG_ERR, "not started: cannot detach: %m");
        return kExitFailed;
    }

    dsdae::service service;
    service.cfg = &*cfg;
    service.registry_dir = session_registry::kDir;
    service.replay.keep_s = 2 * static_cast<int64_t>(cfg->rules.event_window_s);
    for (const dsdae::listen_address &l : cfg->listens)
        syslog(LOG_INFO, "listening on %s port %u as %s", l.address.c_str(), l.port, cfg->user.c_str());

    std::vector<pollfd> watched;
    for (const base::unique_fd &s : sockets) watched.push_back({s.get(), POLLIN, 0});
    watched.push_back({signals.get(), POLLIN, 0});
    for (;;) {
        if (poll(watched.data(), watched.size(), -1) < 0) continue;  // EINTR
        if (watched.back().revents != 0) {
            signalfd_siginfo info{};
            if (read(signals.get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
            // Its sockets and secrets were taken as root: a new configuration
            // needs a new start, not a reload by a process that cannot bind.
            if (info.ssi_signo == SIGHUP) {
                syslog(LOG_NOTICE, "SIGHUP ignored: restart dsdae to read its configuration again");
                continue;
            }
            break;
        }
        for (std::size_t i = 0; i + 1 < watched.size(); ++i) {
            if (watched[i].revents == 0) continue;
            dsdae::datagram in;
            for (int n = 0; n < kBatch && dsdae::receive(watched[i].fd, in); ++n) {
                const dsdae::clocks now{clock_seconds(CLOCK_REALTIME), clock_seconds(CLOCK_MONOTONIC)};
                auto reply = dsdae::answer(service, in.bytes.data(), in.bytes.size(), in.from, in.local, now);
                if (reply && !dsdae::send_reply(watched[i].fd, *reply, in.from, in.local))
                    syslog(LOG_ERR, "reply to %s not sent: %m", dsdae::address_text(in.from).c_str());
            }
        }
    }
    syslog(LOG_INFO, "stopped");
    return 0;
}
