// The wire between the program and its picture helper: a message arrives whole with its
// descriptor, and a cut message, a closed peer or an empty socket each read as what they are.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "pictures/PictureWire.h"

namespace {

using namespace platform::picture_wire;

struct SocketPair {
    int fd[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fd), 0); }
    ~SocketPair() {
        for (int f : fd)
            if (f >= 0) ::close(f);
    }
    void Close(int i) {
        ::close(fd[i]);
        fd[i] = -1;
    }
};

void CloseAll(const Packet& p) {
    for (int f : p.fds) ::close(f);
}

Message TextMessage(const std::string& text) {
    Message m;
    m.kind = kFailure;
    m.textLength = static_cast<std::uint32_t>(text.size());
    return m;
}

TEST(PictureWireTest, AMessageArrivesWholeWithItsDescriptorTakenCloseOnExec) {
    SocketPair s;
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    ASSERT_TRUE(SendAll(s.fd[0], TextMessage("a.jpg"), "a.jpg", pipe[0]));
    ::close(pipe[0]);

    const Packet p = ReceivePacket(s.fd[1], sizeof(Message) + kMaxText);
    ASSERT_EQ(p.n, static_cast<ssize_t>(sizeof(Message) + 5));
    EXPECT_EQ(p.flags & (MSG_TRUNC | MSG_CTRUNC), 0);
    Message m;
    std::memcpy(&m, p.bytes.data(), sizeof m);
    EXPECT_EQ(m.magic, kMagic);
    EXPECT_EQ(m.kind, static_cast<std::uint32_t>(kFailure));
    EXPECT_EQ(std::string(p.bytes.data() + sizeof m, m.textLength), "a.jpg");
    ASSERT_EQ(p.fds.size(), 1u);
    EXPECT_TRUE(::fcntl(p.fds[0], F_GETFD) & FD_CLOEXEC);
    // The descriptor that came is the one that was sent: the pipe's other end reads through it.
    ASSERT_EQ(::write(pipe[1], "x", 1), 1);
    char c = 0;
    EXPECT_EQ(::read(p.fds[0], &c, 1), 1);
    EXPECT_EQ(c, 'x');
    ::close(pipe[1]);
    CloseAll(p);
}

TEST(PictureWireTest, AMessageLongerThanTheLimitIsMarkedCut) {
    SocketPair s;
    const std::string text(100, 'n');
    ASSERT_TRUE(SendAll(s.fd[0], TextMessage(text), text, -1));
    const Packet p = ReceivePacket(s.fd[1], sizeof(Message) + 99);
    EXPECT_EQ(p.n, static_cast<ssize_t>(sizeof(Message) + 99));
    EXPECT_TRUE(p.flags & MSG_TRUNC);
    EXPECT_TRUE(p.fds.empty());
}

TEST(PictureWireTest, AClosedPeerEmptySocketOrRefusedSendSayWhichTheyAre) {
    {
        SocketPair s;
        s.Close(0);
        const Packet p = ReceivePacket(s.fd[1], sizeof(Message) + kMaxText);
        EXPECT_EQ(p.n, 0);
        EXPECT_TRUE(p.fds.empty());
        // Sending to a peer that has gone fails instead of raising SIGPIPE.
        EXPECT_FALSE(SendAll(s.fd[1], TextMessage("x"), "x", -1));
    }
    {
        SocketPair s;
        ASSERT_EQ(::fcntl(s.fd[1], F_SETFL, ::fcntl(s.fd[1], F_GETFL) | O_NONBLOCK), 0);
        const Packet p = ReceivePacket(s.fd[1], sizeof(Message) + kMaxText);
        EXPECT_LT(p.n, 0);
        EXPECT_TRUE(p.error == EAGAIN || p.error == EWOULDBLOCK) << p.error;
        EXPECT_TRUE(p.fds.empty());
    }
}

}  // namespace
