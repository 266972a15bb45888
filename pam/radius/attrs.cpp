// SPDX-License-Identifier: BSD-3-Clause
#include "pam/radius/attrs.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <syslog.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "pam/env.h"
#include "platform/device.h"

namespace radius {

namespace {

constexpr std::size_t kU32 = 4;
constexpr std::size_t kInterfaceIdSize = 8;
constexpr std::size_t kIpv6Size = 16;

std::optional<uint32_t> as_u32(const std::string &value) {
    if (value.size() != kU32) return std::nullopt;
    const auto *b = reinterpret_cast<const unsigned char *>(value.data());
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

// Returns a text attribute up to its first NUL.
std::string text_of(const std::string &value) { return value.substr(0, value.find('\0')); }

void put_list(pam_handle_t *pamh, const packet &accept, uint8_t type, const char *key, bool hex) {
    pamutil_string_list *list = pamutil_new_string_list();
    if (list == nullptr) return;
    int count = 0;
    for (const attribute &a : accept.attributes) {
        if (a.type != type) continue;
        std::string value = hex ? pamenv::to_hex(a.value) : text_of(a.value);
        if (pamutil_append_string(list, value.c_str()) == 0) ++count;
    }
    if (count > 0) pamutil_putenv_string_list(pamh, key, list);
    pamutil_free_string_list(list);
}

}  // namespace

std::optional<uint32_t> counter(pam_handle_t *pamh, const char *key) {
    auto text = pamenv::get(pamh, key);
    if (!text) return std::nullopt;
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(text->c_str(), &end, 10);
    if (errno || end == text->c_str() || *end || v < INT32_MIN || v > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(v);
}

bool user_name_fits(const std::string &user) {
    if (user.size() <= kMaxAttrValue) return true;
    syslog(LOG_ERR, "pam_dsradius: user name of %zu bytes does not fit User-Name (at most %zu); refused",
           user.size(), kMaxAttrValue);
    return false;
}

bool add_user_attributes(pam_handle_t *pamh, const config &c, const std::string &user,
                         const sockaddr_storage &local, packet &p) {
    if (!user_name_fits(user)) return false;
    p.add(user_name, user);
    if (!c.nas_identifier.empty()) p.add(nas_identifier, c.nas_identifier);
    if (c.nas_ip) p.add(nas_ip_address, std::string(reinterpret_cast<const char *>(&*c.nas_ip), kU32));
    if (c.nas_ipv6) p.add(nas_ipv6_address, std::string(reinterpret_cast<const char *>(&*c.nas_ipv6), kIpv6Size));
    // RFC 2865 section 5.4: a request names its NAS; the source address will do.
    if (c.nas_identifier.empty() && !c.nas_ip && !c.nas_ipv6) {
        if (local.ss_family == AF_INET) {
            const auto &a = reinterpret_cast<const sockaddr_in &>(local).sin_addr;
            p.add(nas_ip_address, std::string(reinterpret_cast<const char *>(&a), kU32));
        } else if (local.ss_family == AF_INET6) {
            const auto &a = reinterpret_cast<const sockaddr_in6 &>(local).sin6_addr;
            p.add(nas_ipv6_address, std::string(reinterpret_cast<const char *>(&a), kIpv6Size));
        }
    }
    struct numeric { const char *key; uint8_t type; };
    for (numeric n : {numeric{"NAS_PORT", nas_port}, numeric{"NAS_PORT_TYPE", nas_port_type},
                      numeric{"SERVICE_TYPE", service_type}, numeric{"FRAMED_PROTOCOL", framed_protocol}})
        if (auto v = counter(pamh, n.key)) p.add_u32(n.type, *v);
    const void *tty = nullptr;
    if (pam_get_item(pamh, PAM_TTY, &tty) == PAM_SUCCESS && tty != nullptr)
        p.add(nas_port_id, static_cast<const char *>(tty));
    return true;
}

void apply_accept(pam_handle_t *pamh, const packet &accept) {
    if (auto v = accept.first(framed_ip_address); v && as_u32(*v))
        pamenv::put(pamh, "FRAMED_IP_ADDRESS", std::to_string(static_cast<int32_t>(*as_u32(*v))));
    struct numeric { uint8_t type; const char *key; };
    for (numeric n : {numeric{framed_mtu, "FRAMED_MTU"}, numeric{framed_compression, "FRAMED_COMPRESSION"},
                      numeric{session_timeout, "SESSION_TIMEOUT"}, numeric{idle_timeout, "IDLE_TIMEOUT"}})
        if (auto v = accept.first(n.type); v && as_u32(*v))
            pamenv::put(pamh, n.key, std::to_string(static_cast<int32_t>(*as_u32(*v))));
    if (auto v = accept.first(callback_number)) pamenv::put(pamh, "LOGIN_CALLBACK_NUMBER", text_of(*v));
    if (auto v = accept.first(callback_id)) pamenv::put(pamh, "FRAMED_CALLBACK_ID", text_of(*v));
    if (auto v = accept.first(service_type); v && as_u32(*v) == kServiceCallbackFramed)
        pamenv::put(pamh, "FRAMED_CALLBACK_ENABLED", "1");
    put_list(pamh, accept, framed_route, "FRAMED_ROUTE", false);
    put_list(pamh, accept, framed_ipv6_route, "FRAMED_IPV6_ROUTE", false);
    put_list(pamh, accept, class_, "CLASS_VX_ENCODED", true);
    if (auto v = accept.first(framed_interface_id); v && v->size() == kInterfaceIdSize) {
        unsigned char addr[kIpv6Size] = {};
        std::memcpy(addr + kIpv6Size - kInterfaceIdSize, v->data(), kInterfaceIdSize);
        char text[INET6_ADDRSTRLEN] = {};
        inet_ntop(AF_INET6, addr, text, sizeof text);
        pamenv::put(pamh, "FRAMED_INTERFACE_ID", text);
    }
    pamenv::put(pamh, "ACCT_AUTHENTICD", "1");
}

void add_classes(pam_handle_t *pamh, packet &p) {
    pamutil_string_list *list = pamutil_getenv_string_list(pamh, "CLASS_VX_ENCODED");
    for (int i = 0; i < pamutil_string_list_count(list); ++i) {
        auto bytes = pamenv::from_hex(pamutil_string_list_at(list, i));
        if (bytes && p.add(class_, *bytes)) continue;
        syslog(LOG_WARNING, "pam_dsradius: Class value %d is not hexadecimal or too long, not sent", i);
    }
    pamutil_free_string_list(list);
}

}  // namespace radius
