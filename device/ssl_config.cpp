// SPDX-License-Identifier: BSD-3-Clause
// SSL options block for the dynamic-DNS client, filled from dyndns-ssl.conf
// ("key=value" lines; layout in device/README.md).
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <syslog.h>

#include "base/line_tokens.h"
#include "base/unique_fd.h"
#include "device/settings.h"
#include "device/ssl_block.h"
#include "platform/device.h"

namespace {
constexpr char kSettingSeparator = '=';
}  // namespace

int get_dyndns_ssl_config(unsigned char *block) {
    try {
        if (block == nullptr) return -1;
        std::memset(block, 0, device::kDyndnsSslBlockSize);
        std::string path = dsdevice_path(settings::kSslFile);
        base::unique_file f(std::fopen(path.c_str(), "re"));
        if (!f) {
            syslog(LOG_ERR, "get_dyndns_ssl_config(): no SSL settings in %s", path.c_str());
            return -1;
        }
        std::array<char, ssl_block::kLineMax> line{};
        for (int number = 1; std::fgets(line.data(), line.size(), f.get()); ++number) {
            std::string_view text(line.data());
            // A longer line would be read in pieces, its tail as a setting of
            // its own: refused whole instead.
            if (text.empty() || (text.back() != '\n' && !std::feof(f.get()))) {
                syslog(LOG_ERR, "get_dyndns_ssl_config(): line %d of %s is longer than %zu bytes; refused", number,
                       path.c_str(), ssl_block::kLineMax - 2);
                return -1;
            }
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                text.remove_suffix(1);
            if (text.empty() || text[0] == base::kCommentMark) continue;
            // A line without "=" names no setting: refused like an unknown one.
            auto setting = base::split_at(text, kSettingSeparator);
            std::string_view key = setting ? setting->first : text;
            if (!setting || !ssl_block::set_field(block, key, setting->second)) {
                syslog(LOG_ERR, "get_dyndns_ssl_config(): bad setting \"%.*s\" in %s",
                       static_cast<int>(key.size()), key.data(), path.c_str());
                return -1;
            }
        }
        return 0;
    } catch (...) {
        return -1;
    }
}
