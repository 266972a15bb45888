// SPDX-License-Identifier: BSD-3-Clause
// Drives one PAM transaction from the command line, for testing modules
// outside the plug-in:
//   pam-drive CONFDIR SERVICE USER [--env K=V]... [--answer TEXT] [--log]
//             [--scan TEXT]... STEP...
// STEP: authenticate, open, close. Prints "<step> <result code>" for each,
// "prompt <style>" for every question the stack asks, with --log "log
// <text>" for every syslog line, and, after pam_end, "scan <count>" for each
// --scan TEXT: how often TEXT is still found in the process's heap and
// anonymous memory (a module that left a password copy behind shows it).
#include <security/pam_appl.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/pppd-sim/log.h"

namespace {

const char *answer = "";
bool show_log = false;
// A mapping larger than this is a sanitizer's reserved shadow, not data.
constexpr unsigned long long kMaxScannedMapping = 1ull << 30;
constexpr std::size_t kScanChunk = 1 << 20;
constexpr std::size_t kMaxNeedle = 256;
constexpr const char *kCanary = "pam-drive-scan-canary";
// Outside every scanned buffer's reach: the scan skips the mapping it lies in.
char chunk[kScanChunk + kMaxNeedle];

int converse(int n, const pam_message **messages, pam_response **resp, void *) {
    auto *out = static_cast<pam_response *>(std::calloc(n, sizeof(pam_response)));
    if (out == nullptr) return PAM_CONV_ERR;
    for (int i = 0; i < n; ++i) {
        std::printf("prompt %d\n", messages[i]->msg_style);
        if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF || messages[i]->msg_style == PAM_PROMPT_ECHO_ON)
            out[i].resp = strdup(answer);
    }
    *resp = out;
    return PAM_SUCCESS;
}

// Returns how often `needle` occurs in the writable private mappings without
// a file (the heap among them), read through /proc/self/mem so that freed
// memory is read as it lies.
int count_in_memory(std::string_view needle) {
    if (needle.empty() || needle.size() > kMaxNeedle) return -1;
    std::ifstream maps("/proc/self/maps");
    int mem = open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    if (mem < 0) return -1;
    int count = 0;
    auto own = reinterpret_cast<unsigned long long>(chunk);
    for (std::string line; std::getline(maps, line);) {
        std::istringstream fields(line);
        std::string range, perms, offset, dev, inode, path;
        fields >> range >> perms >> offset >> dev >> inode;
        std::getline(fields, path);
        path.erase(0, path.find_first_not_of(' '));
        if (perms.rfind("rw", 0) != 0 || (!path.empty() && path != "[heap]")) continue;
        unsigned long long start = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
        unsigned long long end = std::stoull(range.substr(range.find('-') + 1), nullptr, 16);
        if (end - start > kMaxScannedMapping || (own >= start && own < end)) continue;
        for (unsigned long long at = start; at < end; at += kScanChunk) {
            std::size_t want = static_cast<std::size_t>(
                std::min<unsigned long long>(end - at, kScanChunk + needle.size() - 1));
            ssize_t got = pread(mem, chunk, want, static_cast<off_t>(at));
            if (got <= 0) continue;
            for (char *p = chunk; (p = static_cast<char *>(memmem(p, static_cast<std::size_t>(chunk + got - p),
                                                                 needle.data(), needle.size())));) {
                if (static_cast<std::size_t>(p - chunk) < kScanChunk) ++count;
                ++p;
            }
        }
    }
    close(mem);
    return count;
}

}  // namespace

void sim_log_line(int, const std::string &text) {
    if (show_log) std::printf("log %s\n", text.c_str());
}

int main(int argc, char **argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: pam-drive CONFDIR SERVICE USER [--env K=V] [--answer TEXT] [--log] "
                             "[--scan TEXT] STEP...\n");
        return 2;
    }
    const pam_conv conv = {converse, nullptr};
    pam_handle_t *pamh = nullptr;
    if (pam_start_confdir(argv[2], argv[3], &conv, argv[1], &pamh) != PAM_SUCCESS) return 2;
    int status = PAM_SUCCESS;
    std::vector<const char *> scans;  // pointing into argv, never copied
    for (int i = 4; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "--env" || arg == "--answer" || arg == "--scan") && i + 1 < argc) {
            if (arg == "--env") pam_putenv(pamh, argv[++i]);
            else if (arg == "--answer") answer = argv[++i];
            else scans.push_back(argv[++i]);
            continue;
        }
        if (arg == "--log") {
            show_log = true;
            continue;
        }
        if (arg == "authenticate") status = pam_authenticate(pamh, 0);
        else if (arg == "open") status = pam_open_session(pamh, 0);
        else if (arg == "close") status = pam_close_session(pamh, 0);
        else {
            std::fprintf(stderr, "pam-drive: unknown step \"%s\"\n", arg.c_str());
            return 2;
        }
        std::printf("%s %d\n", arg.c_str(), status);
        std::fflush(stdout);
    }
    pam_end(pamh, status);
    // A live copy the scan must find: without it a scan that cannot read
    // memory would report every text wiped.
    std::string canary = std::string(kCanary) + "-live";
    bool readable = count_in_memory(canary) > 0;
    for (const char *text : scans) std::printf("scan %d\n", readable ? count_in_memory(text) : -1);
    return 0;
}
