// SPDX-License-Identifier: BSD-3-Clause
// pppd-sim: hosts a pppd 2.4.2 plug-in the way the daemon does and drives one
// simulated link (or many, for soak runs) through the daemon's phases.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <getopt.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/addr.h"
#include "base/md5.h"
#include "platform/pam_env.h"
#include "tools/pppd-sim/children.h"
#include "tools/pppd-sim/daemon.h"
#include "tools/pppd-sim/log.h"

namespace {

constexpr int kExitUp = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr const char *kPluginVersion = "2.4.2";
constexpr std::size_t kChallengeSize = 16;
constexpr const char *kPapSecrets = "/etc/ppp/pap-secrets";
constexpr const char *kChapSecrets = "/etc/ppp/chap-secrets";
constexpr const char *kTunDevice = "/dev/net/tun";
constexpr const char *kSerialStandIn = "/dev/null";
constexpr int kDefaultMru = 1500;  // DEFMRU: what LCP uses without an MRU option

struct sim_options {
    std::string plugin;
    std::optional<std::string> port;
    std::string ifname = "ppp0", linkname = "sim", devnam = "/dev/ttyS0", ourname = "dsppp";
    u_int32_t local_ip = htonl(0x0a000001), peer_ip = htonl(0x0a000002);
    eui64_t local_id{}, peer_id{};
    std::string auth = "pap", user, password;
    // One per cycle when repeated; the last one serves every later cycle.
    std::vector<std::string> users, passwords;
    bool callback = false, ipv6 = false, tun = false, json = false, quiet = false, reap = false;
    int rechallenges = 0, cycles = 1, ip_down_count = 1;
    long long up_for = 0;
    std::string end = "default";
    std::string while_up;
    bool until_signal = false;  // the link stays up until SIGHUP or SIGTERM
    bool terminated = false;    // SIGTERM came: no further cycle
};

sim_options opts;

void emit(nlohmann::json event) {
    if (opts.quiet && event["event"] != "resources" && event["event"] != "exit" && event["event"] != "error")
        return;
    if (opts.json) {
        std::cout << event.dump() << std::endl;
        return;
    }
    std::string name = event["event"];
    event.erase("event");
    std::cout << "[" << name << "]";
    for (auto &[key, value] : event.items())
        std::cout << " " << key << "=" << (value.is_string() ? value.get<std::string>() : value.dump());
    std::cout << std::endl;
}

std::string ipv4_text(u_int32_t addr) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

std::string interface_id_text(const eui64_t &id) { return pam_env::encode_interface_id(id.e8); }

bool parse_interface_id(const char *text, eui64_t &id) {
    std::array<unsigned char, base::kIpv6Size> addr{};
    if (inet_pton(AF_INET6, text, addr.data()) != 1) return false;
    std::memcpy(id.e8, addr.data() + base::kInterfaceIdOffset, base::kInterfaceIdSize);
    return true;
}

// The daemon's own MD5 verifier.
int md5_verify(int id, char *, unsigned char *secret, int secret_len, unsigned char *challenge,
               unsigned char *response, char *message, int message_space) {
    int ok = 0;
    if (response[0] == base::kMd5Size) {
        auto expected = base::chap_md5(id, std::string_view(reinterpret_cast<char *>(secret), secret_len),
                                       challenge + 1, challenge[0]);
        ok = expected.failed_call == nullptr &&
             std::memcmp(expected.digest.data(), response + 1, base::kMd5Size) == 0;
    }
    std::snprintf(message, message_space, ok ? "Access granted" : "Access denied");
    return ok;
}

chap_digest_type md5_digest = {pppd::kChapMd5, nullptr, md5_verify, nullptr, nullptr, nullptr,
                               nullptr};

// Returns the secret for `user` in a daemon secrets file ("client server secret").
std::optional<std::string> secret_from_file(const char *path, const std::string &user) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string client, server, secret;
        if (!(words >> client >> server >> secret) || client[0] == '#') continue;
        if (client == user || client == "*") return secret;
    }
    return std::nullopt;
}

int chap_round(int id) {
    std::array<unsigned char, 1 + kChallengeSize> challenge{};
    challenge[0] = kChallengeSize;
    if (getrandom(challenge.data() + 1, kChallengeSize, 0) != static_cast<ssize_t>(kChallengeSize))
        return 0;
    std::array<unsigned char, 1 + base::kMd5Size> response{};
    response[0] = base::kMd5Size;
    auto digest = base::chap_md5(id, opts.password, challenge.data() + 1, kChallengeSize);
    if (digest.failed_call != nullptr) return 0;
    std::copy(digest.digest.begin(), digest.digest.end(), response.begin() + 1);
    std::array<unsigned char, pppd::kChapMessageSpace> message{};
    int ok = 0;
    std::string verifier = "plugin";
    if (chap_verify_hook != nullptr) {
        ok = chap_verify_hook(opts.user.data(), opts.ourname.data(), id, &md5_digest,
                              challenge.data(), response.data(), message.data(),
                              pppd::kChapMessageSpace);
    } else {
        verifier = "secrets";
        auto secret = secret_from_file(kChapSecrets, opts.user);
        std::string s = secret.value_or("");
        ok = secret && md5_verify(id, opts.user.data(),
                                  reinterpret_cast<unsigned char *>(s.data()),
                                  static_cast<int>(s.size()), challenge.data(), response.data(),
                                  reinterpret_cast<char *>(message.data()),
                                  pppd::kChapMessageSpace);
    }
    emit({{"event", "chap"}, {"user", opts.user}, {"id", id}, {"verifier", verifier},
          {"result", ok ? 1 : 0}, {"message", reinterpret_cast<char *>(message.data())}});
    return ok;
}

int pap_round() {
    int ok = 0;
    std::string verifier = "plugin";
    const char *reply = "";
    if (pap_check_hook != nullptr) pap_check_hook();
    if (pap_auth_hook != nullptr) {
        char *msg = const_cast<char *>("");
        wordlist *addrs = nullptr, *popts = nullptr;
        ok = pap_auth_hook(opts.user.data(), opts.password.data(), &msg, &addrs, &popts);
        reply = msg ? msg : "";
        if (ok < 0) ok = 0;
    } else {
        verifier = "secrets";
        auto secret = secret_from_file(kPapSecrets, opts.user);
        ok = secret && *secret == opts.password;
        reply = ok ? "Login ok" : "Login incorrect";
    }
    emit({{"event", "pap"}, {"user", opts.user}, {"verifier", verifier}, {"result", ok ? 1 : 0},
          {"message", reply}});
    return ok;
}

// Holds a tun device named like the link's interface while the link is up.
struct tun_link {
    int fd = -1;
    ~tun_link() {
        if (fd >= 0) close(fd);
    }
    bool open_up() {
        fd = open(kTunDevice, O_RDWR | O_CLOEXEC);
        if (fd < 0) return false;
        ifreq req{};
        req.ifr_flags = IFF_TUN | IFF_NO_PI;
        std::snprintf(req.ifr_name, IFNAMSIZ, "%.*s", IFNAMSIZ - 1, ifname);
        if (ioctl(fd, TUNSETIFF, &req) < 0) return false;
        int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (sock < 0) return false;
        auto set_addr = [&](unsigned long request, u_int32_t addr) {
            ifreq r{};
            std::snprintf(r.ifr_name, IFNAMSIZ, "%.*s", IFNAMSIZ - 1, ifname);
            auto *sin = reinterpret_cast<sockaddr_in *>(&r.ifr_addr);
            sin->sin_family = AF_INET;
            sin->sin_addr.s_addr = addr;
            return ioctl(sock, request, &r) == 0;
        };
        bool ok = set_addr(SIOCSIFADDR, ipcp_gotoptions[0].ouraddr) &&
                  set_addr(SIOCSIFDSTADDR, ipcp_hisoptions[0].hisaddr);
        ifreq flags{};
        std::snprintf(flags.ifr_name, IFNAMSIZ, "%.*s", IFNAMSIZ - 1, ifname);
        ok = ok && ioctl(sock, SIOCGIFFLAGS, &flags) == 0;
        flags.ifr_flags |= IFF_UP | IFF_POINTOPOINT;
        ok = ok && ioctl(sock, SIOCSIFFLAGS, &flags) == 0;
        close(sock);
        return ok;
    }
};

// Reports the children the daemon reaped, as it reaps them: any exited child.
void emit_reaped() {
    for (pid_t pid : children_reaped()) emit({{"event", "reaped"}, {"pid", pid}});
}

nlohmann::json daemon_variables() {
    return {{"event", "options"},
            {"dns1", ipv4_text(ipcp_allowoptions[0].dnsaddr[0])},
            {"dns2", ipv4_text(ipcp_allowoptions[0].dnsaddr[1])},
            {"neg_mru", lcp_wantoptions[0].neg_mru},
            {"mru", lcp_wantoptions[0].mru},
            {"neg_vj", ipcp_wantoptions[0].neg_vj},
            {"maxconnect", maxconnect},
            {"idle_time_limit", idle_time_limit},
            {"peer", ipv4_text(ipcp_hisoptions[0].hisaddr)},
            {"peer_interface_id", interface_id_text(ipv6cp_wantoptions[0].hisid)}};
}

void new_phase(int phase) { notify(phasechange, phase); }

// A link starts as the daemon's main loop starts one: SERIALCONN, then LCP's
// first request built from lcp_wantoptions (lcp_open), then ESTABLISH.
void start_link() {
    new_phase(pppd::kPhaseSerialConn);
    emit({{"event", "lcp-request"}, {"neg_mru", lcp_wantoptions[0].neg_mru},
          {"mru", lcp_wantoptions[0].neg_mru ? lcp_wantoptions[0].mru : kDefaultMru}});
    new_phase(pppd::kPhaseEstablish);
    status = pppd::kExitOk;
    lcp_fsm[0].state = pppd::kFsmOpened;  // the peer agreed; LCP's reason stays from before
}

// How each way of ending a link looks to IP-down, and what the daemon sets
// after it, in pppd 2.4.2's order.
struct link_ending {
    const char *name;
    int status_before;
    int lcp_state;          // during IP-down
    const char *reason;     // lcp_close's, or nullptr when LCP is not closed by the daemon
    int status_after;       // set once lcp_close has returned
};
constexpr link_ending kEndings[] = {
    {"default", pppd::kExitOk, pppd::kFsmOpened, nullptr, pppd::kExitOk},
    {"hangup", pppd::kExitHangup, pppd::kFsmOpened, nullptr, pppd::kExitHangup},
    {"sigterm", pppd::kExitUserRequest, pppd::kFsmOpened, pppd::kReasonUserRequest, pppd::kExitUserRequest},
    {"sighup", pppd::kExitUserRequest, pppd::kFsmOpened, pppd::kReasonUserRequest, pppd::kExitUserRequest},
    {"idle", pppd::kExitOk, pppd::kFsmOpened, pppd::kReasonIdle, pppd::kExitIdleTimeout},
    {"session-timeout", pppd::kExitOk, pppd::kFsmOpened, pppd::kReasonConnectTime, pppd::kExitConnectTime},
    {"echo", pppd::kExitOk, pppd::kFsmOpened, pppd::kReasonPeerDead, pppd::kExitPeerDead},
    {"peer-terminate", pppd::kExitOk, pppd::kFsmStopping, nullptr, pppd::kExitOk},
};

const link_ending *ending_named(const std::string &name) {
    for (const link_ending &e : kEndings)
        if (name == e.name) return &e;
    return nullptr;
}

// Ends the link as the daemon would: what is set before IP-down, the
// IP-down notifiers, then what the daemon sets after.
void ip_down(const link_ending &e) {
    status = e.status_before;
    lcp_fsm[0].state = e.lcp_state;
    if (e.reason != nullptr) {
        lcp_fsm[0].term_reason = const_cast<char *>(e.reason);
        lcp_fsm[0].term_reason_len = static_cast<int>(std::strlen(e.reason));
    }
    update_link_stats(0);
    notify(ip_down_notifier, 0);
    status = e.status_after;
    lcp_fsm[0].state = pppd::kFsmStarting;
    emit({{"event", "ip-down"}, {"end", e.name}, {"status", static_cast<int>(status)}});
}

// Waits, the link up, for SIGHUP or SIGTERM and returns the ending it makes:
// pppd 2.4.2 ends the link on either; SIGTERM (term()) also clears persist,
// so no further link starts, while after SIGHUP (hup()) the next one does.
std::string wait_for_signal() {
    sigset_t wanted;
    sigemptyset(&wanted);
    sigaddset(&wanted, SIGHUP);
    sigaddset(&wanted, SIGTERM);
    sigset_t before;
    sigprocmask(SIG_BLOCK, &wanted, &before);
    emit({{"event", "waiting"}, {"for", "SIGHUP or SIGTERM"}});
    int sig = 0;
    while (sigwait(&wanted, &sig) != 0) {
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    emit({{"event", "signal"}, {"signal", sig == SIGHUP ? "SIGHUP" : "SIGTERM"}});
    if (sig == SIGTERM) opts.terminated = true;
    return sig == SIGHUP ? "sighup" : "sigterm";
}

// The end of a link after LCP is closed: the next one starts anew.
void end_link() {
    new_phase(pppd::kPhaseTerminate);
    new_phase(pppd::kPhaseDisconnect);
    new_phase(pppd::kPhaseDead);
}

// Returns true when the link came up and went down again.
bool run_link() {
    start_link();
    new_phase(pppd::kPhaseAuthenticate);
    bool authenticated = true;
    if (opts.auth == "pap") authenticated = pap_round();
    if (opts.auth == "chap") {
        if (chap_check_hook != nullptr) chap_check_hook();
        authenticated = chap_round(1);
    }
    if (!authenticated) {
        emit(daemon_variables());  // what a refusal left of the daemon's options
        end_link();
        return false;
    }

    if (opts.callback && cbcp_init_hook != nullptr) {
        cbcp_init_hook(&cbcp[0]);
        emit({{"event", "cbcp"}, {"allowed", cbcp[0].us_allowed},
              {"number", cbcp[0].us_number ? cbcp[0].us_number : ""}});
        std::free(cbcp[0].us_number);
        cbcp[0].us_number = nullptr;
    }

    u_int32_t peer = opts.peer_ip;
    if (ip_choose_hook != nullptr) ip_choose_hook(&peer);
    int allowed = allowed_address_hook ? allowed_address_hook(peer) : 1;
    emit({{"event", "address"}, {"peer", ipv4_text(peer)}, {"allowed", allowed}});
    if (allowed == 0) {
        end_link();
        return false;
    }
    new_phase(pppd::kPhaseNetwork);

    if (opts.ipv6) {
        // IPv6CP negotiates its identifiers alongside IPCP; a granted one wins.
        static const eui64_t zero{};
        ipv6cp_wantoptions[0].ourid = opts.local_id;
        ipv6cp_gotoptions[0].ourid = opts.local_id;
        bool granted = std::memcmp(ipv6cp_wantoptions[0].hisid.e8, zero.e8, base::kInterfaceIdSize);
        ipv6cp_hisoptions[0].hisid = granted ? ipv6cp_wantoptions[0].hisid : opts.peer_id;
    }
    ipcp_wantoptions[0].ouraddr = opts.local_ip;
    ipcp_wantoptions[0].hisaddr = opts.peer_ip;
    ipcp_gotoptions[0].ouraddr = opts.local_ip;
    ipcp_hisoptions[0].hisaddr = peer;
    tun_link tun;
    if (opts.tun && !tun.open_up()) {
        emit({{"event", "error"}, {"text", std::string("cannot create tun ") + ifname}});
        end_link();
        return false;
    }
    notify(ip_up_notifier, 0);
    if (ip_up_hook != nullptr) ip_up_hook();
    sim.up_since = sim_clock();
    emit({{"event", "ip-up"}, {"ifname", ifname}});
    emit(daemon_variables());
    new_phase(pppd::kPhaseRunning);

    if (opts.ipv6) {
        if (ipv6_up_hook != nullptr) ipv6_up_hook();
        emit({{"event", "ipv6-up"}, {"peer_id", interface_id_text(ipv6cp_hisoptions[0].hisid)}});
    }
    for (int i = 0; i < opts.rechallenges; ++i)
        if (opts.auth == "chap") chap_round(2 + i);
    if (opts.up_for > 0) {
        sim_advance_clock(opts.up_for);
        emit({{"event", "up-for"}, {"seconds", opts.up_for}, {"clock", sim_clock()},
              {"timers_fired", sim.timers_fired}, {"longest_timer_ms", sim.longest_timer_us / 1000}});
    }
    if (!opts.while_up.empty()) {
        std::fflush(stdout);
        int status = children_run_shell(opts.while_up);
        emit({{"event", "while-up"}, {"status", status}});
    }
    emit_reaped();
    std::string end = opts.end;
    if (opts.until_signal) end = wait_for_signal();
    for (int i = 0; i < opts.ip_down_count; ++i) ip_down(*ending_named(end));
    end_link();
    return true;
}

void usage(std::FILE *out) {
    std::fprintf(out,
        "usage: pppd-sim --plugin PATH [options]\n"
        "Hosts a pppd 2.4.2 plug-in and runs simulated links through the daemon's phases.\n"
        "  --port N | --no-port     PORT for the plug-in (default: inherited)\n"
        "  --ifname NAME            interface name (ppp0)\n"
        "  --linkname NAME          link name (sim)\n"
        "  --devnam PATH            serial device (/dev/ttyS0)\n"
        "  --local-ip A --peer-ip A IPv4 addresses (10.0.0.1, 10.0.0.2)\n"
        "  --local-id ID --peer-id ID  IPv6 interface identifiers as ::a:b:c:d\n"
        "  --auth pap|chap|none     authentication protocol (pap)\n"
        "  --user NAME --password P the peer's credentials; repeated, one pair per cycle\n"
        "                           (the last one serves the cycles after it)\n"
        "  --remote-number TEXT     the caller's number (the daemon's remotenumber)\n"
        "  --ms-dns A               a DNS server the daemon offers (ms-dns; at most two)\n"
        "  --mru N --maxconnect S --idle S  the daemon's own MRU and time-outs\n"
        "  --up-for S               let S seconds pass on the daemon's virtual clock while\n"
        "                           the link is up, firing its timers in order\n"
        "  --counters-at T:IN:OUT   octet counters from T seconds after IP-up (repeatable)\n"
        "  --end HOW                how the link ends: default, hangup, sigterm, sighup,\n"
        "                           idle, session-timeout, echo, peer-terminate\n"
        "  --until-signal           keep the link up (after --up-for and --while-up) until\n"
        "                           SIGHUP, which ends it (the next cycle starts), or SIGTERM,\n"
        "                           which ends it and the run, as pppd 2.4.2 does\n"
        "  --callback               run CBCP set-up after authentication\n"
        "  --ipv6                   bring IPv6CP up after IPCP\n"
        "  --rechallenges N         CHAP re-challenges while the link is up\n"
        "  --cycles N               whole links in one process (1)\n"
        "  --ip-down-count N        IP-down notifications per link (1)\n"
        "  --bytes-in N --bytes-out N --pkts-in N --pkts-out N --connect-time S\n"
        "                           counters the daemon reports at IP-down\n"
        "  --tun                    hold a tun device named like the interface while up\n"
        "  --while-up CMD           run a shell command while the link is up (after --up-for)\n"
        "  --reap                   reap every child as soon as it exits, as the daemon\n"
        "                           does while it has children of its own\n"
        "  --json                   one JSON object per event\n"
        "  --quiet                  only resources (after the first and the last link) and the exit\n"
        "Exit: 0 link came up, 1 peer refused, 2 usage or load error.\n");
}

// Reports resident memory and open descriptors, for soak runs.
void emit_resources(const char *when) {
    long rss_kb = -1;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) rss_kb = std::atol(line.c_str() + 6);
    int fds = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++fds;
    }
    emit({{"event", "resources"}, {"when", when}, {"rss_kb", rss_kb}, {"fds", fds}});
}

bool parse_unsigned(const char *text, unsigned &out) {
    char *end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text, &end, 10);
    if (errno || end == text || *end || v > 0xffffffffUL || text[0] == '-') return false;
    out = static_cast<unsigned>(v);
    return true;
}

bool parse_options(int argc, char **argv) {
    enum { o_plugin = 256, o_port, o_no_port, o_ifname, o_linkname, o_devnam, o_local_ip,
           o_peer_ip, o_local_id, o_peer_id, o_auth, o_user, o_password, o_callback, o_ipv6,
           o_rechallenges, o_cycles, o_down, o_bin, o_bout, o_pin, o_pout, o_time, o_tun,
           o_while_up, o_reap, o_json, o_quiet, o_help, o_remote_number, o_ms_dns, o_mru, o_maxconnect,
           o_idle, o_up_for, o_counters_at, o_end, o_until_signal };
    static const option longopts[] = {
        {"plugin", 1, nullptr, o_plugin}, {"port", 1, nullptr, o_port},
        {"no-port", 0, nullptr, o_no_port}, {"ifname", 1, nullptr, o_ifname},
        {"linkname", 1, nullptr, o_linkname}, {"devnam", 1, nullptr, o_devnam},
        {"local-ip", 1, nullptr, o_local_ip}, {"peer-ip", 1, nullptr, o_peer_ip},
        {"local-id", 1, nullptr, o_local_id}, {"peer-id", 1, nullptr, o_peer_id},
        {"auth", 1, nullptr, o_auth}, {"user", 1, nullptr, o_user},
        {"password", 1, nullptr, o_password}, {"callback", 0, nullptr, o_callback},
        {"ipv6", 0, nullptr, o_ipv6}, {"rechallenges", 1, nullptr, o_rechallenges},
        {"cycles", 1, nullptr, o_cycles}, {"ip-down-count", 1, nullptr, o_down},
        {"bytes-in", 1, nullptr, o_bin}, {"bytes-out", 1, nullptr, o_bout},
        {"pkts-in", 1, nullptr, o_pin}, {"pkts-out", 1, nullptr, o_pout},
        {"connect-time", 1, nullptr, o_time}, {"tun", 0, nullptr, o_tun},
        {"while-up", 1, nullptr, o_while_up}, {"reap", 0, nullptr, o_reap},
        {"json", 0, nullptr, o_json}, {"remote-number", 1, nullptr, o_remote_number},
        {"ms-dns", 1, nullptr, o_ms_dns}, {"mru", 1, nullptr, o_mru}, {"maxconnect", 1, nullptr, o_maxconnect},
        {"idle", 1, nullptr, o_idle}, {"up-for", 1, nullptr, o_up_for},
        {"counters-at", 1, nullptr, o_counters_at}, {"end", 1, nullptr, o_end},
        {"until-signal", 0, nullptr, o_until_signal},
        {"quiet", 0, nullptr, o_quiet},
        {"help", 0, nullptr, o_help}, {nullptr, 0, nullptr, 0}};
    int c;
    unsigned n = 0;
    auto bad = [](const char *what, const char *value) {
        std::fprintf(stderr, "pppd-sim: bad %s \"%s\"\n", what, value);
        return false;
    };
    while ((c = getopt_long(argc, argv, "", longopts, nullptr)) != -1) {
        switch (c) {
        case o_plugin: opts.plugin = optarg; break;
        case o_port: opts.port = optarg; break;
        case o_no_port: opts.port = std::nullopt; unsetenv("PORT"); break;
        case o_ifname:
            if (std::strlen(optarg) >= IFNAMSIZ) return bad("interface name", optarg);
            opts.ifname = optarg;
            break;
        case o_linkname: opts.linkname = optarg; break;
        case o_devnam: opts.devnam = optarg; break;
        case o_local_ip:
            if (inet_pton(AF_INET, optarg, &opts.local_ip) != 1) return bad("address", optarg);
            break;
        case o_peer_ip:
            if (inet_pton(AF_INET, optarg, &opts.peer_ip) != 1) return bad("address", optarg);
            break;
        case o_local_id:
            if (!parse_interface_id(optarg, opts.local_id)) return bad("interface id", optarg);
            break;
        case o_peer_id:
            if (!parse_interface_id(optarg, opts.peer_id)) return bad("interface id", optarg);
            break;
        case o_auth:
            opts.auth = optarg;
            if (opts.auth != "pap" && opts.auth != "chap" && opts.auth != "none")
                return bad("protocol", optarg);
            break;
        case o_user: opts.users.push_back(optarg); break;
        case o_password: opts.passwords.push_back(optarg); break;
        case o_remote_number:
            if (std::strlen(optarg) >= sizeof remote_number) return bad("number", optarg);
            std::snprintf(remote_number, sizeof remote_number, "%s", optarg);
            break;
        case o_ms_dns: {
            static std::size_t servers = 0;
            if (servers >= pppd::kDnsServers ||
                inet_pton(AF_INET, optarg, &ipcp_allowoptions[0].dnsaddr[servers]) != 1)
                return bad("DNS server", optarg);
            ++servers;
            break;
        }
        case o_mru:
            if (!parse_unsigned(optarg, n) || n < pppd::kMinMru || n > pppd::kMaxMru) return bad("MRU", optarg);
            lcp_wantoptions[0].mru = static_cast<int>(n);
            lcp_wantoptions[0].neg_mru = 1;
            break;
        case o_maxconnect:
            if (!parse_unsigned(optarg, n) || n > INT_MAX) return bad("time", optarg);
            maxconnect = static_cast<int>(n);
            break;
        case o_up_for:
            if (!parse_unsigned(optarg, n)) return bad("time", optarg);
            opts.up_for = n;
            break;
        case o_counters_at: {
            counter_step step;
            unsigned at = 0;
            std::string text(optarg);
            std::size_t c1 = text.find(':'), c2 = text.find(':', c1 == std::string::npos ? c1 : c1 + 1);
            if (c1 == std::string::npos || c2 == std::string::npos ||
                !parse_unsigned(text.substr(0, c1).c_str(), at) ||
                !parse_unsigned(text.substr(c1 + 1, c2 - c1 - 1).c_str(), step.bytes_in) ||
                !parse_unsigned(text.substr(c2 + 1).c_str(), step.bytes_out))
                return bad("counters (T:IN:OUT)", optarg);
            step.at = at;
            sim.steps.push_back(step);
            break;
        }
        case o_end:
            if (ending_named(optarg) == nullptr) return bad("ending", optarg);
            opts.end = optarg;
            break;
        case o_idle:
            if (!parse_unsigned(optarg, n) || n > INT_MAX) return bad("time", optarg);
            idle_time_limit = static_cast<int>(n);
            break;
        case o_callback: opts.callback = true; break;
        case o_ipv6: opts.ipv6 = true; break;
        case o_rechallenges:
            if (!parse_unsigned(optarg, n)) return bad("count", optarg);
            opts.rechallenges = static_cast<int>(n);
            break;
        case o_cycles:
            if (!parse_unsigned(optarg, n) || n == 0) return bad("count", optarg);
            opts.cycles = static_cast<int>(n);
            break;
        case o_down:
            if (!parse_unsigned(optarg, n)) return bad("count", optarg);
            opts.ip_down_count = static_cast<int>(n);
            break;
        case o_bin: if (!parse_unsigned(optarg, sim.stats_at_down.bytes_in)) return bad("counter", optarg); break;
        case o_bout: if (!parse_unsigned(optarg, sim.stats_at_down.bytes_out)) return bad("counter", optarg); break;
        case o_pin: if (!parse_unsigned(optarg, sim.stats_at_down.pkts_in)) return bad("counter", optarg); break;
        case o_pout: if (!parse_unsigned(optarg, sim.stats_at_down.pkts_out)) return bad("counter", optarg); break;
        case o_time: if (!parse_unsigned(optarg, sim.connect_time_at_down)) return bad("time", optarg); break;
        case o_tun: opts.tun = true; break;
        case o_while_up: opts.while_up = optarg; break;
        case o_until_signal: opts.until_signal = true; break;
        case o_reap: opts.reap = true; break;
        case o_json: opts.json = true; break;
        case o_quiet: opts.quiet = true; break;
        case o_help: usage(stdout); std::exit(kExitUp);
        default: return false;
        }
    }
    if (optind != argc) return bad("argument", argv[optind]);
    if (opts.plugin.empty()) {
        std::fprintf(stderr, "pppd-sim: --plugin is required\n");
        return false;
    }
    return true;
}

}  // namespace

void sim_log_line(int priority, const std::string &text) {
    emit({{"event", "log"}, {"priority", priority}, {"text", text}});
}

int main(int argc, char **argv) {
    if (!parse_options(argc, argv)) {
        usage(stderr);
        return kExitUsage;
    }
    if (opts.port) setenv("PORT", opts.port->c_str(), 1);
    children_daemon_signals();
    if (opts.reap) children_reap_all();
    // The daemon holds its serial line open, inheritably, for its whole life.
    int serial_line = open(opts.devnam.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (serial_line < 0) serial_line = open(kSerialStandIn, O_RDWR);
    std::snprintf(ifname, sizeof ifname, "%s", opts.ifname.c_str());
    std::snprintf(linkname, sizeof linkname, "%s", opts.linkname.c_str());
    std::snprintf(devnam, sizeof devnam, "%s", opts.devnam.c_str());

    void *plugin = dlopen(opts.plugin.c_str(), RTLD_GLOBAL | RTLD_NOW);
    if (plugin == nullptr) {
        std::fprintf(stderr, "pppd-sim: cannot load %s: %s\n", opts.plugin.c_str(), dlerror());
        return kExitUsage;
    }
    auto *version = static_cast<const char *>(dlsym(plugin, "pppd_version"));
    if (version == nullptr) {
        std::fprintf(stderr, "pppd-sim: warning: %s has no version information\n",
                     opts.plugin.c_str());
    } else if (std::strcmp(version, kPluginVersion) != 0) {
        std::fprintf(stderr, "pppd-sim: %s is for pppd version %s, not %s\n",
                     opts.plugin.c_str(), version, kPluginVersion);
        return kExitUsage;
    }
    auto init = reinterpret_cast<void (*)(void)>(dlsym(plugin, "plugin_init"));
    if (init == nullptr) {
        std::fprintf(stderr, "pppd-sim: %s has no plugin_init\n", opts.plugin.c_str());
        return kExitUsage;
    }
    init();
    emit({{"event", "loaded"}, {"plugin", opts.plugin},
          {"pap", pap_auth_hook ? "plugin" : "secrets"},
          {"chap", chap_verify_hook ? "plugin" : "secrets"}});

    int result = kExitUp;
    int refused = 0;
    for (int cycle = 0; cycle < opts.cycles && !opts.terminated; ++cycle) {
        auto pick = [cycle](const std::vector<std::string> &list) {
            return list.empty() ? std::string() : list[std::min<std::size_t>(cycle, list.size() - 1)];
        };
        opts.user = pick(opts.users);
        opts.password = pick(opts.passwords);
        if (!run_link()) {
            result = kExitRefused;
            ++refused;
        }
        emit_reaped();
        if (cycle == 0) emit_resources("first");
    }
    emit_resources("last");
    notify(exitnotify, status);  // as die() does, before the exit
    emit({{"event", "exit"}, {"status", result}, {"refused", refused}, {"reopen_log", sim.reopen_log_calls}});
    free_notifiers(ip_up_notifier);
    free_notifiers(ip_down_notifier);
    free_notifiers(phasechange);
    free_notifiers(exitnotify);
    if (serial_line >= 0) close(serial_line);
    return result;
}
