// SPDX-License-Identifier: BSD-3-Clause
// The authorization step: any environment the PAM stack may leave behind.
// Each input line "KEY=VALUE" is put into a transaction's environment.
#include <security/pam_appl.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "auth/attrs.h"
#include "plugin/handlers.h"
#include "plugin/state.h"

namespace {
// A PAM configuration directory of our own, removed when the fuzzer exits.
struct pam_config {
    std::string dir;
    pam_config() {
        char templ[] = "/tmp/dsppp-fuzz-XXXXXX";
        if (const char *made = mkdtemp(templ)) dir = made;
        std::ofstream(dir + "/other") << "auth required pam_permit.so\n";
    }
    ~pam_config() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};
const std::string &confdir() {
    static pam_config config;
    return config.dir;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const pam_conv conv = {nullptr, nullptr};
    pam_handle_t *pamh = nullptr;
    if (pam_start_confdir("fuzz", "u", &conv, confdir().c_str(), &pamh) != PAM_SUCCESS) return 0;
    std::string_view rest(reinterpret_cast<const char *>(data), size);
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string line(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.find('=') != std::string::npos && line.find('\0') == std::string::npos)
            pam_putenv(pamh, line.c_str());
    }
    ds_apply_authz_attrs(pamh);
    u_int32_t addr = 0x0100000a;
    ds_ip_choose(&addr);
    ds_allowed_address(addr);
    cbcp_state state{};
    ds_cbcp_init(&state);
    std::free(state.us_number);
    pam_end(pamh, PAM_SUCCESS);
    return 0;
}
