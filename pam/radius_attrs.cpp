// SPDX-License-Identifier: BSD-3-Clause
#include "pam/radius_attrs.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <syslog.h>

#include <cstring>

#include "base/addr.h"
#include "base/log_text.h"
#include "platform/device.h"
#include "platform/pam_env.h"
#include "radius/nas.h"

namespace radius {

static_assert(kMaxAttrValue == pam_env::kMaxText, "the contract's texts are RADIUS texts");

namespace {

// Returns a text attribute up to its first NUL.
std::string text_of(const std::string &value) { return value.substr(0, value.find('\0')); }

void put_list(pam_handle_t *pamh, const packet &accept, uint8_t type, const char *key, bool hex) {
    pamutil_string_list *list = pamutil_new_string_list();
    if (list == nullptr) return;
    int count = 0;
    for (const attribute &a : accept.attributes) {
        if (a.type != type) continue;
        std::string value = hex ? pam_env::encode_hex(a.value) : text_of(a.value);
        if (pamutil_append_string(list, value.c_str()) == 0) ++count;
    }
    if (count > 0) pamutil_putenv_string_list(pamh, key, list);
    pamutil_free_string_list(list);
}

}  // namespace

bool user_name_fits(const std::string &user) {
    if (user.size() <= kMaxAttrValue) return true;
    syslog(LOG_ERR, "pam_dsradius: user name of %zu bytes does not fit User-Name (at most %zu); refused",
           user.size(), kMaxAttrValue);
    return false;
}

bool add_user_attributes(const pam_request::request &r, const config &c, const sockaddr_storage &local, packet &p) {
    if (!user_name_fits(r.user)) return false;
    p.add(user_name, r.user);
    add_nas_identity(c, local, p);
    struct numeric { const std::optional<uint32_t> &value; uint8_t type; };
    for (numeric n : {numeric{r.nas_port, nas_port}, numeric{r.nas_port_type, nas_port_type},
                      numeric{r.service_type, service_type}, numeric{r.framed_protocol, framed_protocol}})
        if (n.value) p.add_u32(n.type, *n.value);
    if (r.calling_station_id) p.add(calling_station_id, *r.calling_station_id);
    if (r.tty && !p.add(nas_port_id, *r.tty)) {
        // The daemon's tty, not a peer's text: said once, not at every request.
        static bool told = false;
        if (!told)
            syslog(LOG_WARNING, "pam_dsradius: the tty \"%s\" is longer than %zu bytes; NAS-Port-Id not sent",
                   base::escaped(*r.tty).c_str(), kMaxAttrValue);
        told = true;
    }
    return true;
}

// Returns the value of Microsoft's attribute `type` in the Vendor-Specific
// attributes of `p` (RFC 2548 section 2: vendor id, then sub-attributes of
// type, length and value), every length checked against its attribute's end.
std::optional<std::string> microsoft_attribute(const packet &p, uint8_t type) {
    for (const attribute &a : p.attributes) {
        if (a.type != vendor_specific || a.value.size() < kVendorIdSize + kAttrHeader) continue;
        const auto *b = reinterpret_cast<const unsigned char *>(a.value.data());
        uint32_t vendor = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
        if (vendor != kVendorMicrosoft) continue;
        for (std::size_t at = kVendorIdSize; at + kAttrHeader <= a.value.size();) {
            std::size_t length = b[at + 1];
            if (length < kAttrHeader || at + length > a.value.size()) break;
            if (b[at] == type) return a.value.substr(at + kAttrHeader, length - kAttrHeader);
            at += length;
        }
    }
    return std::nullopt;
}

void apply_accept(pam_handle_t *pamh, const packet &accept) {
    using namespace pam_env;
    if (auto v = accept.first(framed_ip_address); v && u32_value(*v))
        put(pamh, kFramedIpAddress, encode_address(htonl(*u32_value(*v))));
    struct numeric { uint8_t type; const char *key; };
    for (numeric n : {numeric{framed_mtu, kFramedMtu}, numeric{framed_compression, kFramedCompression},
                      numeric{session_timeout, kSessionTimeout}, numeric{idle_timeout, kIdleTimeout}})
        if (auto v = accept.first(n.type); v && u32_value(*v))
            put(pamh, n.key, encode_decimal(static_cast<int32_t>(*u32_value(*v))));
    if (auto v = accept.first(callback_number)) put(pamh, kLoginCallbackNumber, text_of(*v));
    if (auto v = accept.first(callback_id)) put(pamh, kFramedCallbackId, text_of(*v));
    if (auto v = accept.first(service_type); v && u32_value(*v) == kServiceCallbackFramed)
        put(pamh, kFramedCallbackEnabled, encode_decimal(1));
    put_list(pamh, accept, framed_route, kFramedRoute, false);
    put_list(pamh, accept, framed_ipv6_route, kFramedIpv6Route, false);
    put_list(pamh, accept, class_, kClassList, true);
    if (auto v = accept.first(framed_interface_id); v && v->size() == base::kInterfaceIdSize)
        put(pamh, kFramedInterfaceId, encode_interface_id(reinterpret_cast<const unsigned char *>(v->data())));
    struct dns { uint8_t type; const char *key; };
    for (dns d : {dns{kMsPrimaryDnsType, pam_env::kMsPrimaryDnsServer}, dns{kMsSecondaryDnsType, pam_env::kMsSecondaryDnsServer}})
        if (auto v = microsoft_attribute(accept, d.type); v && u32_value(*v))
            put(pamh, d.key, encode_address(htonl(*u32_value(*v))));
    if (auto v = accept.first(acct_interim_interval); v && u32_value(*v))
        put(pamh, kAcctInterimInterval, encode_decimal(static_cast<int32_t>(*u32_value(*v))));
    put(pamh, kAcctAuthentic, encode_decimal(kAuthenticRadius));
}

void add_classes(const pam_request::request &r, packet &p) {
    for (std::size_t i = 0; i < r.classes.size(); ++i) {
        if (r.classes[i] && p.add(class_, *r.classes[i])) continue;
        syslog(LOG_WARNING, "pam_dsradius: Class value %zu is not hexadecimal or too long, not sent", i);
    }
}

}  // namespace radius
