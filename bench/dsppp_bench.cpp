// SPDX-License-Identifier: BSD-3-Clause
// dsppp-bench: measures the plug-in against baselines taken in the same run.
//   dsppp-bench auth N ROUNDS PAP and CHAP through the plug-in vs the same PAM stack called
//                             directly, in ROUNDS interleaved rounds of N attempts each way
//   dsppp-bench radius N      per-attempt latency through plug-in + pam_dsradius (p50, p99),
//                             and the module's own exchange (request sent to reply accepted)
//   dsppp-bench ipup N        IP-up with a full route table vs an empty one
//   dsppp-bench resolv N      N concurrent resolver merges vs the same merges one after another
// Runs inside the end-to-end sandbox (./run bench sets it up). Log lines are
// counted, not written, so the figures are the plug-in's own work.
#include <arpa/inet.h>
#include <security/pam_appl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "auth/attrs.h"
#include "plugin/handlers.h"
#include "plugin/state.h"
#include "base/md5.h"
#include "platform/pam_env.h"

using clock_type = std::chrono::steady_clock;

namespace {

long log_lines = 0;
// What pam_dsradius reports for each exchange: request sent to reply accepted.
std::vector<double> exchange_us;
constexpr const char *kExchangeMarker = " answered by ";

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Returns the median of `rounds` timings of `n` calls of `f`, in microseconds per call.
double per_call_us(int rounds, int n, const std::function<void()> &f) {
    std::vector<double> samples;
    for (int r = 0; r < rounds; ++r) {
        auto start = clock_type::now();
        for (int i = 0; i < n; ++i) f();
        samples.push_back(seconds_since(start) * 1e6 / n);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5))];
}

// Times `n` calls of `f`, in microseconds per call.
double time_us(int n, const std::function<void()> &f) {
    auto start = clock_type::now();
    for (int i = 0; i < n; ++i) f();
    return seconds_since(start) * 1e6 / n;
}

struct paired {
    std::vector<double> measured_us, baseline_us, ratios;
};

// Runs `rounds` rounds of `n` calls of each, alternating which goes first so
// that drift and warm-up fall on both alike; one ratio per round. `settle`
// runs, untimed, after every batch, so neither side inherits the other's state.
paired interleaved(int rounds, int n, const std::function<void()> &measured,
                   const std::function<void()> &baseline, const std::function<void()> &settle) {
    paired p;
    auto batch = [&](const std::function<void()> &f) {
        double us = time_us(n, f);
        settle();
        return us;
    };
    for (int r = 0; r < rounds; ++r) {
        double m = 0, b = 0;
        if (r % 2 == 0) {
            m = batch(measured);
            b = batch(baseline);
        } else {
            b = batch(baseline);
            m = batch(measured);
        }
        p.measured_us.push_back(m);
        p.baseline_us.push_back(b);
        p.ratios.push_back(m / b);
    }
    return p;
}

void print_paired(const char *what, const paired &p, int n) {
    double median = percentile(p.ratios, 0.5);
    std::printf("%s through dsppp.so %7.1f us/attempt, PAM stack directly %7.1f us: ratio median %.3f (%+.1f %%), "
                "interquartile %.3f-%.3f, min-max %.3f-%.3f, %zu rounds of %d\n",
                what, percentile(p.measured_us, 0.5), percentile(p.baseline_us, 0.5), median,
                (median - 1) * 100, percentile(p.ratios, 0.25), percentile(p.ratios, 0.75),
                percentile(p.ratios, 0), percentile(p.ratios, 1), p.ratios.size(), n);
}

std::string hex(const unsigned char *b, int n) {
    return pam_env::encode_hex(std::string_view(reinterpret_cast<const char *>(b), static_cast<std::size_t>(n)));
}

const pam_conv kNoConv = {nullptr, nullptr};
chap_digest_type kMd5 = {pppd::kChapMd5, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

// The work a PAM application does for one PAP attempt, without the plug-in.
bool direct_pap(const char *user, const char *password) {
    pam_handle_t *pamh = nullptr;
    if (pam_start("ppp", user, &kNoConv, &pamh) != PAM_SUCCESS) return false;
    pam_set_item(pamh, PAM_TTY, "/dev/ttyS0");
    ds_set_auth_attrs(pamh, user, password, 0);
    bool ok = pam_authenticate(pamh, PAM_SILENT) == PAM_SUCCESS && pam_acct_mgmt(pamh, 0) == PAM_SUCCESS;
    pam_end(pamh, PAM_SUCCESS);
    return ok;
}

bool direct_chap(const char *user, unsigned char *challenge, unsigned char *response) {
    pam_handle_t *pamh = nullptr;
    if (pam_start("ppp", user, &kNoConv, &pamh) != PAM_SUCCESS) return false;
    pam_set_item(pamh, PAM_TTY, "/dev/ttyS0");
    ds_set_auth_attrs(pamh, user, "", 0);
    ds_pam_putenv_int(pamh, pam_env::kChapAlgorithm, pppd::kChapMd5);
    ds_pam_putenv_int(pamh, pam_env::kChapId, 1);
    ds_pam_putenv_str(pamh, pam_env::kChapChallengeHex, hex(challenge + 1, challenge[0]).c_str());
    ds_pam_putenv_str(pamh, pam_env::kChapResponseHex, hex(response + 1, response[0]).c_str());
    bool ok = pam_authenticate(pamh, PAM_SILENT) == PAM_SUCCESS && pam_acct_mgmt(pamh, 0) == PAM_SUCCESS;
    pam_end(pamh, PAM_SUCCESS);
    return ok;
}

int bench_auth(int n, int rounds) {
    char user[] = "u", password[] = "pw";
    unsigned char challenge[17] = {16}, response[17] = {16}, message[pppd::kChapMessageSpace];
    for (int i = 1; i <= 16; ++i) challenge[i] = static_cast<unsigned char>(i * 7);
    auto digest = base::chap_md5(1, password, challenge + 1, 16);
    if (digest.failed_call != nullptr) return 1;
    std::copy(digest.digest.begin(), digest.digest.end(), response + 1);
    int failures = 0;
    auto plugin_pap = [&] {
        char *msg = nullptr;
        failures += ds_pap_auth(user, password, &msg, nullptr, nullptr) != 1;
    };
    auto plugin_chap = [&] {
        failures += ds_chap_auth(user, user, 1, &kMd5, challenge, response, message, sizeof message) != 1;
    };
    // The plug-in keeps its last transaction open, as for a link; ended
    // between batches, it keeps no PAM module loaded for the other side.
    auto end_open_transaction = [] {
        if (ds_pamh != nullptr) pam_end(ds_pamh, PAM_SUCCESS);
        ds_pamh = nullptr;
    };
    print_paired("PAP ", interleaved(rounds, n, plugin_pap, [&] { failures += !direct_pap(user, password); },
                                     end_open_transaction), n);
    print_paired("CHAP", interleaved(rounds, n, plugin_chap,
                                     [&] { failures += !direct_chap(user, challenge, response); },
                                     end_open_transaction), n);
    std::printf("failed attempts: %d\n", failures);
    return failures == 0 ? 0 : 1;
}

int bench_radius(int n) {
    char user[] = "u", password[] = "pw";
    std::vector<double> ms;
    int failures = 0;
    for (int i = 0; i < n; ++i) {
        char *msg = nullptr;
        auto start = clock_type::now();
        failures += ds_pap_auth(user, password, &msg, nullptr, nullptr) != 1;
        ms.push_back(seconds_since(start) * 1e3);
    }
    std::printf("%.3f %.3f %.3f %zu %d\n", percentile(ms, 0.5), percentile(ms, 0.99),
                percentile(exchange_us, 0.5) / 1e3, exchange_us.size(), failures);
    return failures == 0 ? 0 : 1;
}

int bench_ipup(int n) {
    std::snprintf(ifname, sizeof ifname, "ppp0");
    ipcp_gotoptions[0].ouraddr = inet_addr("10.0.0.1");
    ipcp_hisoptions[0].hisaddr = inet_addr("10.0.0.2");
    ipcp_wantoptions[0] = ipcp_gotoptions[0];
    ipcp_wantoptions[0].hisaddr = ipcp_hisoptions[0].hisaddr;
    auto call = [] { ds_ip_up(); };
    const char *empty = std::getenv("BENCH_EMPTY_STORE");
    const char *full = std::getenv("BENCH_FULL_STORE");
    const char *target = std::getenv("BENCH_STORE");
    if (!empty || !full || !target) return 2;
    auto use = [&](const char *image) { std::system((std::string("cp ") + image + " " + target).c_str()); };
    use(empty);
    double empty_us = per_call_us(5, n, call);
    use(full);
    double full_us = per_call_us(5, n, call);
    std::printf("IP-up, 20-entry route table and port services %8.1f us/call, empty table %8.1f us: ratio %.2f\n",
                full_us, empty_us, full_us / empty_us);
    return 0;
}

int bench_resolv(int n) {
    auto merge_all = [&](bool concurrent) {
        std::ofstream("/etc/resolv.conf", std::ios::trunc);
        int gate[2];
        if (pipe(gate) != 0) return -1.0;
        std::vector<pid_t> children;
        if (concurrent) {
            for (int port = 0; port < n; ++port) {
                pid_t child = fork();
                if (child == 0) {
                    char go;
                    close(gate[1]);
                    if (read(gate[0], &go, 1) < 0) _exit(1);
                    ds_update_resolv(port);
                    _exit(0);
                }
                children.push_back(child);
            }
        }
        auto start = clock_type::now();
        close(gate[0]);
        close(gate[1]);  // opens the gate: every child's read returns
        if (concurrent)
            for (pid_t c : children) waitpid(c, nullptr, 0);
        else
            for (int port = 0; port < n; ++port) ds_update_resolv(port);
        return seconds_since(start);
    };
    double sequential = merge_all(false);
    double concurrent = merge_all(true);
    std::ifstream in("/etc/resolv.conf");
    std::multiset<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.insert(line);
    std::set<std::string> distinct(lines.begin(), lines.end());
    std::printf("%d concurrent merges %.1f ms, one after another %.1f ms: ratio %.2f; %zu lines, %zu distinct: %s\n",
                n, concurrent * 1e3, sequential * 1e3, concurrent / sequential, lines.size(), distinct.size(),
                lines.size() == distinct.size() ? "correct" : "DUPLICATES");
    return lines.size() == distinct.size() ? 0 : 1;
}

}  // namespace

// Log lines are counted, not written; the module's exchange times are kept.
extern "C" void vsyslog(int, const char *format, va_list args) {
    ++log_lines;
    if (format == nullptr || std::strstr(format, kExchangeMarker) == nullptr) return;
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    const char *in = std::strstr(line, " in ");
    long long us = 0;
    if (in != nullptr && std::sscanf(in, " in %lld us", &us) == 1) exchange_us.push_back(static_cast<double>(us));
}
extern "C" void syslog(int priority, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}
extern "C" void __syslog_chk(int priority, int, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}

int main(int argc, char **argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: dsppp-bench auth N ROUNDS | radius|ipup|resolv N\n");
        return 2;
    }
    std::string what = argv[1];
    int n = std::atoi(argv[2]);
    int rounds = argc == 4 ? std::atoi(argv[3]) : 1;
    if (n <= 0 || rounds <= 0) {
        std::fprintf(stderr, "dsppp-bench: bad count \"%s\"\n", argv[argc - 1]);
        return 2;
    }
    if (what == "auth") return bench_auth(n, rounds);
    if (what == "radius") return bench_radius(n);
    if (what == "ipup") return bench_ipup(n);
    if (what == "resolv") return bench_resolv(n);
    std::fprintf(stderr, "dsppp-bench: unknown benchmark \"%s\"\n", what.c_str());
    return 2;
}
