// SPDX-License-Identifier: BSD-3-Clause
#include "tools/dsdae/udp.h"

#include <netinet/in.h>

#include <cerrno>
#include <cstring>

namespace dsdae {

namespace {

// Room for one IPv4 or IPv6 packet-information message.
constexpr std::size_t kControlSize = CMSG_SPACE(sizeof(in6_pktinfo));
static_assert(sizeof(in6_pktinfo) >= sizeof(in_pktinfo));

}  // namespace

base::unique_fd bind_socket(const listen_address &where, std::string &error) {
    const int family = where.where.ss_family;
    base::unique_fd fd(socket(family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const int on = 1;
    auto failed = [&](const char *step) {
        error = std::string(step) + " " + where.address + ": " + std::strerror(errno);
        return base::unique_fd();
    };
    if (!fd) return failed("socket for");
    if (family == AF_INET6 && (setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0 ||
                               setsockopt(fd.get(), IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on) != 0))
        return failed("socket options for");
    if (family == AF_INET && setsockopt(fd.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0)
        return failed("socket options for");
    if (bind(fd.get(), reinterpret_cast<const sockaddr *>(&where.where), where.size) != 0)
        return failed("cannot listen on");
    return fd;
}

bool receive(int fd, datagram &out) {
    out = datagram{};
    out.bytes.resize(kMaxDatagram);
    alignas(cmsghdr) unsigned char control[kControlSize];
    iovec iov{out.bytes.data(), out.bytes.size()};
    msghdr msg{};
    msg.msg_name = &out.from;
    msg.msg_namelen = sizeof out.from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd, &msg, MSG_TRUNC);
    if (n < 0) return false;
    // A datagram longer than RADIUS allows is no request: read it as empty.
    out.bytes.resize(static_cast<std::size_t>(n) > kMaxDatagram ? 0 : static_cast<std::size_t>(n));
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            auto &local = reinterpret_cast<sockaddr_in &>(out.local);
            local.sin_family = AF_INET;
            local.sin_addr = info.ipi_addr;
        } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
            in6_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            auto &local = reinterpret_cast<sockaddr_in6 &>(out.local);
            local.sin6_family = AF_INET6;
            local.sin6_addr = info.ipi6_addr;
        }
    }
    return true;
}

bool send_reply(int fd, const std::vector<uint8_t> &bytes, const sockaddr_storage &to, const sockaddr_storage &local) {
    alignas(cmsghdr) unsigned char control[kControlSize] = {};
    iovec iov{const_cast<uint8_t *>(bytes.data()), bytes.size()};
    msghdr msg{};
    msg.msg_name = const_cast<sockaddr_storage *>(&to);
    msg.msg_namelen = to.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    auto put = [&](int level, int type, const auto &info) {
        cmsghdr *c = reinterpret_cast<cmsghdr *>(control);
        c->cmsg_level = level;
        c->cmsg_type = type;
        c->cmsg_len = CMSG_LEN(sizeof info);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
        msg.msg_control = control;
        msg.msg_controllen = CMSG_SPACE(sizeof info);
    };
    if (local.ss_family == AF_INET) {
        in_pktinfo info{};
        info.ipi_spec_dst = reinterpret_cast<const sockaddr_in &>(local).sin_addr;
        put(IPPROTO_IP, IP_PKTINFO, info);
    } else if (local.ss_family == AF_INET6) {
        in6_pktinfo info{};
        info.ipi6_addr = reinterpret_cast<const sockaddr_in6 &>(local).sin6_addr;
        put(IPPROTO_IPV6, IPV6_PKTINFO, info);
    }
    return sendmsg(fd, &msg, 0) == static_cast<ssize_t>(bytes.size());
}

}  // namespace dsdae
