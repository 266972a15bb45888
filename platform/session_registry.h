// SPDX-License-Identifier: BSD-3-Clause
// The session registry: while a port's link is up, one entry for it in a
// directory only root may change, so that a program of the device can tell
// which port carries which session. One writer, the plug-in: it writes the
// entry at IP-up after accounting started and removes it at IP-down and when
// the daemon exits. A reader trusts an entry only when it is a regular file of
// root's that nobody else may read or write, and acts on it only while the
// process it names is the one that wrote it (same pid, same start time).
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_trust.h"
#include "base/line_tokens.h"
#include "base/unique_fd.h"
#include "platform/pam_env.h"

namespace session_registry {

inline constexpr const char *kDir = "/var/run/dsppp/sessions";
inline constexpr mode_t kDirMode = 0700;
inline constexpr mode_t kEntryMode = 0600;
inline constexpr std::size_t kMaxEntrySize = 4096;
// /proc/PID/stat: the start time is field 22, the 20th after the command's ")".
inline constexpr int kStartTimeAfterCommand = 20;

struct entry {
    std::string session_id;          // Acct-Session-Id, empty without RADIUS accounting
    std::string user;                // User-Name
    long long nas_port = 0;          // NAS-Port as the requests carry it
    std::string nas_port_id;         // NAS-Port-Id: the daemon's tty
    std::string framed_ip;           // the peer's address, dotted
    std::string calling_station_id;  // the caller's number, when known
    std::string ifname;
    long long pid = 0;                    // the daemon's
    unsigned long long start_time = 0;    // the daemon's start, clock ticks after boot
    long long since = 0;                  // IP-up, seconds since the epoch
};

// Returns the entry's file name: the port's, or the interface's without one.
inline std::string file_name(int port, std::string_view ifname) {
    return port >= 0 ? "port-" + std::to_string(port) : "if-" + std::string(ifname);
}

// Returns the entry as text, one "key value" line per field; texts a peer or
// a server chose are hexadecimal, so no value can add a line.
inline std::string format(const entry &e) {
    std::ostringstream out;
    out << "session_id " << pam_env::encode_hex(e.session_id) << "\nuser " << pam_env::encode_hex(e.user)
        << "\nnas_port " << e.nas_port << "\nnas_port_id " << pam_env::encode_hex(e.nas_port_id) << "\nframed_ip "
        << pam_env::encode_hex(e.framed_ip) << "\ncalling_station_id " << pam_env::encode_hex(e.calling_station_id)
        << "\nifname " << pam_env::encode_hex(e.ifname) << "\npid " << e.pid << "\nstart_time " << e.start_time
        << "\nsince " << e.since << "\n";
    return out.str();
}

template <typename N>
bool parse_number(std::string_view text, N &out) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc{} && end == text.data() + text.size();
}

// Returns the entry in `text`, nothing when a line is malformed, or a field
// is missing or given twice.
inline std::optional<entry> parse(std::string_view text) {
    entry e;
    constexpr const char *kKeys[] = {"session_id", "user", "nas_port", "nas_port_id", "framed_ip",
                                     "calling_station_id", "ifname", "pid", "start_time", "since"};
    constexpr std::size_t kFields = std::size(kKeys);
    std::bitset<kFields> seen;
    struct text_field { const char *key; std::string *value; };
    const text_field texts[] = {{"session_id", &e.session_id}, {"user", &e.user}, {"nas_port_id", &e.nas_port_id},
                                {"framed_ip", &e.framed_ip}, {"calling_station_id", &e.calling_station_id},
                                {"ifname", &e.ifname}};
    for (std::string_view line : base::lines(text)) {
        auto w = base::words(line, base::kWhiteSpace);
        if (w.empty() || w.size() > 2) return std::nullopt;
        std::size_t field = 0;
        while (field < kFields && w[0] != kKeys[field]) ++field;
        if (field == kFields || seen[field]) return std::nullopt;
        seen[field] = true;
        std::string_view value = w.size() == 2 ? w[1] : std::string_view();  // an empty text has no digits
        bool known = false;
        for (const text_field &f : texts)
            if (w[0] == f.key) {
                auto decoded = pam_env::decode_hex(value);
                if (!decoded) return std::nullopt;
                *f.value = *decoded;
                known = true;
            }
        if (w[0] == "nas_port") known = parse_number(value, e.nas_port);
        else if (w[0] == "pid") known = parse_number(value, e.pid) && e.pid > 0;
        else if (w[0] == "start_time") known = parse_number(value, e.start_time);
        else if (w[0] == "since") known = parse_number(value, e.since);
        if (!known) return std::nullopt;
    }
    if (!seen.all()) return std::nullopt;
    return e;
}

// Returns the start time of process `pid` (clock ticks after boot), nothing
// when there is no such process.
inline std::optional<unsigned long long> process_start_time(long long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    auto fields = base::words(std::string_view(text).substr(close + 1), base::kWhiteSpace);
    unsigned long long start = 0;
    if (fields.size() < kStartTimeAfterCommand || !parse_number(fields[kStartTimeAfterCommand - 1], start))
        return std::nullopt;
    return start;
}

// Returns the names of the entries in `dir`, sorted (none when it cannot be
// read).
inline std::vector<std::string> entry_names(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Returns the entry at `path` when it is a regular file of root's that
// nobody else may read or write, in the format; `why` says why not. Whoever
// reads it, root or not, trusts root's entries alone.
inline std::optional<entry> read_entry(const std::string &path, std::string &why) {
    base::unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd) {
        why = "cannot be opened";
        return std::nullopt;
    }
    struct stat st {};
    if (base::check_open_file(fd.get(), {base::file_owner::root, base::kNoAccessForOthers}, st) !=
            base::file_verdict::trusted ||
        st.st_size > static_cast<off_t>(kMaxEntrySize)) {
        why = "is not a private regular file of root's";
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    if (read(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        why = "cannot be read";
        return std::nullopt;
    }
    auto e = parse(text);
    if (!e) why = "is not in the registry's format";
    return e;
}

// Returns whether the process that wrote `e` still runs: its pid is there,
// with the start time the entry names (not another process that got it).
inline bool live(const entry &e) { return process_start_time(e.pid) == e.start_time; }

}  // namespace session_registry
