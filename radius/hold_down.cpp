// SPDX-License-Identifier: BSD-3-Clause
#include "radius/hold_down.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <ctime>
#include <optional>
#include <thread>

#include "base/file_trust.h"
#include "base/line_tokens.h"
#include "base/root_files.h"
#include "base/unique_fd.h"
#include "radius/log_name.h"

namespace radius {

namespace {

constexpr const char *kStateFile = "/radius-servers";
constexpr const char *kLockFile = "/radius-servers.lock";
constexpr const char *kHeader = "dsppp-radius-servers 1";
constexpr std::string_view kProbeLine = "probe";  // "probe TRANSPORT ADDRESS PORT AT"
constexpr off_t kMaxStateSize = 64 * 1024;
constexpr mode_t kDirMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr unsigned kMaxPort = 65535;
// Readers never wait; a writer waits this long for the lock, then goes on
// without recording (the next transaction records again).
constexpr int kLockAttempts = 20;
constexpr auto kLockPause = std::chrono::milliseconds(10);

bool warned_unusable = false;

void unusable(const std::string &dir, const char *why) {
    if (warned_unusable) return;
    warned_unusable = true;
    syslog(LOG_WARNING, "%s: %s %s; failover is not remembered across transactions", log_name, dir.c_str(), why);
}

// Returns whether `dir` is (made) a directory of root's that nobody else may change.
bool usable_dir(const std::string &dir) {
    switch (base::root_dir(dir, kDirMode, base::kNoWriteForOthers)) {
    case base::dir_verdict::trusted: return true;
    case base::dir_verdict::cannot_create: unusable(dir, "cannot be created"); break;
    case base::dir_verdict::not_directory: unusable(dir, "is not a directory"); break;
    case base::dir_verdict::not_ours: unusable(dir, "is not root's own directory, or others may write it"); break;
    }
    return false;
}

// A mark (dead until `until`), or the time a server was last probed.
struct entry {
    server_key key;
    int64_t until = 0;
    bool probe = false;
};

bool parse_line(std::string_view line, entry &e) {
    auto w = base::words(line, base::kWhiteSpace);
    e.probe = !w.empty() && w.front() == kProbeLine;
    if (e.probe) w.erase(w.begin());
    if (w.size() != 4) return false;
    e.key.transport = w[0];
    e.key.address = w[1];
    std::string_view port_text = w[2], until_text = w[3];
    if (e.key.transport != "udp" && e.key.transport != "tls") return false;
    unsigned char probe[sizeof(in6_addr)];
    if (inet_pton(AF_INET, e.key.address.c_str(), probe) != 1 && inet_pton(AF_INET6, e.key.address.c_str(), probe) != 1)
        return false;
    auto [pend, perr] = std::from_chars(port_text.data(), port_text.data() + port_text.size(), e.key.port);
    auto [uend, uerr] = std::from_chars(until_text.data(), until_text.data() + until_text.size(), e.until);
    return perr == std::errc{} && pend == port_text.data() + port_text.size() && e.key.port > 0 &&
           e.key.port <= kMaxPort && uerr == std::errc{} && uend == until_text.data() + until_text.size() &&
           e.until > 0;
}

// Returns the state's entries; a file that is not a private regular file of
// ours, too large or not in the format is `damaged` and read as empty.
std::vector<entry> read_state(const std::string &dir, bool &damaged) {
    damaged = false;
    std::vector<entry> entries;
    base::unique_fd fd(open((dir + kStateFile).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd) {
        damaged = errno != ENOENT;
        return entries;
    }
    struct stat st {};
    if (base::check_open_file(fd.get(), {base::file_owner::root_or_us, base::kNoWriteForOthers}, st) !=
            base::file_verdict::trusted ||
        st.st_size > kMaxStateSize) {
        damaged = true;
        return entries;
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    if (read(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        damaged = true;
        return entries;
    }
    auto lines = base::lines(text);
    if (lines.empty() || lines.front() != kHeader) {
        damaged = true;
        return entries;
    }
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        entry e;
        if (!parse_line(line, e)) {
            damaged = true;
            entries.clear();
            return entries;
        }
        entries.push_back(e);
    }
    return entries;
}

bool write_state(const std::string &dir, const std::vector<entry> &entries) {
    std::string text = std::string(kHeader) + "\n";
    for (const entry &e : entries)
        text += (e.probe ? std::string(kProbeLine) + " " : std::string()) + e.key.transport + " " + e.key.address +
                " " + std::to_string(e.key.port) + " " + std::to_string(e.until) + "\n";
    return base::replace_file(dir + kStateFile, text, kFileMode);
}

// Returns the exclusive lock on the state, or an empty descriptor when it
// could not be had within the bounded wait.
base::unique_fd lock_state(const std::string &dir) {
    base::unique_fd fd(open((dir + kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode));
    if (!fd) return fd;
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        if (flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return fd;
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        std::this_thread::sleep_for(kLockPause);
    }
    return base::unique_fd();
}

bool is_sticky(const server_key &key, const mark_rules &rules) {
    return std::find(rules.sticky.begin(), rules.sticky.end(), key) != rules.sticky.end();
}

// Returns whether mark `e` holds its server dead at `now`: not further ahead
// than one hold-down, and not yet ended (a sticky one ends only by an answer).
bool in_force(const entry &e, int64_t now, const mark_rules &rules) {
    return !e.probe && e.until - now <= static_cast<int64_t>(rules.hold_down) &&
           (e.until > now || is_sticky(e.key, rules));
}

// Returns the entries a write keeps: the marks in force, the probe times of
// the servers they mark, and none that `changes` replaces.
std::vector<entry> kept_entries(const std::vector<entry> &entries, const std::vector<server_key> &replaced,
                                int64_t now, const mark_rules &rules) {
    std::vector<entry> kept;
    for (const entry &e : entries)
        if (in_force(e, now, rules) && std::find(replaced.begin(), replaced.end(), e.key) == replaced.end())
            kept.push_back(e);
    for (const entry &e : entries) {
        if (!e.probe || std::find(replaced.begin(), replaced.end(), e.key) != replaced.end()) continue;
        for (const entry &mark : kept)
            if (!mark.probe && mark.key == e.key) {
                kept.push_back(e);
                break;
            }
    }
    return kept;
}

// Runs `change` on the state's entries under the writers' lock and writes
// the result. Returns false (logged) when the lock or the write failed.
template <typename Change>
bool rewrite_state(const std::string &dir, Change change) {
    if (!usable_dir(dir)) return false;
    base::unique_fd lock = lock_state(dir);
    if (!lock) {
        syslog(LOG_WARNING, "%s: the server state in %s is busy; not recorded this time", log_name, dir.c_str());
        return false;
    }
    bool damaged = false;
    std::vector<entry> entries = read_state(dir, damaged);
    if (damaged)
        syslog(LOG_WARNING, "%s: the server state in %s was damaged or not ours; replaced", log_name, dir.c_str());
    std::optional<std::vector<entry>> next = change(entries);
    if (!next) return false;
    if (!write_state(dir, *next)) {
        syslog(LOG_ERR, "%s: cannot write the server state in %s: %m", log_name, dir.c_str());
        return false;
    }
    return true;
}

}  // namespace

int64_t state_now() {
    timespec t{};
    clock_gettime(CLOCK_BOOTTIME, &t);
    return static_cast<int64_t>(t.tv_sec);
}

std::vector<server_key> dead_servers(const std::string &dir, int64_t now, const mark_rules &rules) {
    std::vector<server_key> dead;
    if (!usable_dir(dir)) return dead;
    bool damaged = false;
    for (const entry &e : read_state(dir, damaged))
        if (in_force(e, now, rules)) dead.push_back(e.key);
    return dead;
}

bool record_changes(const std::string &dir, const std::vector<server_change> &changes, int64_t now,
                    const mark_rules &rules) {
    if (changes.empty()) return false;
    return rewrite_state(dir, [&](const std::vector<entry> &entries) -> std::optional<std::vector<entry>> {
        std::vector<server_key> replaced;
        for (const server_change &c : changes) replaced.push_back(c.key);
        std::vector<entry> kept = kept_entries(entries, replaced, now, rules);
        for (const server_change &c : changes)
            if (c.dead) kept.push_back({c.key, c.until, false});
        return kept;
    });
}

bool claim_probe(const std::string &dir, const server_key &key, int64_t now, unsigned interval,
                 const mark_rules &rules) {
    return rewrite_state(dir, [&](const std::vector<entry> &entries) -> std::optional<std::vector<entry>> {
        for (const entry &e : entries)
            if (e.probe && e.key == key && e.until <= now && now - e.until < static_cast<int64_t>(interval))
                return std::nullopt;  // probed lately, by this process or another
        std::vector<entry> kept = kept_entries(entries, {}, now, rules);
        std::erase_if(kept, [&](const entry &e) { return e.probe && e.key == key; });
        kept.push_back({key, now, true});
        return kept;
    });
}

}  // namespace radius
