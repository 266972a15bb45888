// SPDX-License-Identifier: BSD-3-Clause
#include "tests/unit/fakes.h"

#include <arpa/inet.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "device/string_list.h"
#include "plugin/call_defaults.h"
#include "plugin/state.h"

fake_device dev;
int live_pam_handles = 0;
int pam_start_failure = 0;

// ---- the daemon: pppd-sim's definitions, counters in `sim` ----------------
sim_counters &daemon_fake = sim;

// ---- the device library ----------------------------------------------------
namespace {
std::string ip4(u_int32_t a) {
    char t[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a, t, sizeof t);
    return t;
}
std::string ip6(const unsigned char *a) {
    char t[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, a, t, sizeof t);
    return t;
}
}  // namespace

int reprom(void *buf, int len, int offset) {
    dev.reprom_offsets.push_back(offset);
    if (dev.failing_offsets.count(offset)) return -1;
    if (offset < 0 || len < 0 || static_cast<std::size_t>(offset) + len > dev.store.size())
        return -1;
    std::memcpy(buf, dev.store.data() + offset, static_cast<std::size_t>(len));
    return len;
}
int send_auth_alert(int, int kind, const char *text) {
    dev.alerts.emplace_back(kind, text);
    return 0;
}
int getuserinfo(const char *name, void *record) {
    auto it = dev.users.find(name);
    if (it == dev.users.end()) return 1;
    std::memset(record, 0, device::kUserinfoSize);
    std::memcpy(static_cast<char *>(record) + device::kUserinfoPassword, it->second.c_str(),
                it->second.size() + 1);
    return 0;
}
namespace {
// Records a call of the device library as text, and succeeds.
int record(const std::string &call) {
    dev.calls.push_back(call);
    return 0;
}
std::string num(int n) { return std::to_string(n); }
}  // namespace

int get_semaphore(int key, const char *path) { return record("get_semaphore " + num(key) + " " + path), dev.semaphore_id; }
int wait_semaphore(int) { return dev.wait_result; }
int release_semaphore(int) { return ++dev.releases, 0; }
int get_dyndns_ssl_config(unsigned char *block) {
    std::memset(block, 0xab, device::kDyndnsSslBlockSize);
    return dev.ssl_result;
}
int createPortRoutes(int port, int family) { return record("createPortRoutes " + num(port) + " " + num(family)); }
int deletePortRoutes(int port) { return record("deletePortRoutes " + num(port)); }
int createIPv6Tunnel(int port) { return record("createIPv6Tunnel " + num(port)); }
int deleteIPv6Tunnel(int port) { return record("deleteIPv6Tunnel " + num(port)); }
int add_route_v4(u_int32_t dest, u_int32_t mask, u_int32_t gateway, const char *name) {
    return record("route4 " + ip4(dest) + "/" + ip4(mask) + " via " + ip4(gateway) + " dev " + name);
}
int add_route_v6(const unsigned char *dest, int prefix_len, const unsigned char *gateway, const char *name) {
    return record("route6 " + ip6(dest) + "/" + num(prefix_len) + " via " + ip6(gateway) + " dev " + name);
}
int pamutil_add_radius_ipv4_routes(const pamutil_string_list *list, const char *name, u_int32_t peer) {
    return record("radius4 " + num(pamutil_string_list_count(list)) + " " + name + " " + ip4(peer));
}
int pamutil_add_radius_ipv6_routes(const pamutil_string_list *list, const char *name) {
    return record("radius6 " + num(pamutil_string_list_count(list)) + " " + name);
}

// ---- PAM -------------------------------------------------------------------
namespace {

// A private directory for the PAM stacks and the module's script and
// record, removed when the test process ends.
struct scratch {
    std::string dir;
    scratch() {
        char templ[] = "/tmp/dsppp-unit-XXXXXX";
        if (const char *made = mkdtemp(templ)) dir = made;
    }
    ~scratch() {
        std::error_code ignored;
        if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
    }
};

std::string scratch_dir() {
    static scratch s;
    return s.dir;
}

std::string confdir() {
    static std::string dir = [] {
        std::string d = scratch_dir() + "/pam.d";
        mkdir(d.c_str(), 0700);
        for (const char *service : {"ppp", "ds_no_auth", "other"}) {
            std::ofstream f(d + "/" + service);
            for (const char *type : {"auth", "account", "session"})
                f << type << " required " << DSTEST_MODULE << " section=" << service << "\n";
        }
        return d;
    }();
    return dir;
}

std::string record_path() { return scratch_dir() + "/record"; }

}  // namespace

extern "C" int __real_pam_start(const char *, const char *, const struct pam_conv *,
                                pam_handle_t **);
extern "C" int __real_pam_end(pam_handle_t *, int);

extern "C" int __wrap_pam_start(const char *service, const char *user,
                                const struct pam_conv *conv, pam_handle_t **pamh) {
    if (pam_start_failure != 0) {
        int rc = pam_start_failure;
        pam_start_failure = 0;
        *pamh = nullptr;
        return rc;
    }
    int rc = pam_start_confdir(service, user, conv, confdir().c_str(), pamh);
    if (rc == PAM_SUCCESS) ++live_pam_handles;
    return rc;
}

extern "C" int __wrap_pam_end(pam_handle_t *pamh, int status) {
    if (pamh != nullptr) --live_pam_handles;
    return __real_pam_end(pamh, status);
}

pam_handle_t *test_pam_start(const char *service, const char *user) {
    static const pam_conv conv = {nullptr, nullptr};
    pam_handle_t *pamh = nullptr;
    pam_start_confdir(service, user, &conv, confdir().c_str(), &pamh);
    return pamh;
}

void pam_script(const std::vector<std::string> &lines) {
    std::string path = scratch_dir() + "/script";
    std::ofstream f(path);
    for (const auto &l : lines) f << l << "\n";
    setenv("DSTEST_SCRIPT", path.c_str(), 1);
    setenv("DSTEST_RECORD", record_path().c_str(), 1);
    std::ofstream(record_path(), std::ios::trunc);
}

std::vector<pam_event> pam_events() {
    std::vector<pam_event> events;
    std::ifstream in(record_path());
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream ss(line);
        std::string field;
        while (std::getline(ss, field, '\t')) fields.push_back(field);
        pam_event e;
        e.call = fields[0];
        if (fields.size() > 1) e.id = fields[1];
        if (fields.size() > 2) e.section = fields[2];
        if (fields.size() > 3 && e.call != "begin" && e.call != "end") e.rc = std::atoi(fields[3].c_str());
        for (std::size_t i = 4; i < fields.size(); ++i) {
            std::size_t eq = fields[i].find('=');
            if (eq != std::string::npos) e.env[fields[i].substr(0, eq)] = fields[i].substr(eq + 1);
        }
        e.fields = fields;
        events.push_back(e);
    }
    return events;
}

int pam_module_live_transactions() {
    int live = 0;
    for (const auto &e : pam_events()) live += e.call == "begin" ? 1 : e.call == "end" ? -1 : 0;
    return live;
}

// ---- resetting -------------------------------------------------------------
void reset_all() {
    if (ds_pamh != nullptr) pam_end(ds_pamh, PAM_ABORT);
    ds_pamh = nullptr;
    ds_pamh_holds = ds_transaction::none;
    if (ds_dyndns_pidfd >= 0) close(ds_dyndns_pidfd);
    ds_dyndns_pidfd = -1;
    ds_conv_user = ds_conv_password = nullptr;
    ds_framed_ip = 0;
    std::free(ds_callback_number);
    ds_callback_number = nullptr;
    ds_callback_enabled = 0;
    for (auto *list : {&ds_routes_v4, &ds_routes_v6, &ds_class_list}) {
        pamutil_free_string_list(*list);
        *list = nullptr;
    }
    ds_dyndns_pid = 0;
    static const std::string registry = scratch_dir() + "/run/sessions";
    ds_registry_dir = registry.c_str();
    dev = fake_device{};
    daemon_fake = sim_counters{};
    logged.clear();
    live_pam_handles = 0;
    pam_start_failure = 0;
    lcp_wantoptions[0] = lcp_options{};
    ipcp_wantoptions[0] = ipcp_options{};
    ipcp_gotoptions[0] = ipcp_options{};
    ipcp_hisoptions[0] = ipcp_options{};
    ipv6cp_wantoptions[0] = ipv6cp_options{};
    ipv6cp_gotoptions[0] = ipv6cp_options{};
    ipv6cp_hisoptions[0] = ipv6cp_options{};
    ipcp_allowoptions[0] = ipcp_options{};
    maxconnect = idle_time_limit = 0;
    remote_number[0] = '\0';
    ds_daemon_values_kept = false;
    sim_reset_clock();
    status = pppd::kExitOk;
    lcp_fsm[0] = fsm{};
    std::snprintf(ifname, sizeof ifname, "dstest0");
    std::snprintf(devnam, sizeof devnam, "/dev/ttyS3");
    std::snprintf(linkname, sizeof linkname, "unit");
    unsetenv("PORT");
    pam_script({});
}

void put_store(int offset, const std::string &text) {
    std::memcpy(dev.store.data() + offset, text.c_str(), text.size() + 1);
}
void put_store_byte(int offset, unsigned char value) { dev.store[offset] = value; }
