// SPDX-License-Identifier: BSD-3-Clause
// Merges the port's name servers into the system resolver file, under the
// semaphore that every port's daemon shares.
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <sys/types.h>
#include <syslog.h>

#include "base/unique_fd.h"
#include "linkup/resolv_line.h"
#include "platform/device.h"
#include "plugin/handlers.h"
#include "plugin/paths.h"

namespace {

constexpr const char *kFn = "ds_update_resolv";
constexpr std::size_t kMaxServers = 4;
constexpr std::size_t kAddressStorage = 128;
constexpr mode_t kResolverFileMode = 0644;
constexpr std::size_t kLineOverhead = sizeof "nameserver \n";

struct server {
    std::array<char, kAddressStorage> address{};
    bool is_new = false;
};

struct server_list {
    std::array<server, kMaxServers> entries{};
    std::size_t count = 0;

    bool contains(std::string_view address) const {
        for (std::size_t i = 0; i < count; ++i)
            if (address == entries[i].address.data()) return true;
        return false;
    }
};

// Holds the resolver semaphore until destroyed.
struct semaphore_hold {
    int id;
    ~semaphore_hold() { release_semaphore(id); }
};

// Reads whole lines of any length; getline's buffer is freed at the end.
struct line_reader {
    std::FILE *file;
    char *buffer = nullptr;
    std::size_t capacity = 0;
    ~line_reader() { std::free(buffer); }

    // Returns false at end of file or on a read error.
    bool next(std::string_view &line) {
        ssize_t n = getline(&buffer, &capacity, file);
        if (n < 0) return false;
        line = std::string_view(buffer, static_cast<std::size_t>(n));
        return true;
    }
};

using file_ptr = base::unique_file;

// Returns the file at `path` opened with `flags` when it is a regular file;
// never blocks on a FIFO or a device planted there (logged).
file_ptr open_regular(const char *path, int flags, const char *mode) {
    int fd = open(path, flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, kResolverFileMode);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        syslog(LOG_WARNING, "%s(): %s is not a regular file, not used", kFn, path);
        close(fd);
        return nullptr;
    }
    std::FILE *f = fdopen(fd, mode);
    if (f == nullptr) close(fd);
    return file_ptr{f};
}

// True when `address` is a numeric IPv4 or IPv6 address (a scope suffix such
// as "%ppp0" included); anything else must not reach the resolver file.
bool is_numeric_address(std::string_view address) {
    std::array<char, kAddressStorage> text{};
    if (address.size() >= text.size()) return false;
    std::memcpy(text.data(), address.data(), address.size());
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_family = AF_UNSPEC;
    addrinfo *found = nullptr;
    if (getaddrinfo(text.data(), nullptr, &hints, &found) != 0) return false;
    freeaddrinfo(found);
    return true;
}

void read_port_servers(std::FILE *f, server_list &list) {
    line_reader reader{f};
    std::string_view line;
    while (list.count < kMaxServers && reader.next(line)) {
        std::string_view address = ds_resolv_nameserver(line);
        // An address that does not fit its storage is skipped, never cut, as
        // is a token that is no address at all.
        if (address.empty() || address.size() >= kAddressStorage || !is_numeric_address(address)) continue;
        if (list.contains(address)) continue;
        server &s = list.entries[list.count++];
        std::memcpy(s.address.data(), address.data(), address.size());
        s.is_new = true;
    }
}

void mark_known_servers(std::FILE *f, server_list &list) {
    line_reader reader{f};
    std::string_view line;
    while (reader.next(line)) {
        std::string_view address = ds_resolv_nameserver(line);
        if (address.empty()) continue;
        for (std::size_t i = 0; i < list.count; ++i)
            if (address == list.entries[i].address.data()) list.entries[i].is_new = false;
    }
}

// True when the file has text whose last line lacks its newline.
bool ends_without_newline(std::FILE *f) {
    if (std::fseek(f, -1, SEEK_END) != 0) return false;
    int last = std::fgetc(f);
    return last != EOF && last != '\n';
}

// Writes all of `text` to `fd`; false (errno set) on a failure or a write
// that makes no progress.
bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void append_new_servers(const server_list &list) {
    file_ptr f = open_regular(paths::kSystemResolv, O_RDWR | O_CREAT | O_APPEND, "a+");
    if (!f) return;
    int fd = fileno(f.get());
    struct stat before {};
    if (fstat(fd, &before) != 0) {
        syslog(LOG_ERR, "%s(): cannot read the size of %s: %m; not written", kFn, paths::kSystemResolv);
        return;
    }
    // One line is at most "nameserver " with the longest address we keep.
    std::array<char, kMaxServers * (kAddressStorage + kLineOverhead) + 1> text{};
    std::size_t used = 0;
    if (ends_without_newline(f.get())) text[used++] = '\n';
    for (std::size_t i = 0; i < list.count; ++i) {
        const server &s = list.entries[i];
        if (!s.is_new) continue;
        syslog(LOG_DEBUG, "%s(): added nameserver: %s to resolv.conf", kFn, s.address.data());
        int n = std::snprintf(text.data() + used, text.size() - used, "nameserver %s\n", s.address.data());
        if (n > 0) used += std::min(static_cast<std::size_t>(n), text.size() - used - 1);
    }
    // The file holds whole lines only: a write cut short by a full disk or
    // an error is taken back, never left as a shorter (different) address.
    if (!write_all(fd, std::string_view(text.data(), used))) {
        int error = errno;
        bool restored = ftruncate(fd, before.st_size) == 0;
        errno = error;
        syslog(LOG_ERR, "%s(): writing %s failed: %m; %s", kFn, paths::kSystemResolv,
               restored ? "cut back to what it held" : "cannot cut it back either");
    }
}

}  // namespace

void ds_update_resolv(int port) noexcept {
    server_list list;
    int id = get_semaphore(paths::kResolvSemKey, paths::kResolvSemPath);
    if (id < 0 || wait_semaphore(id) < 0) {
        syslog(LOG_DEBUG, "%s(): get_semaphore failed, not updating resolv.conf", kFn);
        return;
    }
    semaphore_hold hold{id};

    std::array<char, paths::kPortPathSize> port_file{};
    std::snprintf(port_file.data(), port_file.size(), paths::kPortResolvFormat, port);
    {
        file_ptr f = open_regular(port_file.data(), O_RDONLY, "r");
        if (!f) {
            syslog(LOG_DEBUG, "%s(): PPP:  no nameservers to add to resolver file.", kFn);
            return;
        }
        read_port_servers(f.get(), list);
    }
    if (list.count == 0) return;

    if (file_ptr f = open_regular(paths::kSystemResolv, O_RDONLY, "r")) mark_known_servers(f.get(), list);
    bool any_new = false;
    for (std::size_t i = 0; i < list.count; ++i) any_new = any_new || list.entries[i].is_new;
    if (any_new) append_new_servers(list);
}
