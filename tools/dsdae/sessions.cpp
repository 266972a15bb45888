// SPDX-License-Identifier: BSD-3-Clause
#include "tools/dsdae/sessions.h"

#include <signal.h>
#include <syslog.h>

#include <cerrno>
#include <cstring>

#include "base/log_text.h"
#include "base/pidfd.h"
#include "base/unique_fd.h"

namespace dsdae {

namespace reg = session_registry;

namespace {

template <typename T, typename U>
bool given_and_differs(const std::optional<T> &wanted, const U &actual) {
    return wanted && *wanted != actual;
}

}  // namespace

bool names(const radius::session_selector &want, const reg::entry &e) {
    return !given_and_differs(want.session_id, e.session_id) && !given_and_differs(want.user, e.user) &&
           !given_and_differs(want.nas_port_id, e.nas_port_id) && !given_and_differs(want.framed_ip, e.framed_ip) &&
           !given_and_differs(want.calling_station_id, e.calling_station_id) &&
           !(want.nas_port && static_cast<long long>(*want.nas_port) != e.nas_port);
}

disconnect_outcome end_sessions(const std::string &dir, const radius::session_selector &want,
                                const std::string &context) {
    disconnect_outcome out;
    for (const std::string &name : reg::entry_names(dir)) {
        std::string path = dir + "/" + name, why;
        auto e = reg::read_entry(path, why);
        if (!e) {
            syslog(LOG_WARNING, "registry entry %s %s; ignored", base::escaped(path).c_str(), why.c_str());
            continue;
        }
        if (!names(want, *e)) continue;
        std::string session = std::string("session ") + base::escaped(e->session_id).c_str() + " of " +
                              base::escaped(e->user).c_str() + " (" + base::escaped(name).c_str() + ", pid " +
                              std::to_string(e->pid) + ")";
        base::unique_fd pidfd(base::open_pidfd(static_cast<pid_t>(e->pid)));
        if (!pidfd && errno != ESRCH) {
            syslog(LOG_ERR, "%s: %s: cannot open its process: %s", context.c_str(), session.c_str(),
                   std::strerror(errno));
            ++out.failed;
            continue;
        }
        // Checked after the descriptor is open: a pid reused before that is
        // seen here, and one reused after it cannot be reached through it.
        if (!pidfd || reg::process_start_time(e->pid) != e->start_time) {
            syslog(LOG_INFO, "%s: %s: stale (its daemon is gone); not signalled", context.c_str(), session.c_str());
            continue;
        }
        if (base::signal_pidfd(pidfd.get(), SIGHUP) == 0) {
            syslog(LOG_NOTICE, "%s: %s: link ended (SIGHUP)", context.c_str(), session.c_str());
        } else if (errno == ESRCH) {
            // It exited between the check and the signal: its link is down.
            syslog(LOG_NOTICE, "%s: %s: its daemon exited before the signal", context.c_str(), session.c_str());
        } else {
            syslog(LOG_ERR, "%s: %s: SIGHUP failed: %s", context.c_str(), session.c_str(), std::strerror(errno));
            ++out.failed;
            continue;
        }
        ++out.signalled;
    }
    return out;
}

}  // namespace dsdae
