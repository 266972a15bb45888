// SPDX-License-Identifier: BSD-3-Clause
// Authorization attributes left in the PAM environment by the stack, and the
// hooks that answer from them during negotiation.
#include <arpa/inet.h>
#include <syslog.h>

#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <security/pam_appl.h>

#include "auth/attrs.h"
#include "base/addr.h"
#include "base/log_text.h"
#include "platform/pam_env.h"
#include "plugin/handlers.h"
#include "plugin/state.h"

namespace {

constexpr long long kPeerChooses = -1;  // 255.255.255.255
constexpr long long kServerChooses = -2;  // 255.255.255.254

void apply_framed_ip(const char *text) {
    long long value = pam_env::decode_leading_decimal(text);
    if (value < INT32_MIN || value > INT32_MAX) return;
    if (value == kPeerChooses) {
        ds_framed_ip = 0;
    } else if (value != kServerChooses) {
        ds_framed_ip = htonl(static_cast<uint32_t>(static_cast<int32_t>(value)));
    }
}

// Returns the decimal `text` (all of it) when it lies within [min, max];
// anything else is logged, naming the key and the value, and ignored, so the
// daemon's own value stays.
std::optional<int> checked_number(const char *key, const char *text, long long min, long long max) {
    auto value = pam_env::decode_decimal(text);
    if (value && *value >= min && *value <= max) return static_cast<int>(*value);
    syslog(LOG_WARNING, "ds_apply_authz_attrs(): %s \"%s\" is not a number from %lld to %lld; ignored", key,
           base::escaped(text).c_str(), min, max);
    return std::nullopt;
}

// Offers the peer the DNS server RADIUS chose as the `index`th (ms-dns).
void apply_dns_server(std::size_t index, const char *key, const char *text) {
    auto addr = pam_env::decode_address(text);
    if (!addr || !base::is_unicast_v4(*addr)) {
        syslog(LOG_WARNING, "ds_apply_authz_attrs(): %s \"%s\" is not a unicast IPv4 address; ignored", key,
               base::escaped(text).c_str());
        return;
    }
    ipcp_allowoptions[0].dnsaddr[index] = *addr;
}

void replace_callback_number(const char *text) {
    if (text == nullptr || text[0] == '\0') return;
    std::free(ds_callback_number);
    ds_callback_number = strdup(text);
}

void replace_list(pam_handle_t *pamh, const char *key, pamutil_string_list *&list) {
    if (list != nullptr) pamutil_free_string_list(list);
    list = pamutil_getenv_string_list(pamh, key);
}

void apply_interface_id(const char *text) {
    std::array<unsigned char, base::kIpv6Size> addr{};
    if (inet_pton(AF_INET6, text, addr.data()) != 1) return;
    for (std::size_t i = 0; i < base::kInterfaceIdOffset; ++i)
        if (addr[i] != 0) return;
    std::memcpy(ipv6cp_wantoptions[0].hisid.e8, addr.data() + base::kInterfaceIdOffset, base::kInterfaceIdSize);
}

}  // namespace

int ds_apply_authz_attrs(pam_handle_t *pamh) noexcept {
    using namespace pam_env;
    if (const char *v = pam_getenv(pamh, kFramedIpAddress)) apply_framed_ip(v);
    // An MRU the daemon cannot negotiate, or a time-out below zero (which the
    // daemon would read as a limit already passed), is no authorization.
    if (const char *v = pam_getenv(pamh, kFramedMtu)) {
        if (auto mru = checked_number(kFramedMtu, v, pppd::kMinMru, pppd::kMaxMru)) {
            lcp_wantoptions[0].neg_mru = 1;
            lcp_wantoptions[0].mru = *mru;
        }
    }
    if (const char *v = pam_getenv(pamh, kFramedCompression))
        ipcp_wantoptions[0].neg_vj = static_cast<pppd_bool>(decode_leading_int(v) & 0xff);
    if (const char *v = pam_getenv(pamh, kSessionTimeout))
        if (auto seconds = checked_number(kSessionTimeout, v, 0, INT_MAX)) maxconnect = *seconds;
    if (const char *v = pam_getenv(pamh, kIdleTimeout))
        if (auto seconds = checked_number(kIdleTimeout, v, 0, INT_MAX)) idle_time_limit = *seconds;
    replace_callback_number(pam_getenv(pamh, kLoginCallbackNumber));
    replace_callback_number(pam_getenv(pamh, kFramedCallbackId));
    if (const char *v = pam_getenv(pamh, kFramedCallbackEnabled)) ds_callback_enabled = decode_leading_int(v);
    replace_list(pamh, kFramedRoute, ds_routes_v4);
    replace_list(pamh, kFramedIpv6Route, ds_routes_v6);
    replace_list(pamh, kClassList, ds_class_list);
    if (const char *v = pam_getenv(pamh, kFramedInterfaceId)) apply_interface_id(v);
    static_assert(std::size(kMsDnsServers) == pppd::kDnsServers);
    for (std::size_t i = 0; i < pppd::kDnsServers; ++i)
        if (const char *v = pam_getenv(pamh, kMsDnsServers[i])) apply_dns_server(i, kMsDnsServers[i], v);
    return 1;
}

void ds_ip_choose(u_int32_t *addr) noexcept {
    if (addr != nullptr && ds_framed_ip != 0) *addr = ds_framed_ip;
}

int ds_allowed_address(u_int32_t addr) noexcept {
    if (ds_framed_ip == 0) return 1;
    return addr == ds_framed_ip ? 1 : 0;
}

void ds_cbcp_init(cbcp_state *state) noexcept {
    if (state != nullptr) {
        if (ds_callback_enabled != 0 && ds_callback_number != nullptr) {
            // The daemon owns whatever number the state held and frees it
            // itself; freeing it here could free it twice. At worst it leaks.
            state->us_allowed = pppd::kCbcpAllowNoneAndAdmin;
            state->us_number = strdup(ds_callback_number);
        } else if (ds_callback_enabled != 0) {
            state->us_allowed = pppd::kCbcpAllowNoneAndUser;
        } else {
            state->us_allowed = pppd::kCbcpAllowNone;
        }
    }
    std::free(ds_callback_number);
    ds_callback_number = nullptr;
}
