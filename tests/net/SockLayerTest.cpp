// The socket layer against a scripted loopback peer: line reading, the peer's close,
// connection failures, listening, cancel, time-out, and the object's survival of handlers
// that run inside its waits.
#include <gtest/gtest.h>

#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>

#include <ctime>
#include <fstream>
#include <sstream>

#include "FtpHelpers.h"
#include "support/ScriptServer.h"
#include "net/SockLayer.h"

using testnet::ConnectTo;
using testnet::PumpUntil;
using testnet::ReadFile;
using testnet::ScriptServer;

namespace {

bool ZeroLinger(int fd) {
    linger l{};
    socklen_t len = sizeof l;
    getsockopt(fd, SOL_SOCKET, SO_LINGER, &l, &len);
    return l.l_onoff == 1 && l.l_linger == 0;
}

}  // namespace

TEST(SockLayer, LinesSplitOverPacketsAndSharedPackets) {
    ScriptServer server([](ScriptServer& s) {
        s.Send("220 first ");
        s.WaitGo();
        s.Send("half\r\n");
        s.Send("line two\r\nline three\n");
        s.ReadLine();
    });
    auto sock = ConnectTo(server.Port());
    EXPECT_TRUE(sock->Connected());
    QTimer::singleShot(50, [&] { server.Go(); });  // a timer runs during the wait
    EXPECT_EQ(sock->ReadLn(), "220 first half\r\n");
    testnet::PumpUntil([&] { return sock->DataAvailable(); });
    EXPECT_EQ(sock->ReadLn(), "line two\r\n");
    EXPECT_EQ(sock->ReadLn(), "line three\n");  // already waiting: no new read needed
    sock->Writeln("bye");
}

TEST(SockLayer, PeerCloseWithUnreadDataIsReadToTheEnd) {
    ScriptServer server([](ScriptServer& s) {
        s.Send("one\r\ntwo\r\n");
        s.CloseControl();
    });
    auto sock = ConnectTo(server.Port());
    ASSERT_TRUE(PumpUntil([&] { return server.Finished(); }));
    // Let the close notification arrive while data still waits: the socket stays open.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(sock->Connected());
    EXPECT_EQ(sock->ReadLn(), "one\r\n");
    EXPECT_EQ(sock->ReadLn(), "two\r\n");
    EXPECT_EQ(sock->ReadLn(), "");
    EXPECT_EQ(sock->ReadLn(), "");  // and again: nothing raises on a closed connection
}

TEST(SockLayer, CaptureFileGetsAllDataBeforeTheClose) {
    std::string payload(300000, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7);
    ScriptServer server([&](ScriptServer& s) {
        s.Send(payload);
        s.CloseControl();
    });
    auto sock = ConnectTo(server.Port());
    testnet::TempFolder tmp;
    std::string path = tmp.Path("capture.bin");
    int packets = 0;
    sock->OnPacketRecvd = [&](TBlockingSocket* sender) {
        EXPECT_EQ(sender, sock.get());
        ++packets;
    };
    sock->CaptureFile(path);
    EXPECT_EQ(ReadFile(path), payload);
    EXPECT_EQ(sock->BytesRecvd(), static_cast<int64_t>(payload.size()));
    EXPECT_GE(packets, 1);
}

TEST(SockLayer, RefusedConnectionFailsAndLeavesTheObjectUsable) {
    int fd = testnet::ListenLoopback();
    int port = testnet::LocalPort(fd);
    ::close(fd);  // nobody listens there now
    TBlockingSocket sock;
    sock.Host = "127.0.0.1";
    sock.Port = port;
    int failed = 0;
    std::string errorText;
    sock.OnConnectionFailed = [&](TBlockingSocket*) { ++failed; };
    sock.OnError = [&](TBlockingSocket*, uint16_t, const std::string& m) { errorText = m; };
    try {
        sock.Connect();
        FAIL() << "connected to a closed port";
    } catch (const ESockError& e) {
        // Either the refusal is reported at once or through the connect notification.
        std::string what = e.what();
        EXPECT_TRUE(what == "Connection Failed" || what == "10061:Connection refused") << what;
    }
    EXPECT_EQ(sock.LastError(), 10061);
    EXPECT_FALSE(sock.Connected());
    EXPECT_GE(failed + static_cast<int>(!errorText.empty()), 1);

    ScriptServer server([](ScriptServer& s) { s.Send("hi\r\n"); });
    sock.Port = server.Port();
    sock.Connect();
    EXPECT_EQ(sock.ReadLn(), "hi\r\n");
    EXPECT_THROW(sock.Connect(), ESockError);  // "Already connected"
}

TEST(SockLayer, HostNamesResolveAndProxyWins) {
    testnet::FakeResolver names{{"proxy.test", "127.0.0.1"}};
    ScriptServer server([](ScriptServer& s) { s.Send("x\r\n"); }, 2);
    TBlockingSocket sock;
    int resolved = 0;
    sock.OnHostResolved = [&](TBlockingSocket*) { ++resolved; };
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    sock.Connect();
    EXPECT_EQ(resolved, 0);  // a numeric address needs no lookup
    EXPECT_EQ(sock.ReadLn(), "x\r\n");
    sock.Disconnect();

    sock.Host = "no-such-host.test";
    sock.Port = 1;
    sock.Proxy = "proxy.test";
    sock.ProxyPort = server.Port();
    sock.Connect();
    EXPECT_EQ(resolved, 1);
    EXPECT_EQ(sock.RemoteAddress(), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(sock.ReadLn(), "x\r\n");
}

TEST(SockLayer, InvalidHostGetsOneRetry) {
    testnet::FakeResolver names;
    TBlockingSocket sock;
    sock.Host = "no-such-host.test";
    sock.Port = 21;
    int calls = 0;
    sock.OnInvalidHost = [&](bool& handled) {
        ++calls;
        handled = true;
    };
    try {
        sock.Connect();
        FAIL();
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "Null Remote Address");
    }
    EXPECT_EQ(calls, 1);
}

TEST(SockLayer, DisconnectGivesAFreshSocketWithDefaultClose) {
    ScriptServer server([](ScriptServer& s) { s.DrainUntilClosed(); }, 2);
    TBlockingSocket sock;
    int disconnects = 0;
    sock.OnDisconnect = [&](TBlockingSocket*) { ++disconnects; };
    EXPECT_TRUE(ZeroLinger(sock.SocketHandle()));
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    sock.Connect();
    sock.Disconnect();
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(sock.Connected());
    EXPECT_GE(sock.SocketHandle(), 0);
    EXPECT_FALSE(ZeroLinger(sock.SocketHandle()));
    sock.Disconnect();  // also a never-connected socket's close is reported
    EXPECT_EQ(disconnects, 2);
    sock.Connect();
    EXPECT_TRUE(sock.Connected());
}

TEST(SockLayer, ListenAcceptAndLocalPortText) {
    TBlockingSocket listener;
    listener.Listen(true);
    std::string text = listener.LocalPortString();
    int hi = 0, lo = 0;
    ASSERT_EQ(std::sscanf(text.c_str(), ",%d,%d", &hi, &lo), 2);
    int port = hi * 256 + lo;
    ASSERT_GT(port, 0);
    std::thread peer([port] {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::send(fd, "data\n", 5, 0);
        ::close(fd);
    });
    int fd = listener.Accept();
    listener.AdoptSocket(fd);
    peer.join();
    EXPECT_TRUE(listener.Connected());
    EXPECT_EQ(listener.ReadLn(), "data\n");
    EXPECT_EQ(listener.LocalAddressString(), "127,0,0,1");
}

TEST(SockLayer, LineLongerThanTheBufferIsARangeError) {
    ScriptServer server([](ScriptServer& s) { s.Send(std::string(70000, 'a') + "\r\n"); });
    auto sock = ConnectTo(server.Port());
    EXPECT_THROW(sock->ReadLn(), ERangeError);
}

TEST(SockLayer, CancelAndTimeOutEndAWaitAndClearTheFlag) {
    ScriptServer server([](ScriptServer& s) {
        s.WaitGo();
        s.Send("late\r\n");
    });
    auto sock = ConnectTo(server.Port());
    QTimer::singleShot(20, [&] { sock->Abort(); });
    try {
        sock->ReadLn();
        FAIL();
    } catch (const EAbortError& e) {
        EXPECT_STREQ(e.what(), "Socket readln aborted");
    }
    EXPECT_FALSE(sock->Canceled());
    EXPECT_FALSE(sock->TimedOut());

    sock->TimeOut = 30;
    EXPECT_THROW(sock->ReadLn(), EAbortError);
    EXPECT_TRUE(sock->TimedOut());
    EXPECT_FALSE(sock->TimerRunning());

    sock->TimeOut = 0;
    server.Go();
    EXPECT_EQ(sock->ReadLn(), "late\r\n");
    EXPECT_FALSE(sock->TimerRunning());
}

TEST(SockLayer, StatusLevelsAndFailingHandlersGoToTheErrorBox) {
    testnet::RecordedBoxes shown;
    std::vector<std::string> seen;
    TBlockingSocket sock;
    sock.OnStatus = [&](TBlockingSocket*, const std::string& s) {
        seen.push_back(s);
        throw std::runtime_error("handler fault");
    };
    sock.ReportLevel = 4;
    sock.Cancel();              // level 8: not reported
    sock.RequestCloseSocket();  // level 4; the failing handler does not end the operation
    EXPECT_EQ(seen, std::vector<std::string>{"Request Close Socket"});
    EXPECT_EQ(sock.Status(), "Request Close Socket");
    sock.ReportLevel = 8;
    EXPECT_EQ(sock.SocketErrorText(10061), "10061:Connection refused");
    EXPECT_EQ(sock.Status(), "Looking Up Error Message");
    EXPECT_EQ(shown.boxes->TextsOf(platform::BoxKind::Error),
              (std::vector<QString>{"handler fault", "handler fault"}));

    // A handler that fails inside a notification is shown as well.
    ScriptServer server([](ScriptServer& s) { s.CloseControl(); });
    auto peer = ConnectTo(server.Port());
    peer->OnDisconnect = [](TBlockingSocket*) { throw std::runtime_error("close handler fault"); };
    ASSERT_TRUE(PumpUntil([&] { return !peer->Connected(); }));
    EXPECT_EQ(shown.boxes->TextsOf(platform::BoxKind::Error).back(), "close handler fault");
}

TEST(SockLayer, DestroyedFromAHandlerInsideItsOwnWait) {
    ScriptServer server([](ScriptServer& s) { s.DrainUntilClosed(); });
    TBlockingSocket* sock = ConnectTo(server.Port()).release();
    QTimer::singleShot(10, [&] { delete sock; });
    EXPECT_THROW(sock->ReadLn(), EAbortError);
}

TEST(SockLayer, PeerCloseEndsAWaitingRead) {
    ScriptServer server([](ScriptServer& s) {
        s.WaitGo();
        s.CloseControl();
    });
    auto sock = ConnectTo(server.Port());
    int disconnects = 0;
    sock->OnDisconnect = [&](TBlockingSocket*) { ++disconnects; };
    QTimer::singleShot(10, [&] { server.Go(); });
    EXPECT_EQ(sock->ReadLn(), "");
    PumpUntil([&] { return disconnects > 0; });
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(sock->Connected());
}

TEST(SockLayer, ReadOfACountWaitsForTheRestWithoutSpinning) {
    ScriptServer server([](ScriptServer& s) {
        s.Send("ab");
        s.WaitGo();
        s.Send("cdefgh");
        s.ReadLine();
    });
    auto sock = ConnectTo(server.Port());
    ASSERT_TRUE(PumpUntil([&] { return sock->DataAvailable(); }));
    // While only part of the count is there, the wait must sleep in the event loop: count
    // the passes a timer sees before the rest arrives.
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (++ticks == 5) server.Go();
    });
    tick.start(10);
    std::clock_t cpu = std::clock();
    EXPECT_EQ(sock->Read(4), "abcd");
    double used = double(std::clock() - cpu) / CLOCKS_PER_SEC;
    EXPECT_GE(ticks, 5);
    EXPECT_LT(used, 0.03) << "the wait spun for " << used << " s of CPU";
    EXPECT_EQ(sock->Read(0), "efgh");
    sock->Writeln("bye");
}
