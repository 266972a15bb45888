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

#include "auth/attrs.h"
#include "auth/common.h"
#include "linkup/dyndns_child.h"
#include "platform/pam_env.h"
#include "plugin/handlers.h"
#include "plugin/paths.h"
#include "plugin/state.h"

namespace {

constexpr int kNoAcctAuthentic = -1;
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

// Ends ds_pamh's transaction as IP-down does: the Class list and the
// counters (current after update_link_stats), pam_close_session, then
// pam_end with the close's result.
void close_with_counters() {
    put_class_list(ds_pamh);
    ds_pam_putenv_int(ds_pamh, pam_env::kAcctInputOctets, as_signed(link_stats.bytes_in));
    ds_pam_putenv_int(ds_pamh, pam_env::kAcctOutputOctets, as_signed(link_stats.bytes_out));
    ds_pam_putenv_int(ds_pamh, pam_env::kAcctSessionTime, as_signed(link_connect_time));
    ds_pam_putenv_int(ds_pamh, pam_env::kAcctInputPackets, as_signed(link_stats.pkts_in));
    ds_pam_putenv_int(ds_pamh, pam_env::kAcctOutputPackets, as_signed(link_stats.pkts_out));
    int result = pam_close_session(ds_pamh, PAM_SILENT);
    pam_end(ds_pamh, result);
    ds_pamh = nullptr;
    ds_pamh_holds = ds_transaction::none;
}

// Who the session is for, taken from the transaction before it is ended.
struct session_owner {
    std::string user;
    bool have_user = false;
    int acct_authentic = kNoAcctAuthentic;
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
    if (authentic != nullptr) owner.acct_authentic = ds_parse_int(authentic);
    return owner;
}

void open_session(const session_owner &owner) {
    if (!owner.have_user ||
        pam_start(kPamService, owner.user.c_str(), &kAccountingConv, &ds_pamh) != PAM_SUCCESS)
        return;
    ds_pamh_holds = ds_transaction::accounting;
    ds_set_user_attrs(ds_pamh, owner.user.c_str(), ds_get_port());
    if (owner.acct_authentic != kNoAcctAuthentic)
        ds_pam_putenv_int(ds_pamh, pam_env::kAcctAuthentic, owner.acct_authentic);
    put_class_list(ds_pamh);
    pam_open_session(ds_pamh, PAM_SILENT);
}

}  // namespace

void ds_acct_start(void *, int) noexcept {
    if (ds_pamh != nullptr && ds_pamh_holds == ds_transaction::accepted) {
        session_owner owner = owner_of(ds_pamh);
        pam_end(ds_pamh, PAM_SUCCESS);
        ds_pamh = nullptr;
        open_session(owner);
    } else if (ds_pamh != nullptr && ds_pamh_holds == ds_transaction::accounting) {
        // IP-up again without IP-down: the open session gets its Stop first.
        session_owner owner = owner_of(ds_pamh);
        update_link_stats(0);
        close_with_counters();
        open_session(owner);
    } else if (ds_pamh != nullptr) {
        // A refused transaction left behind while the link was accepted
        // otherwise (the port's local user): nobody is charged under its name.
        pam_end(ds_pamh, PAM_ABORT);
        ds_pamh = nullptr;
    }
    if (ds_pamh == nullptr) ds_pamh_holds = ds_transaction::none;
    write_marker();
}

void ds_acct_stop(void *, int) noexcept {
    update_link_stats(0);
    if (ds_pamh != nullptr) close_with_counters();
    ds_pamh_holds = ds_transaction::none;
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
