#include "pictures/PictureWire.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace platform::picture_wire {

bool SendAll(int fd, const Message& m, const std::string& text, int passFd) {
    std::string packet(reinterpret_cast<const char*>(&m), sizeof m);
    packet += text;
    iovec iov{packet.data(), packet.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    if (passFd >= 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &passFd, sizeof(int));
    }
    ssize_t n;
    while ((n = ::sendmsg(fd, &msg, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return n == static_cast<ssize_t>(packet.size());
}

Packet ReceivePacket(int fd, std::size_t byteLimit) {
    Packet p;
    p.bytes.resize(byteLimit);
    iovec iov{p.bytes.data(), p.bytes.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    while ((n = ::recvmsg(fd, &msg, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
    }
    p.n = n;
    p.error = n < 0 ? errno : 0;
    p.flags = msg.msg_flags;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); n >= 0 && c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int passed;
            std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof passed);
            p.fds.push_back(passed);
        }
    }
    return p;
}

}  // namespace platform::picture_wire
