// SPDX-License-Identifier: BSD-3-Clause
#include "device/route_text.h"

#include <arpa/inet.h>
#include <charconv>
#include <string>
#include <sys/socket.h>
#include <vector>

#include "base/line_tokens.h"

namespace {

// Prefix, gateway, metric; RFC 2865 section 5.22 lets servers add more
// fields (its own example: "192.168.1.0/24 192.168.1.1 1 2 -1 3 400"), ignored.
constexpr std::size_t kUsedTokens = 3;
constexpr std::size_t kMaxAddressText = INET6_ADDRSTRLEN;

std::size_t bytes_of(int family) { return family == AF_INET ? 4 : 16; }

bool parse_address(std::string_view text, int family, unsigned char *out) {
    if (text.empty() || text.size() >= kMaxAddressText) return false;
    std::string copy(text);
    return inet_pton(family, copy.c_str(), out) == 1;
}

template <typename T>
bool parse_number(std::string_view text, T &out) {
    auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), out);
    return err == std::errc{} && end == text.data() + text.size() && !text.empty();
}


}  // namespace

std::optional<ds_prefix> ds_parse_prefix(std::string_view text, int family) {
    std::size_t slash = text.find('/');
    std::string_view addr_text = text.substr(0, slash);
    ds_prefix p;
    int families[] = {AF_INET, AF_INET6};
    for (int f : families) {
        if (family != AF_UNSPEC && family != f) continue;
        if (parse_address(addr_text, f, p.addr.data())) {
            p.family = f;
            break;
        }
    }
    if (p.family == 0) return std::nullopt;
    unsigned max_length = static_cast<unsigned>(bytes_of(p.family) * 8);
    p.length = max_length;
    if (slash != std::string_view::npos &&
        (!parse_number(text.substr(slash + 1), p.length) || p.length > max_length))
        return std::nullopt;
    for (unsigned bit = p.length; bit < max_length; ++bit)
        p.addr[bit / 8] &= static_cast<unsigned char>(~(0x80u >> (bit % 8)));
    return p;
}

std::optional<ds_route_text> ds_parse_framed_route(std::string_view text, int family) {
    std::vector<std::string_view> tokens = base::words(text, base::kBlanks, kUsedTokens);
    if (tokens.size() < 2) return std::nullopt;
    if (family == AF_INET6 && tokens[0].find('/') == std::string_view::npos) return std::nullopt;
    auto dest = ds_parse_prefix(tokens[0], family);
    if (!dest) return std::nullopt;
    ds_route_text route;
    route.dest = *dest;
    if (!parse_address(tokens[1], family, route.gateway.data())) return std::nullopt;
    if (tokens.size() == kUsedTokens && !parse_number(tokens[2], route.metric)) return std::nullopt;
    return route;
}
