// SPDX-License-Identifier: BSD-3-Clause
// The device library's interface (libdsdevice on Linux; the device's own
// libglobals/libpamquarn/libsslquarn on the appliance).
#pragma once

#include <climits>
#include <cstddef>
#include <cstring>
#include <security/pam_appl.h>
#include <sys/types.h>

#include "base/addr.h"
#include "platform/store.h"

#define DS_DEVICE_API extern "C" __attribute__((visibility("default")))

namespace device {

inline constexpr int kAlertSuccess = 6;
inline constexpr int kAlertFailure = 5;
inline constexpr std::size_t kAlertTextSize = 256;

// getuserinfo() record: the caller reserves this much; the password is a
// NUL-terminated text from byte kUserinfoPassword.
inline constexpr std::size_t kUserinfoSize = 724;
inline constexpr std::size_t kUserinfoPassword = 18;
// The longest local password CHAP can verify (the plug-in's secret storage);
// PAP takes longer ones, so a longer password means PAP only.
inline constexpr std::size_t kChapSecretMax = 32;

inline constexpr std::size_t kDyndnsSslBlockSize = 551;

inline constexpr int kFamilyV4 = 4;
inline constexpr int kFamilyV6 = 6;

}  // namespace device

// Opaque multi-valued PAM environment attribute.
typedef struct pamutil_string_list pamutil_string_list;

DS_DEVICE_API int reprom(void *buf, int len, int offset);

// Returns reprom's result for a 64-bit store offset; one no int can hold is
// a failed read (-1), never a wrapped one.
inline int ds_reprom(void *buf, int len, long long offset) {
    if (offset < 0 || offset > INT_MAX) return -1;
    return reprom(buf, len, static_cast<int>(offset));
}
DS_DEVICE_API int send_auth_alert(int unused, int kind, const char *text);
DS_DEVICE_API int getuserinfo(const char *name, void *record);
DS_DEVICE_API int hex_to_asc(const unsigned char *bytes, char *out, int n);

DS_DEVICE_API int get_semaphore(int key, const char *path);
DS_DEVICE_API int wait_semaphore(int id);
DS_DEVICE_API int release_semaphore(int id);

DS_DEVICE_API int get_dyndns_ssl_config(unsigned char *block);

DS_DEVICE_API int createPortRoutes(int port, int family);
DS_DEVICE_API int deletePortRoutes(int port);
DS_DEVICE_API int createIPv6Tunnel(int port);
DS_DEVICE_API int deleteIPv6Tunnel(int port);

DS_DEVICE_API int add_route_v4(u_int32_t dest, u_int32_t mask, u_int32_t gateway,
                               const char *ifname);
DS_DEVICE_API int add_route_v6(const unsigned char *dest, int prefix_len,
                               const unsigned char *gateway, const char *ifname);

DS_DEVICE_API pamutil_string_list *pamutil_getenv_string_list(pam_handle_t *pamh,
                                                              const char *key);
DS_DEVICE_API int pamutil_putenv_string_list(pam_handle_t *pamh, const char *key,
                                             const pamutil_string_list *list);
DS_DEVICE_API void pamutil_free_string_list(pamutil_string_list *list);
DS_DEVICE_API pamutil_string_list *pamutil_new_string_list(void);
DS_DEVICE_API int pamutil_append_string(pamutil_string_list *list, const char *value);
DS_DEVICE_API int pamutil_string_list_count(const pamutil_string_list *list);
DS_DEVICE_API const char *pamutil_string_list_at(const pamutil_string_list *list, int index);
DS_DEVICE_API int pamutil_add_radius_ipv4_routes(const pamutil_string_list *list,
                                                 const char *ifname, u_int32_t peer);
DS_DEVICE_API int pamutil_add_radius_ipv6_routes(const pamutil_string_list *list,
                                                 const char *ifname);

inline int ds_addr_is_v4zero(const unsigned char *addr) {
    static const unsigned char zero[base::kIpv4Size] = {};
    return base::is_v4_mapped(addr) && std::memcmp(addr + base::kV4MappedOffset, zero, base::kIpv4Size) == 0;
}

inline int ds_addr_is_v6zero(const unsigned char *addr) {
    static const unsigned char zero[store::kAddrSize] = {};
    return std::memcmp(addr, zero, store::kAddrSize) == 0;
}

#define IS_ADDR_V4ZERO(addr) ds_addr_is_v4zero(addr)
#define IS_ADDR_V6ZERO(addr) ds_addr_is_v6zero(addr)
