// SPDX-License-Identifier: BSD-3-Clause
#include "acct/registry.h"

#include <arpa/inet.h>
#include <security/pam_appl.h>
#include <syslog.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include "auth/common.h"
#include "base/file_trust.h"
#include "base/root_files.h"
#include "base/text_rules.h"
#include "platform/pam_env.h"
#include "platform/pppd.h"
#include "platform/session_registry.h"
#include "plugin/state.h"

namespace {

namespace reg = session_registry;

// Returns whether `dir` is (made) a directory of root's nobody else may enter.
bool private_dir(const std::string &dir) {
    return base::root_dir(dir, reg::kDirMode, base::kNoAccessForOthers) == base::dir_verdict::trusted;
}

std::string entry_path() { return std::string(ds_registry_dir) + "/" + reg::file_name(ds_get_port(), ifname); }

// Returns this link's entry, from the daemon's variables and the accounting transaction.
reg::entry this_link() {
    reg::entry e;
    if (ds_pamh != nullptr && ds_pamh_holds == ds_transaction::accounting) {
        if (const char *id = pam_getenv(ds_pamh, pam_env::kAcctSessionId)) e.session_id = id;
        const char *user = nullptr;
        if (pam_get_user(ds_pamh, &user, nullptr) == PAM_SUCCESS && user != nullptr) e.user = user;
    }
    int port = ds_get_port();
    e.nas_port = port >= 0 ? port + 1 : 0;
    e.nas_port_id = devnam;
    char peer[INET_ADDRSTRLEN] = "";
    u_int32_t address = ipcp_hisoptions[0].hisaddr;
    if (address != 0 && inet_ntop(AF_INET, &address, peer, sizeof peer) != nullptr) e.framed_ip = peer;
    if (!base::has_control_character(remote_number)) e.calling_station_id = remote_number;
    e.ifname = ifname;
    e.pid = getpid();
    e.start_time = reg::process_start_time(e.pid).value_or(0);
    e.since = static_cast<long long>(std::time(nullptr));
    return e;
}

}  // namespace

void ds_register_session() noexcept {
    try {
        std::string dir = ds_registry_dir, parent = dir.substr(0, dir.rfind('/'));
        if (!private_dir(parent) || !private_dir(dir)) {
            syslog(LOG_ERR, "%s(): %s is not root's own private directory; the session is not registered",
                   "ds_register_session", dir.c_str());
            return;
        }
        std::string path = entry_path();
        if (!base::replace_file(path, reg::format(this_link()), reg::kEntryMode))
            syslog(LOG_ERR, "%s(): cannot write %s: %m", "ds_register_session", path.c_str());
    } catch (...) {
        syslog(LOG_ERR, "%s(): out of memory; the session is not registered", "ds_register_session");
    }
}

void ds_unregister_session() noexcept {
    try {
        unlink(entry_path().c_str());
    } catch (...) {
    }
}

void ds_unregister_at_exit(void *, int) noexcept { ds_unregister_session(); }
