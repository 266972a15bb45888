// SPDX-License-Identifier: BSD-3-Clause
// Starts the dynamic-DNS client for the port with an input file written from
// the configuration store.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "base/text_rules.h"
#include "base/unique_fd.h"
#include "linkup/dyndns_child.h"
#include "platform/device.h"
#include "platform/store.h"
#include "plugin/handlers.h"
#include "plugin/paths.h"
#include "plugin/state.h"

namespace {

constexpr int kStarted = 0;
constexpr int kDisabled = 1;
constexpr int kForkFailed = -1;
constexpr int kGlobalReadFailed = -2;
constexpr int kDyndnsReadFailed = -3;
constexpr int kPortReadFailed = -4;
constexpr int kCreateFailed = -5;
constexpr int kSslConfigFailed = -6;
constexpr int kSslWriteShort = -7;
constexpr int kUnsafeField = -8;

constexpr const char *kProgram = "inadyn";
constexpr const char *kInputFileOption = "--input_file";
constexpr const char *kUpdateHost = "members.dyndns.org";
constexpr const char *kCheckIpHost = "checkip.dyndns.org";
constexpr const char *kUpdateUrl = "/nic/update?";
constexpr const char *kCheckIpPath = "/";
constexpr const char *kSystemDynamic = "dyndns@dyndns.org";
constexpr const char *kSystemStatic = "statdns@dyndns.org";
constexpr const char *kSystemCustom = "custom@dyndns.org";
constexpr unsigned kSystemStaticCode = 1;
constexpr unsigned kSystemCustomCode = 2;
constexpr unsigned kConnectionAltPort = 1;
constexpr unsigned kConnectionSecure = 2;
constexpr int kAltPort = 8245;
constexpr int kHttpsPort = 443;
constexpr int kHttpPort = 80;
constexpr int kIterations = 10;
constexpr mode_t kPrivateMode = 0600;
constexpr unsigned char kSslEnabled = 1;
constexpr const char *kSslFixedFiles[] = {"/etc/https_cert.pem", "/etc/https_key.pem",
                                          "/etc/ssl_dsa_cert.pem", "/etc/ssl_dsa_key",
                                          "/etc/ldap_cacert.pem"};

using file_ptr = base::unique_file;
using port_path = std::array<char, paths::kPortPathSize>;

port_path format_path(const char *format, int port) {
    port_path path{};
    std::snprintf(path.data(), path.size(), format, port);
    return path;
}

// Returns the text of a store field: up to its first NUL, at most `width` bytes.
std::string_view text_field(const unsigned char *record, int offset, int width) {
    const char *start = reinterpret_cast<const char *>(record + offset);
    return {start, strnlen(start, static_cast<std::size_t>(width))};
}

// Returns a new file owned by us alone, never written through a link that
// was at `path`; null on failure.
file_ptr create_private(const char *path, const char *mode) {
    unlink(path);
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivateMode);
    if (fd < 0) return nullptr;
    std::FILE *f = fdopen(fd, mode);
    if (f == nullptr) close(fd);
    return file_ptr{f};
}

// Returns true when everything written reached the file.
bool finish(file_ptr &f) {
    bool ok = std::ferror(f.get()) == 0;
    return std::fclose(f.release()) == 0 && ok;
}

struct dyndns_settings {
    std::string_view alias, user, password, ssl_list_entry;
    const char *system;
    int update_port, check_port;
    bool secure, wildcard;
};

dyndns_settings settings_from(const unsigned char *global, const unsigned char *dyndns,
                              const unsigned char *port_record) {
    dyndns_settings s{};
    s.alias = text_field(port_record, store::kDyndnsAlias, store::kDyndnsAliasWidth);
    s.user = text_field(port_record, store::kDyndnsUser, store::kDyndnsUserWidth);
    s.password = text_field(port_record, store::kDyndnsPassword, store::kDyndnsPasswordWidth);
    s.ssl_list_entry = text_field(global, store::kSslListEntry, store::kSslListEntryWidth);
    unsigned system = dyndns[store::kDyndnsSystem];
    s.system = system == kSystemStaticCode   ? kSystemStatic
               : system == kSystemCustomCode ? kSystemCustom
                                             : kSystemDynamic;
    s.wildcard = dyndns[store::kDyndnsWildcard] != 0;
    unsigned connection = dyndns[store::kDyndnsConnection];
    s.secure = connection == kConnectionSecure;
    s.update_port = connection == kConnectionAltPort ? kAltPort
                    : s.secure                       ? kHttpsPort
                                                     : kHttpPort;
    s.check_port = connection == kConnectionAltPort ? kAltPort : kHttpPort;
    return s;
}

// Returns the name of the first field that would inject into the client's
// input, or null when all are plain text.
const char *unsafe_field(const dyndns_settings &s) {
    if (base::splits_an_option(s.alias)) return "dyndns_alias";
    if (base::splits_an_option(s.user)) return "dyndns_user";
    if (base::splits_an_option(s.password)) return "dyndns_password";
    if (s.secure && base::has_control_character(s.ssl_list_entry)) return "ssl_list_entry";
    return nullptr;
}

void write_input_lines(std::FILE *f, const dyndns_settings &s, int port) {
    port_path stats = format_path(paths::kDyndnsStatsFormat, port);
    auto field = [](std::string_view v) { return static_cast<int>(v.size()); };
    std::fprintf(f, "--alias %.*s\n", field(s.alias), s.alias.data());
    std::fprintf(f, "--username %.*s\n", field(s.user), s.user.data());
    std::fprintf(f, "--password %.*s\n", field(s.password), s.password.data());
    std::fprintf(f, "--iterations %d\n", kIterations);
    std::fprintf(f, "--wildcard %s\n", s.wildcard ? "YES" : "NO");
    std::fprintf(f, "--oneshot YES\n");
    std::fprintf(f, "--dyndns_system %s\n", s.system);
    std::fprintf(f, "--dyndns_server_name %s:%d\n", kUpdateHost, s.update_port);
    std::fprintf(f, "--dyndns_server_url %s\n", kUpdateUrl);
    std::fprintf(f, "--ip_server_name %s:%d %s\n", kCheckIpHost, s.check_port, kCheckIpPath);
    std::fprintf(f, "--stats_filename %s\n", stats.data());
}

// Writes the SSL file list and options block; returns 0 or a result code.
int write_ssl_files(std::FILE *input, const dyndns_settings &s, int port) {
    std::array<unsigned char, device::kDyndnsSslBlockSize> block{};
    if (get_dyndns_ssl_config(block.data()) != 0) return kSslConfigFailed;
    block[0] = kSslEnabled;

    port_path list_path = format_path(paths::kDyndnsSslFormat, port);
    file_ptr list = create_private(list_path.data(), "w");
    if (!list) return kCreateFailed;
    port_path options_path = format_path(paths::kDyndnsSsloptFormat, port);
    std::fprintf(list.get(), "%s\n", options_path.data());
    for (const char *fixed : kSslFixedFiles) std::fprintf(list.get(), "%s\n", fixed);
    std::fprintf(list.get(), "%.*s\n", static_cast<int>(s.ssl_list_entry.size()),
                 s.ssl_list_entry.data());
    if (!finish(list)) return kCreateFailed;

    file_ptr options = create_private(options_path.data(), "wb");
    if (!options) return kCreateFailed;
    std::size_t written = std::fwrite(block.data(), 1, block.size(), options.get());
    bool closed = finish(options);
    if (written < block.size() || !closed) return kSslWriteShort;

    std::fprintf(input, "--ssl_cfg_filenames %s", list_path.data());
    return 0;
}

}  // namespace

int check_and_launch_ppp_dyndns(int port, pid_t *pid_out) noexcept {
    std::array<unsigned char, store::kGlobalSize> global{};
    if (ds_reprom(global.data(), store::kGlobalSize, store::kGlobalOffset) != store::kGlobalSize)
        return kGlobalReadFailed;
    std::array<unsigned char, store::kDyndnsSize> dyndns{};
    if (ds_reprom(dyndns.data(), store::kDyndnsSize, store::kDyndnsOffset) != store::kDyndnsSize)
        return kDyndnsReadFailed;
    std::array<unsigned char, store::kPortSize> record{};
    if (!ds_port_record_exists(port, "check_and_launch_ppp_dyndns") ||
        ds_reprom(record.data(), store::kPortSize, store::port_offset(port)) != store::kPortSize)
        return kPortReadFailed;
    if (record[store::kDyndnsEnabled] == 0) return kDisabled;

    dyndns_settings settings = settings_from(global.data(), dyndns.data(), record.data());
    if (const char *field = unsafe_field(settings)) {
        syslog(LOG_ERR, "%s(): port %d: %s holds a control character, blank, '#' or '\\', dynamic DNS not started",
               "check_and_launch_ppp_dyndns", port, field);
        return kUnsafeField;
    }

    port_path input_path = format_path(paths::kDyndnsCfgFormat, port);
    file_ptr input = create_private(input_path.data(), "w");
    if (!input) return kCreateFailed;
    write_input_lines(input.get(), settings, port);
    if (settings.secure) {
        int result = write_ssl_files(input.get(), settings, port);
        if (result != 0) return result;
    }
    if (!finish(input)) return kCreateFailed;

    char *argv[] = {const_cast<char *>(kProgram), const_cast<char *>(kInputFileOption), input_path.data(),
                    nullptr};
    int pidfd = -1;
    pid_t child = ds_start_client(argv, pidfd);
    if (child < 0) return kForkFailed;
    if (ds_dyndns_pidfd >= 0) close(ds_dyndns_pidfd);
    ds_dyndns_pidfd = pidfd;
    if (pid_out != nullptr) *pid_out = child;
    return kStarted;
}
