// SPDX-License-Identifier: BSD-3-Clause
// Accounting through a PAM session from IP-up to IP-down, and the clean-up of
// what the link-up handlers started.
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <security/pam_appl.h>
#include <security/pam_misc.h>
#include <security/pam_modules.h>
#include <string>
#include <syslog.h>
#include <unistd.h>

#include "acct/octets.h"
#include "acct/registry.h"
#include "auth/attrs.h"
#include "auth/common.h"
#include "base/log_text.h"
#include "linkup/dyndns_child.h"
#include "platform/pam_env.h"
#include "platform/terminate_cause.h"
#include "plugin/handlers.h"
#include "plugin/paths.h"
#include "plugin/state.h"
#include "plugin/transaction.h"

namespace {

constexpr int kNoAcctAuthentic = -1;
constexpr int kNoInterval = 0;
// The daemon counts octets in 32 bits: sampled at least this often, a wrap
// between two samples needs more than 7 Gbit/s.
constexpr int kSampleSeconds = 600;
constexpr const char *kMarkerContent = "ok\n";
constexpr mode_t kMarkerMode = 0666;  // as fopen creates it, less the umask
const struct pam_conv kAccountingConv = {misc_conv, nullptr};

// Returns true and the marker path for this link, or false (logged) when
// the link name does not fit the path buffer.
bool marker_path(std::array<char, paths::kMarkerPathSize> &path) {
    int n = std::snprintf(path.data(), path.size(), paths::kMarkerFormat, linkname);
    if (n < 0 || static_cast<std::size_t>(n) >= path.size()) {
        syslog(LOG_ERR, "%s(): link name too long for the marker file, %zu characters",
               "ds_acct", strnlen(linkname, pppd::kPathSize));
        return false;
    }
    return true;
}

// Writes the marker as fopen("w") would, but never through a link planted
// at its path.
void write_marker() {
    std::array<char, paths::kMarkerPathSize> path{};
    if (!marker_path(path)) return;
    int fd = open(path.data(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kMarkerMode);
    if (fd < 0) {
        if (errno == ELOOP) syslog(LOG_WARNING, "%s(): %s is a symbolic link, not written", "ds_acct_start", path.data());
        return;
    }
    std::FILE *f = fdopen(fd, "w");
    if (f == nullptr) {
        close(fd);
        return;
    }
    std::fputs(kMarkerContent, f);
    std::fclose(f);
}

void remove_marker() {
    std::array<char, paths::kMarkerPathSize> path{};
    if (marker_path(path)) unlink(path.data());
}

void put_class_list(pam_handle_t *pamh) {
    if (ds_class_list != nullptr) pamutil_putenv_string_list(pamh, pam_env::kClassList, ds_class_list);
}

// Unsigned counters go out through "%d", as accounting peers expect.
int as_signed(unsigned int counter) { return static_cast<int>(counter); }

// The session's octets since IP-up, past 2^32, and the interval of its
// Interim-Updates (kNoInterval: none).
ds_octet_total octets_in, octets_out;
int interim_seconds = kNoInterval;

// Reads the daemon's counters now and adds what they moved.
void sample_counters() {
    update_link_stats(0);
    octets_in.sample(link_stats.bytes_in);
    octets_out.sample(link_stats.bytes_out);
}

void sample_tick(void *) noexcept {
    sample_counters();
    timeout(sample_tick, nullptr, kSampleSeconds, 0);
}

// The counters as they stand after the last sample.
void put_counters(pam_handle_t *pamh) {
    ds_pam_putenv_int(pamh, pam_env::kAcctInputOctets, as_signed(octets_in.low()));
    ds_pam_putenv_int(pamh, pam_env::kAcctOutputOctets, as_signed(octets_out.low()));
    ds_pam_putenv_int(pamh, pam_env::kAcctInputGigawords, as_signed(octets_in.gigawords()));
    ds_pam_putenv_int(pamh, pam_env::kAcctOutputGigawords, as_signed(octets_out.gigawords()));
    ds_pam_putenv_int(pamh, pam_env::kAcctSessionTime, as_signed(link_connect_time));
    ds_pam_putenv_int(pamh, pam_env::kAcctInputPackets, as_signed(link_stats.pkts_in));
    ds_pam_putenv_int(pamh, pam_env::kAcctOutputPackets, as_signed(link_stats.pkts_out));
}

// An Interim-Update: the session module sends it when the stack's setcred
// reaches it (see pam_env::kInterimUpdateInterval).
void interim_tick(void *) noexcept {
    if (ds_pamh == nullptr || ds_pamh_holds != ds_transaction::accounting || interim_seconds == kNoInterval) return;
    sample_counters();
    put_counters(ds_pamh);
    pam_setcred(ds_pamh, PAM_REFRESH_CRED | PAM_SILENT);
    timeout(interim_tick, nullptr, interim_seconds, 0);
}

// untimeout removes the first match only; each is armed at most once.
void stop_timers() {
    untimeout(sample_tick, nullptr);
    untimeout(interim_tick, nullptr);
    interim_seconds = kNoInterval;
}

// The session's start: a baseline for the counters, and its timers.
void start_timers() {
    stop_timers();
    update_link_stats(0);
    octets_in.start(link_stats.bytes_in);
    octets_out.start(link_stats.bytes_out);
    timeout(sample_tick, nullptr, kSampleSeconds, 0);
    const char *interval = ds_pamh ? pam_getenv(ds_pamh, pam_env::kInterimUpdateInterval) : nullptr;
    if (interval == nullptr) return;
    int seconds = pam_env::decode_leading_int(interval);
    if (seconds < pam_env::kMinInterimInterval) {
        syslog(LOG_WARNING, "%s(): interim interval \"%s\" is below %d s; no Interim-Updates", "ds_acct_start",
               base::escaped(interval).c_str(), pam_env::kMinInterimInterval);
        return;
    }
    interim_seconds = seconds;
    timeout(interim_tick, nullptr, interim_seconds, 0);
}

// Ends ds_pamh's transaction as IP-down does: the Class list and the
// counters (sampled now), pam_close_session, then pam_end with the close's
// result.
void close_with_counters() {
    stop_timers();
    sample_counters();
    put_class_list(ds_pamh);
    put_counters(ds_pamh);
    ds_transaction_close_session();
}

// Who the session is for, taken from the transaction before it is ended.
struct session_owner {
    std::string user;
    bool have_user = false;
    int acct_authentic = kNoAcctAuthentic;
    std::string interim_interval;  // the Access-Accept's, when it had one
};

session_owner owner_of(pam_handle_t *pamh) {
    session_owner owner;
    const char *name = nullptr;
    if (pam_get_user(pamh, &name, nullptr) == PAM_SUCCESS && name != nullptr) {
        try {
            owner.user = name;
            owner.have_user = true;
        } catch (...) {
        }
    }
    const char *authentic = pam_getenv(pamh, pam_env::kAcctAuthentic);
    if (authentic != nullptr) owner.acct_authentic = pam_env::decode_leading_int(authentic);
    if (const char *interval = pam_getenv(pamh, pam_env::kAcctInterimInterval)) {
        try {
            owner.interim_interval = interval;
        } catch (...) {
        }
    }
    return owner;
}

void open_session(const session_owner &owner) {
    if (!owner.have_user ||
        ds_transaction_begin(&ds_pamh, kPamService, owner.user.c_str(), &kAccountingConv,
                             ds_transaction::accounting) != PAM_SUCCESS)
        return;
    ds_set_user_attrs(ds_pamh, owner.user.c_str(), ds_get_port());
    if (owner.acct_authentic != kNoAcctAuthentic)
        ds_pam_putenv_int(ds_pamh, pam_env::kAcctAuthentic, owner.acct_authentic);
    if (!owner.interim_interval.empty())
        ds_pam_putenv_str(ds_pamh, pam_env::kAcctInterimInterval, owner.interim_interval.c_str());
    put_class_list(ds_pamh);
    pam_open_session(ds_pamh, PAM_SILENT);
    start_timers();
}

}  // namespace

void ds_acct_start(void *, int) noexcept {
    if (ds_pamh != nullptr && ds_pamh_holds == ds_transaction::accepted) {
        session_owner owner = owner_of(ds_pamh);
        ds_transaction_end(&ds_pamh, PAM_SUCCESS);
        open_session(owner);
    } else if (ds_pamh != nullptr && ds_pamh_holds == ds_transaction::accounting) {
        // IP-up again without IP-down: the open session gets its Stop first.
        session_owner owner = owner_of(ds_pamh);
        close_with_counters();
        open_session(owner);
    } else if (ds_pamh != nullptr) {
        // A refused transaction left behind while the link was accepted
        // otherwise (the port's local user): nobody is charged under its name.
        ds_transaction_end(&ds_pamh, PAM_ABORT);
    }
    write_marker();
    ds_register_session();
}

void ds_acct_stop(void *, int) noexcept {
    ds_unregister_session();
    if (ds_pamh != nullptr) {
        ds_pam_putenv_int(ds_pamh, pam_env::kAcctTerminateCause,
                          terminate_cause::of(terminate_cause::seen_at_ip_down()));
        close_with_counters();
    } else {
        stop_timers();
        update_link_stats(0);
    }
    if (ds_dyndns_pid != 0) {
        ds_stop_client(ds_dyndns_pid, ds_dyndns_pidfd);
        ds_dyndns_pid = 0;
    }
    int port = ds_get_port();
    if (port != kNoPort) {
        deletePortRoutes(port);
        deleteIPv6Tunnel(port);
    }
    remove_marker();
    reopen_log();
}
