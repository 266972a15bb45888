// SPDX-License-Identifier: BSD-3-Clause
// Merges the port's name servers into the system resolver file, under the
// semaphore that every port's daemon shares.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <sys/types.h>
#include <syslog.h>

#include "linkup/resolv_line.h"
#include "platform/device.h"
#include "plugin/handlers.h"
#include "plugin/paths.h"

namespace {

constexpr const char *kFn = "ds_update_resolv";
constexpr std::size_t kMaxServers = 4;
constexpr std::size_t kAddressStorage = 128;

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

struct file_closer {
    void operator()(std::FILE *f) const { std::fclose(f); }
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

using file_ptr = std::unique_ptr<std::FILE, file_closer>;

void read_port_servers(std::FILE *f, server_list &list) {
    line_reader reader{f};
    std::string_view line;
    while (list.count < kMaxServers && reader.next(line)) {
        std::string_view address = ds_resolv_nameserver(line);
        // An address that does not fit its storage is skipped, never cut.
        if (address.empty() || address.size() >= kAddressStorage) continue;
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

void append_new_servers(const server_list &list) {
    file_ptr f{std::fopen(DS_SYSTEM_RESOLV, "a+")};
    if (!f) return;
    bool newline_owed = ends_without_newline(f.get());
    for (std::size_t i = 0; i < list.count; ++i) {
        const server &s = list.entries[i];
        if (!s.is_new) continue;
        syslog(LOG_DEBUG, "%s(): added nameserver: %s to resolv.conf", kFn, s.address.data());
        if (newline_owed) {
            std::fputc('\n', f.get());
            newline_owed = false;
        }
        std::fprintf(f.get(), "nameserver %s\n", s.address.data());
    }
}

}  // namespace

void ds_update_resolv(int port) noexcept {
    server_list list;
    int id = get_semaphore(DS_RESOLV_SEM_KEY, DS_RESOLV_SEM_PATH);
    if (id < 0 || wait_semaphore(id) < 0) {
        syslog(LOG_DEBUG, "%s(): get_semaphore failed, not updating resolv.conf", kFn);
        return;
    }
    semaphore_hold hold{id};

    std::array<char, DS_PORT_PATH_SIZE> port_file{};
    std::snprintf(port_file.data(), port_file.size(), DS_PORT_RESOLV_FORMAT, port);
    {
        file_ptr f{std::fopen(port_file.data(), "r")};
        if (!f) {
            syslog(LOG_DEBUG, "%s(): PPP:  no nameservers to add to resolver file.", kFn);
            return;
        }
        read_port_servers(f.get(), list);
    }
    if (list.count == 0) return;

    if (file_ptr f{std::fopen(DS_SYSTEM_RESOLV, "r")}) mark_known_servers(f.get(), list);
    bool any_new = false;
    for (std::size_t i = 0; i < list.count; ++i) any_new = any_new || list.entries[i].is_new;
    if (any_new) append_new_servers(list);
}
