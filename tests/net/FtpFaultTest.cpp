// The FTP client against scripted servers that misbehave on purpose: transfers cut short or
// reset, negative final replies, a control connection that closes, strangers on the active
// data port, waits that must end on Abort or TimeOut, replies that arrive late, and handlers
// that disconnect or destroy the client while it waits.
#include <gtest/gtest.h>

#include <QTimer>

#include <chrono>

#include "FtpHelpers.h"

using namespace testnet;

namespace {

class FtpFaults : public NetTest {};

// Runs `call` and returns the text of what it raised ("" when nothing).
template <class F>
std::string Raised(F call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

const char* const kClosed = "Connection closed by server";

}  // namespace

TEST_F(FtpFaults, FinalReplyShortTransferAndResetAreJudged) {
    struct Case {
        const char* type;
        std::size_t sent;
        bool reset;
        std::string final;
        std::string error;  // empty: a successful download
    };
    const std::vector<Case> cases = {
        {"I", 40000, false, "226 Transfer complete.\r\n", "226 Transfer complete.\r\n"},
        {"I", 100000, false, "426 Transfer aborted.\r\n", "426 Transfer aborted.\r\n"},
        {"I", 100000, false, "451 Local error.\r\n", "451 Local error.\r\n"},
        {"I", 40000, true, "226 Transfer complete.\r\n", "10054:Connection reset by peer"},
        {"I", 100000, false, "226 Transfer complete.\r\n", ""},
        {"A", 40000, false, "226 Transfer complete.\r\n", ""},  // text sizes change on the way
    };
    const std::string payload = Payload(100000);
    ScriptServer server([&](ScriptServer& s) {
        Login(s);
        for (const auto& k : cases) {
            s.Expect(std::string("TYPE ") + k.type, "200 ok\r\n");
            PassiveRetr(s, "song", "150 Opening data connection for song (100000 bytes).\r\n");
            s.SendData(payload.substr(0, k.sent));
            if (k.reset) {
                s.ResetData();
            } else {
                s.CloseData();
            }
            s.Send(k.final);
        }
        s.DrainUntilClosed();
    });
    Client c(server.Port());
    c.ftp.Passive = true;
    c.ftp.TimeOut = 5000;  // a regression fails instead of hanging
    c.ftp.Connect();
    int failures = 0;
    c.ftp.OnFailure = [&](bool&, TCmdType t) {
        EXPECT_EQ(t, TCmdType::TransRetr);
        ++failures;
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.final + " after " + std::to_string(k.sent) + (k.reset ? " and a reset" : ""));
        c.ftp.SetTransferType(k.type[0] == 'I' ? 2 : 1);
        c.log.clear();
        failures = 0;
        EXPECT_EQ(Raised([&] { c.ftp.Download("song", Temp("song")); }), k.error);
        EXPECT_EQ(failures, k.error.empty() ? 0 : 1);
        EXPECT_EQ(c.Has("success 9"), k.error.empty());
        // What arrived stays; a failed download keeps the announced size.
        if (!k.reset) {
            EXPECT_EQ(ReadFile(Temp("song")), payload.substr(0, k.sent));
        }
        EXPECT_EQ(c.ftp.BytesTotal(), k.error.empty() ? static_cast<std::int64_t>(k.sent) : 100000);
        EXPECT_TRUE(c.ftp.Connected());
    }
    EXPECT_EQ(server.Error(), "");
}

TEST_F(FtpFaults, ClosedControlConnectionIsAFailure) {
    ScriptServer afterGreeting([](ScriptServer& s) {
        s.Send("220 ready\r\n");
        s.CloseControl();
    });
    ScriptServer afterUser([](ScriptServer& s) {
        s.Send("220 ready\r\n");
        s.ReadLine();
        s.CloseControl();
    });
    for (ScriptServer* server : {&afterGreeting, &afterUser}) {
        Client c(server->Port());
        EXPECT_THROW(c.ftp.Connect(), ESockError);
        EXPECT_FALSE(c.ftp.Connected());
        EXPECT_EQ(c.Count("disconnect"), 1);
        EXPECT_FALSE(c.Has("connect"));
    }

    ScriptServer onCommand([](ScriptServer& s) {
        Login(s);
        s.ReadLine();
        s.CloseControl();
    });
    {
        Client c(onCommand.Port());
        c.ftp.Connect();
        EXPECT_EQ(Raised([&] { c.ftp.SendCommand("NOOP"); }), kClosed);
        EXPECT_FALSE(c.Has("success 14"));
        EXPECT_FALSE(c.ftp.Connected());
        EXPECT_EQ(c.Count("disconnect"), 1);
    }

    // A server that shuts down says so before it closes: that reaches the caller.
    ScriptServer shutdown([](ScriptServer& s) {
        Login(s);
        s.Send("421 Service not available, closing control connection.\r\n");
    });
    {
        Client c(shutdown.Port());
        c.ftp.Connect();
        ASSERT_TRUE(PumpUntil([&] { return shutdown.Finished(); }));
        EXPECT_EQ(Raised([&] { c.ftp.SendCommand("NOOP"); }),
                  "421 Service not available, closing control connection.\r\n");
        EXPECT_TRUE(c.Has("status 421 Service not available, closing control connection.\r\n"));
        EXPECT_FALSE(c.ftp.Connected());
    }

    // Closed in the middle of a passive transfer, and while the client waits for the server
    // to connect in active mode.
    ScriptServer midTransfer([](ScriptServer& s) {
        Login(s);
        PassiveRetr(s, "song", "150 Opening (100000 bytes).\r\n");
        s.SendData(Payload(40000));
        s.CloseControl();
        s.WaitDataDropped();
    });
    ScriptServer beforeConnecting([](ScriptServer& s) {
        Login(s);
        s.ReadLine();
        s.Send("200 PORT ok\r\n");
        s.Expect("RETR song", "150 Opening (100000 bytes).\r\n");
        s.CloseControl();
    });
    for (ScriptServer* server : {&midTransfer, &beforeConnecting}) {
        Client c(server->Port());
        c.ftp.Passive = server == &midTransfer;
        c.ftp.TimeOut = 5000;
        c.ftp.Connect();
        int failures = 0;
        c.ftp.OnFailure = [&](bool&, TCmdType) { ++failures; };
        EXPECT_EQ(Raised([&] { c.ftp.Download("song", Temp("song")); }), kClosed);
        EXPECT_EQ(failures, 1);
        EXPECT_FALSE(c.Has("success 9"));
        EXPECT_FALSE(c.ftp.Connected());
        EXPECT_EQ(c.Count("disconnect"), 1);
    }
}

TEST_F(FtpFaults, ActiveDataComesOnlyFromTheServer) {
    const std::string payload = Payload(70000);
    bool strangerRefused = false;
    ScriptServer server([&](ScriptServer& s) {
        Login(s);
        // A stranger connects first and sends 23 bytes; the server connects after its 150.
        int port = ScriptServer::PortOf(s.ReadLine());
        int stranger = ScriptServer::ConnectFrom(port, "127.0.0.3");
        ::send(stranger, "23 bytes from elsewhere", 23, MSG_NOSIGNAL);
        s.Send("200 PORT ok\r\n");
        s.Expect("RETR a", "150 Opening (70000 bytes).\r\n");
        s.ConnectData(port);
        s.SendData(payload);
        s.CloseData();
        s.Send("226 done\r\n");
        pollfd p{stranger, POLLIN, 0};
        char byte;
        strangerRefused = ::poll(&p, 1, 5000) == 1 && ::recv(stranger, &byte, 1, 0) <= 0;
        ::close(stranger);
        // The server connects and sends everything before it even answers PORT.
        port = ScriptServer::PortOf(s.ReadLine());
        s.ConnectData(port);
        s.SendData(payload);
        s.CloseData();
        s.Send("200 PORT ok\r\n");
        s.Expect("RETR b", "150 Opening (70000 bytes).\r\n226 done\r\n");
        s.Expect("QUIT", "221 bye\r\n");
    });
    Client c(server.Port());
    c.ftp.TimeOut = 5000;
    c.ftp.Connect();
    c.ftp.Download("a", Temp("a"));
    EXPECT_EQ(ReadFile(Temp("a")), payload);
    c.ftp.Download("b", Temp("b"));
    EXPECT_EQ(ReadFile(Temp("b")), payload);
    EXPECT_EQ(c.Count("success 9"), 2);
    c.ftp.Disconnect();
    ASSERT_TRUE(PumpUntil([&] { return server.Finished(); }));
    EXPECT_EQ(server.Error(), "");
    EXPECT_TRUE(strangerRefused);
}

// Abort or a time-out ends each wait of a download or a command; the reply the server sends
// late is read before the next command, which then gets its own reply.
TEST_F(FtpFaults, AbortAndTimeOutEndEveryWait) {
    enum Stop { ByAbort, ByTimeOut };
    enum Wait { Pasv, Retr, Accept, Command };
    struct Case {
        Wait wait;
        Stop stop;
        const char* late;  // what the server says once the client gave up
    };
    const std::vector<Case> cases = {
        {Pasv, ByAbort, "227 Entering Passive Mode (127,0,0,1,1,1).\r\n"},
        {Retr, ByAbort, "150 Opening.\r\n226 done\r\n"},
        {Retr, ByTimeOut, "150 Opening.\r\n226 done\r\n"},
        {Accept, ByAbort, "425 Can't open data connection.\r\n"},
        {Accept, ByTimeOut, "425 Can't open data connection.\r\n"},
        {Command, ByAbort, "200 late\r\n"},
        {Command, ByTimeOut, "200 late\r\n"},
    };
    ScriptServer server([&](ScriptServer& s) {
        Login(s);
        for (const auto& k : cases) {
            if (k.wait == Pasv) {
                s.Expect("PASV", "");
            } else if (k.wait == Retr) {
                PassiveRetr(s, "song", "");
            } else if (k.wait == Accept) {
                s.ReadLine();
                s.Send("200 PORT ok\r\n");
                s.Expect("RETR song", "150 Opening.\r\n");
            } else {
                s.Expect("NOOP", "");
            }
            s.WaitGo();
            s.CloseData();
            s.Send(k.late);
            s.Expect("NOOP", "200 in step\r\n");
        }
        s.DrainUntilClosed();
    });
    Client c(server.Port());
    c.ftp.Connect();
    int failures = 0;
    c.ftp.OnFailure = [&](bool&, TCmdType) { ++failures; };
    for (const auto& k : cases) {
        SCOPED_TRACE(std::to_string(k.wait) + (k.stop == ByAbort ? " by Abort" : " by TimeOut"));
        c.ftp.Passive = k.wait != Accept;
        c.ftp.TimeOut = k.stop == ByTimeOut ? 100 : 0;
        if (k.stop == ByAbort) QTimer::singleShot(50, [&] { c.ftp.Abort(); });
        c.log.clear();
        failures = 0;
        try {
            if (k.wait == Command) {
                c.ftp.SendCommand("NOOP");
            } else {
                c.ftp.Download("song", Temp("song"));
            }
            ADD_FAILURE() << "the wait did not end";
        } catch (const EAbortError&) {
        }
        EXPECT_EQ(failures, k.wait == Command ? 0 : 1);
        if (k.wait != Accept) {  // else it is the data connection that timed out
            EXPECT_EQ(c.ftp.TimedOut(), k.stop == ByTimeOut);
        }
        EXPECT_FALSE(c.Has("success 9") || c.Has("success 14"));
        EXPECT_FALSE(c.Has("status Received 0 Bytes"));
        EXPECT_FALSE(c.ftp.Downloading());
        server.Go();
        c.ftp.TimeOut = 0;
        c.ftp.SendCommand("NOOP");
        EXPECT_EQ(c.ftp.LastReply(), "200 in step\r\n");
    }
    EXPECT_EQ(server.Error(), "");
}

TEST_F(FtpFaults, DownloadAfterAnAbortedOneIsInStep) {
    const std::string payload = Payload(70000);
    ScriptServer server([&](ScriptServer& s) {
        Login(s);
        for (int round = 0; round < 3; ++round) {
            int port = ScriptServer::PortOf(s.ReadLine());
            s.Send("200 PORT ok\r\n");
            s.Expect("RETR a", "150 Opening.\r\n");
            s.ConnectData(port);
            if (round == 1) {
                s.SendData(payload);
                s.CloseData();
                s.Send("226 Transfer complete.\r\n");
                continue;
            }
            s.SendData(payload.substr(0, 1000));
            s.WaitDataDropped();
            // The first time the transfer's reply comes late; the last time never.
            if (round == 0) s.Send("426 Transfer aborted.\r\n");
        }
        s.DrainUntilClosed();
    });
    Client c(server.Port());
    c.ftp.Connect();
    bool abort = true;
    c.ftp.OnPacketRecvd = [&](TBlockingSocket*) {
        if (abort) c.ftp.Abort();
    };
    EXPECT_THROW(c.ftp.Download("a", Temp("a")), EAbortError);
    abort = false;
    c.ftp.Download("a", Temp("a"));  // PORT is judged by its own reply, not by the 426
    EXPECT_EQ(ReadFile(Temp("a")), payload);
    EXPECT_TRUE(c.Has("success 9"));

    // With no answer in time the connection cannot be trusted: closed, and said so.
    abort = true;
    EXPECT_THROW(c.ftp.Download("a", Temp("a")), EAbortError);
    c.ftp.TimeOut = 200;
    c.log.clear();
    EXPECT_EQ(Raised([&] { c.ftp.SendCommand("NOOP"); }), "Not Connected");
    EXPECT_FALSE(c.ftp.Connected());
    EXPECT_EQ(c.Events(), std::vector<std::string>{"disconnect"});
    EXPECT_TRUE(c.Has("status Disconnected"));
}

TEST_F(FtpFaults, HandlersMayDisconnectOrDestroyTheClient) {
    // A failure handler that disconnects: the exception still carries the failed reply.
    ScriptServer refusing([](ScriptServer& s) {
        Login(s);
        s.ReadLine();
        s.Send("200 PORT ok\r\n");
        s.Expect("RETR missing", "550 No such file.\r\n");
        s.Expect("QUIT", "221 bye\r\n");
    });
    {
        Client c(refusing.Port());
        c.ftp.Connect();
        int failures = 0;
        c.ftp.OnFailure = [&](bool&, TCmdType) {
            ++failures;
            c.ftp.Disconnect();
        };
        EXPECT_EQ(Raised([&] { c.ftp.Download("missing", Temp("missing")); }), "550 No such file.\r\n");
        EXPECT_EQ(failures, 2);
        EXPECT_FALSE(c.ftp.Connected());
    }

    // A status handler and a lookup handler that destroy the client.
    ScriptServer server([](ScriptServer& s) {
        Login(s);
        int port = s.OpenDataListener();
        s.Expect("PASV", "227 (127,0,0,1," + PortPair(port) + ")\r\n");
        s.AcceptData();
        s.DrainUntilClosed();
    });
    auto* ftp = new TFtpClient;
    ftp->Host = "127.0.0.1";
    ftp->Port = server.Port();
    ftp->UserID = "u";
    ftp->Password = "p";
    ftp->Passive = true;
    ftp->ReportLevel = 1;
    ftp->Connect();
    ftp->OnStatus = [&](TBlockingSocket*, const std::string& status) {
        if (status == "RETR song") delete ftp;
    };
    EXPECT_THROW(ftp->Download("song", Temp("song")), EAbortError);

    FakeResolver names{{"ftp.test", "127.0.0.1"}};
    auto* resolving = new TFtpClient;
    resolving->Host = "ftp.test";
    resolving->OnHostResolved = [&](TBlockingSocket*) { delete resolving; };
    EXPECT_THROW(resolving->Connect(), EAbortError);
}

// What a program does from a timer tick while Download waits for the final reply: it may
// disconnect or abort; the download ends, and a disconnect leaves the client disconnected.
TEST_F(FtpFaults, TickDuringTheFinalReplyWait) {
    RecordedBoxes boxes;
    const std::string payload = Payload(70000);
    enum Tick { DisconnectAnswered, DisconnectUnanswered, AbortLate };
    for (Tick tick : {DisconnectAnswered, DisconnectUnanswered, AbortLate}) {
        SCOPED_TRACE(tick);
        ScriptServer server([&](ScriptServer& s) {
            Login(s);
            PassiveRetr(s, "song", "150 Opening (70000 bytes).\r\n");
            s.SendData(payload);
            s.CloseData();
            if (tick == DisconnectAnswered) {
                s.Expect("QUIT", "226 Transfer complete.\r\n221 bye\r\n");
            } else if (tick == DisconnectUnanswered) {
                s.Expect("QUIT", "221 bye\r\n");
            } else {
                s.WaitGo();
                s.Send("226 Transfer complete.\r\n");
                s.Expect("NOOP", "200 ok\r\n");
                s.Expect("QUIT", "221 bye\r\n");
            }
            s.DrainUntilClosed();
        });
        Client c(server.Port());
        c.ftp.Passive = true;
        c.ftp.Connect();
        int stops = 0;
        c.ftp.OnTransactionStop = [&](TBlockingSocket*) {
            if (stops++ > 0) return;
            QTimer::singleShot(0, [&] {
                if (tick == AbortLate) {
                    c.ftp.Abort();
                } else {
                    c.ftp.Disconnect();
                }
            });
        };
        std::string error = Raised([&] { c.ftp.Download("song", Temp("song")); });
        EXPECT_EQ(ReadFile(Temp("song")), payload);
        if (tick == DisconnectAnswered) {
            EXPECT_EQ(error, "");  // the whole file and the 226 had arrived
            EXPECT_TRUE(c.Has("success 9"));
        } else {
            EXPECT_EQ(error, "Socket readln aborted");
            EXPECT_FALSE(c.Has("success 9"));
        }
        if (tick == AbortLate) {
            EXPECT_TRUE(c.ftp.Connected());
            server.Go();
            c.ftp.SendCommand("NOOP");
            EXPECT_EQ(c.ftp.LastReply(), "200 ok\r\n");
        } else {
            EXPECT_FALSE(c.ftp.Connected());
            EXPECT_EQ(c.Count("disconnect"), 1);
        }
        c.ftp.Disconnect();
        ASSERT_TRUE(PumpUntil([&] { return server.Finished(); }));
        EXPECT_EQ(server.Error(), "");
    }
    EXPECT_TRUE(boxes.boxes->shown.empty());
}

TEST_F(FtpFaults, DisconnectFromASilentServerIsBounded) {
    ScriptServer server([](ScriptServer& s) {
        Login(s);
        s.Expect("QUIT", "");
        s.DrainUntilClosed();
    });
    Client c(server.Port());
    c.ftp.Connect();  // TimeOut 0, as the program runs
    auto start = std::chrono::steady_clock::now();
    c.ftp.Disconnect();
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_FALSE(c.ftp.Connected());
    EXPECT_EQ(c.Count("disconnect"), 1);
}

TEST_F(FtpFaults, EmptyLocalNameMustBeAPlainFileName) {
    ScriptServer server([](ScriptServer& s) {
        Login(s);
        s.Expect("NOOP", "200 ok\r\n");
        s.Expect("QUIT", "221 bye\r\n");
    });
    Client c(server.Port());
    c.ftp.Connect();
    // An absolute name points into this test's own folder, so a regression writes nowhere else.
    const std::string absolute = Temp("escape");
    for (const std::string& remote : {std::string("../escape"), absolute, std::string("sub/escape"), std::string("..")}) {
        try {
            c.ftp.Download(remote, "");
            ADD_FAILURE() << remote;
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.Code(), 3) << remote;
        }
    }
    c.ftp.SendCommand("NOOP");  // nothing was sent for the refused names
    c.ftp.Disconnect();
    ASSERT_TRUE(PumpUntil([&] { return server.Finished(); }));
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER u", "PASS p", "NOOP", "QUIT"}));
}
