// The FTP client against a scripted server: log-in variants, replies, command judging,
// downloads in both modes with their event order, failures, abort and late replies.
#include <gtest/gtest.h>

#include <QDir>
#include <QTimer>

#include "FtpHelpers.h"

using testnet::PumpUntil;
using testnet::ScriptServer;

using testnet::Client;
using testnet::Login;
using testnet::NetTest;
using testnet::Payload;
using testnet::PortPair;
using testnet::ReadFile;

class FtpLogin : public NetTest {};
class FtpCommands : public NetTest {};
class FtpDownload : public NetTest {};

TEST_F(FtpLogin, MultiLineGreetingAndRepliesAreConsumedWhole) {
    ScriptServer server([](ScriptServer& s) {
        s.Send("220-Welcome\r\nThis line has no code\r\n220-more\r\n");
        s.Send("220 ready\r\n");
        s.Expect("USER u", "331 pass\r\n");
        // A multi-line reply split over packets, the last line sharing a packet.
        s.Expect("PASS p", "230-Welcome\r\n  to the ");
        s.Send("site\r\n230 logged in\r\n");
        s.Expect("PWD", "257 \"/\"\r\n");
        s.DrainUntilClosed();
    });
    Client c(server.Port());
    c.ftp.Connect();
    EXPECT_TRUE(c.ftp.Connected());
    EXPECT_TRUE(c.Has("connect"));
    EXPECT_TRUE(c.Has("status 220 ready\r\n"));
    EXPECT_TRUE(c.Has("status PASS "));  // the password itself is never reported
    EXPECT_TRUE(c.Has("status 230 logged in\r\n"));
    for (const auto& e : c.log) EXPECT_EQ(e.find("PASS p"), std::string::npos);
    c.ftp.SendCommand("PWD");
    EXPECT_EQ(c.ftp.LastReply(), "257 \"/\"\r\n");
    EXPECT_EQ(c.ftp.ReplyNumber(), 257);
    EXPECT_TRUE(c.Has("success 15"));
    c.ftp.Connect();  // already connected: nothing happens
}

TEST_F(FtpLogin, UserAcceptedWithoutPassword) {
    ScriptServer server([](ScriptServer& s) {
        s.Send("220 ready\r\n");
        s.Expect("USER u", "230 no password needed\r\n");
        s.Expect("QUIT", "221 bye\r\n");
    });
    Client c(server.Port());
    c.ftp.Connect();
    EXPECT_TRUE(c.Has("connect"));
    c.ftp.Disconnect();
    EXPECT_FALSE(c.ftp.Connected());
    ASSERT_TRUE(PumpUntil([&] { return server.Finished(); }));
    EXPECT_EQ(server.Error(), "");
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER u", "QUIT"}));
}

TEST_F(FtpLogin, RejectedPasswordQuitsAndRaises) {
    ScriptServer server([](ScriptServer& s) {
        s.Send("220 ready\r\n");
        s.Expect("USER u", "331 pass\r\n");
        s.Expect("PASS p", "530 Login incorrect.\r\n");
        s.Expect("QUIT", "221 bye\r\n");
        s.DrainUntilClosed();
    });
    Client c(server.Port());
    int disconnects = 0;
    c.ftp.OnDisconnect = [&](TBlockingSocket*) { ++disconnects; };
    try {
        c.ftp.Connect();
        FAIL();
    } catch (const FTPException& e) {
        EXPECT_STREQ(e.what(), "530 Login incorrect.\r\n");
    }
    EXPECT_TRUE(c.Has("connection failed"));
    EXPECT_EQ(c.log.back(), "status Disconnected");
    EXPECT_FALSE(c.ftp.Connected());
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(c.Has("connect"));
}

TEST_F(FtpLogin, GreetingIsJudged) {
    ScriptServer refused([](ScriptServer& s) { s.Send("421 Too many users\r\n"); });
    ScriptServer silent([](ScriptServer& s) { s.CloseControl(); });
    ScriptServer delayed([](ScriptServer& s) {
        s.Send("120 ready in 1 minute\r\n220 ready\r\n");
        s.Expect("USER u", "230 ok\r\n");
        s.DrainUntilClosed();
    });
    Client c(refused.Port());
    try {
        c.ftp.Connect();
        FAIL();
    } catch (const FTPException& e) {
        EXPECT_STREQ(e.what(), "421 Too many users\r\n");
    }
    EXPECT_FALSE(c.ftp.Connected());

    c.ftp.Port = silent.Port();
    EXPECT_THROW(c.ftp.Connect(), FTPException);
    EXPECT_FALSE(c.ftp.Connected());

    c.ftp.Port = delayed.Port();
    c.ftp.Connect();
    EXPECT_TRUE(c.ftp.Connected());
}

TEST_F(FtpLogin, ProxyLoginLine) {
    ScriptServer server([](ScriptServer& s) {
        s.Send("220 proxy\r\n");
        s.Expect("USER u@ftp.example", "331 pass\r\n");
        s.Expect("PASS p", "230 ok\r\n");
        s.DrainUntilClosed();
    });
    Client c(0);
    c.ftp.Host = "ftp.example";
    c.ftp.Proxy = "127.0.0.1";
    c.ftp.ProxyPort = server.Port();
    c.ftp.Connect();
    EXPECT_TRUE(c.Has("connect"));
}

// The firewall log-in and the proxy log-in lines, each with its failure twin. A firewall's
// USER and PASS are judged like the user's own; the proxy line (USER with "@", OPEN, SITE) is
// not: the user's log-in that follows decides.
TEST_F(FtpLogin, FirewallAndProxyVariants) {
    using Steps = std::vector<std::pair<std::string, std::string>>;  // command, reply
    struct Row {
        const char* name;
        bool firewallLogin;
        bool viaProxy;
        TFirewallType type;
        Steps steps;
        const char* failure;  // the exception's text; nullptr: logged in
    };
    const Row rows[] = {
        {"firewall user and password", true, false, TFirewallType::FTUser,
         {{"USER fw", "331 fw pass\r\n"}, {"PASS fwp", "230 fw ok\r\n"}, {"USER u", "331 pass\r\n"},
          {"PASS p", "230 ok\r\n"}},
         nullptr},
        {"firewall without password", true, false, TFirewallType::FTUser,
         {{"USER fw", "230 fw ok\r\n"}, {"USER u", "331 pass\r\n"}, {"PASS p", "230 ok\r\n"}}, nullptr},
        {"firewall refuses the user", true, false, TFirewallType::FTUser,
         {{"USER fw", "530 not you\r\n"}}, "530 not you\r\n"},
        {"firewall refuses the password", true, false, TFirewallType::FTUser,
         {{"USER fw", "331 fw pass\r\n"}, {"PASS fwp", "530 wrong\r\n"}}, "530 wrong\r\n"},
        {"open", false, true, TFirewallType::FtOpen,
         {{"OPEN ftp.example", "220 connected\r\n"}, {"USER u", "331 pass\r\n"}, {"PASS p", "230 ok\r\n"}},
         nullptr},
        {"open refused, not judged", false, true, TFirewallType::FtOpen,
         {{"OPEN ftp.example", "500 what\r\n"}, {"USER u", "230 ok\r\n"}}, nullptr},
        {"site", false, true, TFirewallType::FtSite,
         {{"SITE ftp.example", "200 connected\r\n"}, {"USER u", "331 pass\r\n"}, {"PASS p", "230 ok\r\n"}},
         nullptr},
        {"site, then the user is refused", false, true, TFirewallType::FtSite,
         {{"SITE ftp.example", "200 connected\r\n"}, {"USER u", "530 no\r\n"}}, "530 no\r\n"},
        {"firewall, then open", true, true, TFirewallType::FtOpen,
         {{"USER fw", "331 fw pass\r\n"}, {"PASS fwp", "230 fw ok\r\n"}, {"OPEN ftp.example", "220 hi\r\n"},
          {"USER u", "331 pass\r\n"}, {"PASS p", "230 ok\r\n"}},
         nullptr},
        {"firewall, then user at host", true, true, TFirewallType::FTUser,
         {{"USER fw", "331 fw pass\r\n"}, {"PASS fwp", "230 fw ok\r\n"}, {"USER u@ftp.example", "331 pass\r\n"},
          {"PASS p", "230 ok\r\n"}},
         nullptr},
        {"firewall refused before the proxy line", true, true, TFirewallType::FtSite,
         {{"USER fw", "421 closing\r\n"}}, "421 closing\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Every end of a log-in says QUIT, unless the server has said that it is closing.
        const bool quits = !row.failure || std::string(row.failure).rfind("421", 0) != 0;
        ScriptServer server([steps = row.steps, quits](ScriptServer& s) {
            s.Send("220 ready\r\n");
            for (const auto& [command, reply] : steps) s.Expect(command, reply);
            if (quits) s.Expect("QUIT", "221 bye\r\n");
            s.DrainUntilClosed();
        });
        Client c(server.Port());
        c.ftp.FWAuthenticate = row.firewallLogin;
        c.ftp.FWUserID = "fw";
        c.ftp.FWPassword = "fwp";
        c.ftp.FirewallType = row.type;
        if (row.viaProxy) {
            c.ftp.Host = "ftp.example";  // never looked up: the proxy is reached
            c.ftp.Proxy = "127.0.0.1";
            c.ftp.ProxyPort = server.Port();
        }
        std::string failure;
        try {
            c.ftp.Connect();
        } catch (const FTPException& e) {
            failure = e.what();
        }
        if (row.failure) {
            EXPECT_EQ(failure, row.failure);
            EXPECT_FALSE(c.ftp.Connected());
            EXPECT_TRUE(c.Has("connection failed"));
            EXPECT_FALSE(c.Has("connect"));
        } else {
            EXPECT_EQ(failure, "");
            EXPECT_TRUE(c.ftp.Connected());
            EXPECT_TRUE(c.Has("connect"));
            EXPECT_FALSE(c.Has("connection failed"));
            c.ftp.Disconnect();
        }
        ASSERT_TRUE(PumpUntil([&] { return server.Finished(); }));
        EXPECT_EQ(server.Error(), "");
        std::vector<std::string> sent;
        int passwords = 0;
        for (const auto& step : row.steps) {
            sent.push_back(step.first);
            passwords += step.first.rfind("PASS ", 0) == 0;
        }
        if (quits) sent.push_back("QUIT");
        EXPECT_EQ(server.Commands(), sent);
        // Passwords are reported as "PASS " alone, the firewall's as well.
        EXPECT_EQ(c.Count("status PASS "), passwords);
        for (const auto& e : c.log) EXPECT_EQ(e.find("fwp"), std::string::npos) << e;
    }
}

TEST_F(FtpCommands, LineBreaksAreRefusedBeforeSending) {
    ScriptServer server([](ScriptServer& s) {
        Login(s);
        s.Expect("NOOP", "200 ok\r\n");
        s.Expect("QUIT", "221 bye\r\n");
    });
    Client c(server.Port());
    c.ftp.UserID = "u\r\nDELE x";
    EXPECT_THROW(c.ftp.Connect(), ESockError);
    EXPECT_FALSE(c.ftp.Connected());
    c.ftp.UserID = "u";
    c.ftp.Connect();
    EXPECT_THROW(c.ftp.SendCommand("NOOP\r\nDELE x"), ESockError);
    EXPECT_THROW(c.ftp.SendCommand(std::string("NOOP\0x", 6)), ESockError);
    EXPECT_THROW(c.ftp.Download("a\nDELE b", Temp("x")), ESockError);
    c.ftp.SendCommand("NOOP");
    c.ftp.Disconnect();
    ASSERT_TRUE(PumpUntil([&] { return server.Finished(); }));
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER u", "PASS p", "NOOP", "QUIT"}));
}

TEST_F(FtpCommands, RepliesAreJudgedWithTheirKind) {
    ScriptServer server([](ScriptServer& s) {
        Login(s);
        s.Expect("CWD x", "550 No such directory.\r\n");
        s.Expect("XYZ", "502 Not implemented.\r\n");
        s.Expect("cwd y", "550 nope\r\n");
        s.Expect("MKD z", "257 made\r\n");
        s.Expect("TYPE I", "200 binary\r\n");
        s.Expect("NOOP", "40000 huge\r\n");
        s.Expect("NOOP", std::string(70000, 'a') + "\r\n");
        s.DrainUntilClosed();
    });
    Client c(server.Port());
    c.ftp.Connect();
    std::vector<std::string> events;
    c.ftp.OnFailure = [&](bool& handled, TCmdType t) {
        events.push_back("failure " + std::to_string(int(t)));
        handled = t == TCmdType::TransCwd;
    };
    c.ftp.OnUnSupportedFunction = [&](TCmdType t) { events.push_back("unsupported " + std::to_string(int(t))); };
    c.ftp.OnSuccess = [&](TCmdType t) { events.push_back("success " + std::to_string(int(t))); };
    c.ftp.SendCommand("CWD x");  // handled: no exception
    try {
        c.ftp.SendCommand("XYZ");
        FAIL();
    } catch (const FTPException& e) {
        EXPECT_STREQ(e.what(), "502 Not implemented.\r\n");
    }
    EXPECT_THROW(c.ftp.SendCommand("cwd y"), FTPException);  // lower case is another kind
    c.ftp.SendCommand("MKD z");
    c.ftp.SetTransferType(2);
    c.ftp.SetTransferType(7);  // not a type: nothing sent
    EXPECT_EQ(events, (std::vector<std::string>{"failure 0", "unsupported 14", "failure 14", "failure 14",
                                                "success 1", "success 14"}));
    EXPECT_THROW(c.ftp.SendCommand("NOOP"), ERangeError);
    EXPECT_THROW(c.ftp.SendCommand("NOOP"), ERangeError);
}

TEST_F(FtpCommands, NotConnectedGivesOneChance) {
    TFtpClient ftp;
    int asked = 0;
    ftp.OnConnectionRequired = [&](bool& handled) {
        ++asked;
        handled = true;  // but does not connect
    };
    try {
        ftp.SendCommand("NOOP");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Not Connected");
    }
    EXPECT_EQ(asked, 1);
    int failures = 0;
    ftp.OnFailure = [&](bool&, TCmdType t) {
        EXPECT_EQ(t, TCmdType::TransRetr);
        ++failures;
    };
    EXPECT_THROW(ftp.Download("a", Temp("a")), Exception);
    EXPECT_EQ(failures, 1);
}

// --- downloads ---


TEST_F(FtpDownload, PassiveEventOrderAndAnnouncedSize) {
    const std::string payload = Payload(200000);
    ScriptServer server([&](ScriptServer& s) {
        Login(s);
        int port = s.OpenDataListener();
        // The address in the reply is ignored: the data goes to the control host.
        s.Expect("PASV", "227 Entering Passive Mode (192,168,1,2," + PortPair(port) + ").\r\n");
        s.AcceptData();
        s.Expect("RETR song.mp3", "150-Opening BINARY mode\r\n150 for song.mp3 (200000 bytes).\r\n");
        s.SendData(payload);
        s.CloseData();
        s.Send("226-Transfer complete.\r\n226 ok\r\n");
        s.Expect("NOOP", "200 ok\r\n");
        s.DrainUntilClosed();
    });
    Client c(server.Port());
    c.ftp.Passive = true;
    c.ftp.Connect();
    c.log.clear();
    int packets = 0;
    c.ftp.OnPacketRecvd = [&](TBlockingSocket* sender) {
        EXPECT_NE(sender, &c.ftp);
        EXPECT_EQ(c.ftp.BytesTotal(), 200000);
        EXPECT_EQ(c.ftp.BytesRecvd(), sender->BytesRecvd());
        if (packets++ == 0) c.log.push_back("packet");
    };
    c.ftp.Download("song.mp3", Temp("song.mp3"));
    EXPECT_EQ(ReadFile(Temp("song.mp3")), payload);
    EXPECT_EQ(c.ftp.BytesTotal(), 200000);
    EXPECT_EQ(c.ftp.BytesRecvd(), 0);
    EXPECT_FALSE(c.ftp.Downloading());
    std::vector<std::string> events;
    for (const auto& e : c.log)
        if (e.rfind("status", 0) != 0) events.push_back(e);
    EXPECT_EQ(events, (std::vector<std::string>{"start 200000", "packet", "stop", "stop", "success 9"}));
    EXPECT_TRUE(c.Has("status RETR song.mp3"));
    EXPECT_TRUE(c.Has("status Received 200000 Bytes"));
    EXPECT_TRUE(c.Has("status 226 ok\r\n"));
    c.ftp.SendCommand("NOOP");  // the final reply was consumed whole
    EXPECT_EQ(c.ftp.ReplyNumber(), 200);
}

TEST_F(FtpDownload, ActiveModePortTextAndNoAnnouncedSize) {
    const std::string payload = Payload(70000);
    std::string portCommand;
    ScriptServer server([&](ScriptServer& s) {
        Login(s);
        portCommand = s.ReadLine();
        s.Send("200 PORT ok\r\n");
        s.Expect("RETR a.bin", "125 Data connection already open. Transfer starting.\r\n");
        int hi = 0, lo = 0;
        std::sscanf(portCommand.c_str(), "PORT 127,0,0,1,%d,%d", &hi, &lo);
        s.ConnectData(hi * 256 + lo);
        s.SendData(payload);
        s.CloseData();
        s.Send("226 done\r\n");
        s.DrainUntilClosed();
    });
    Client c(server.Port());
    c.ftp.Connect();
    const std::string cwd = QDir::currentPath().toStdString();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(TempRoot())));
    c.ftp.Download("a.bin", "");  // empty local name: the remote name in the current folder
    QDir::setCurrent(QString::fromStdString(cwd));
    ASSERT_EQ(server.Error(), "");
    EXPECT_EQ(portCommand.rfind("PORT 127,0,0,1,", 0), 0u) << portCommand;
    EXPECT_TRUE(c.Has("start 0"));
    EXPECT_EQ(ReadFile(Temp("a.bin")), payload);
    EXPECT_EQ(c.ftp.BytesTotal(), 70000);
}

TEST_F(FtpDownload, RejectedRetrHandledOrTwiceReported) {
    ScriptServer server([&](ScriptServer& s) {
        Login(s);
        for (int i = 0; i < 2; ++i) {
            s.ReadLine();  // PORT
            s.Send("200 ok\r\n");
            // The first refusal has more lines: all are read before the next command.
            s.Expect("RETR missing", i == 0 ? "550-No such file.\r\n550 Sorry.\r\n" : "550 No such file.\r\n");
        }
        s.DrainUntilClosed();
    });
    Client c(server.Port());
    c.ftp.Connect();
    c.log.clear();
    int failures = 0;
    bool handle = true;
    c.ftp.OnFailure = [&](bool& handled, TCmdType t) {
        EXPECT_EQ(t, TCmdType::TransRetr);
        EXPECT_FALSE(c.ftp.Downloading() && failures > 0);
        ++failures;
        handled = handle;
    };
    c.ftp.Download("missing", Temp("missing"));
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(c.ftp.Downloading());
    handle = false;
    failures = 0;
    try {
        c.ftp.Download("missing", Temp("missing"));
        FAIL();
    } catch (const FTPException& e) {
        EXPECT_STREQ(e.what(), "550 No such file.\r\n");
    }
    EXPECT_EQ(failures, 2);
    for (const auto& e : c.log) {
        EXPECT_EQ(e.rfind("start", 0), std::string::npos);
        EXPECT_EQ(e.rfind("success", 0), std::string::npos);
    }
    EXPECT_TRUE(c.ftp.Connected());
}

TEST_F(FtpDownload, MalformedPasvReplyIsAConversionErrorARefusalIsNot) {
    ScriptServer server([&](ScriptServer& s) {
        Login(s);
        s.Expect("PASV", "227 Entering Passive Mode (127,0,0,1)\r\n");
        s.Expect("PASV", "425 Cannot open passive connection.\r\n");
        s.DrainUntilClosed();
    });
    Client c(server.Port());
    c.ftp.Passive = true;
    c.ftp.Connect();
    EXPECT_THROW(c.ftp.Download("a", Temp("a")), EConvertError);
    EXPECT_FALSE(c.ftp.Downloading());
    EXPECT_THROW(c.ftp.Download("a", Temp("a")), FTPException);
}

TEST_F(FtpDownload, AbortKeepsThePartialFileAndTheLateReplyIsDiscarded) {
    const std::string first = Payload(1000);
    ScriptServer server([&](ScriptServer& s) {
        Login(s);
        int port = s.OpenDataListener();
        s.Expect("PASV", "227 =127,0,0,1," + PortPair(port) + "\r\n");
        s.AcceptData();
        s.Expect("RETR big", "150 Opening (99999999 bytes)\r\n");
        s.SendData(first);
        s.WaitDataDropped();
        s.Send("426 Transfer aborted.\r\n");
        s.Expect("NOOP", "200 ok\r\n");
        s.DrainUntilClosed();
    });
    Client c(server.Port());
    c.ftp.Passive = true;
    c.ftp.Connect();
    c.ftp.OnPacketRecvd = [&](TBlockingSocket*) { c.ftp.Abort(); };
    std::vector<int> failures;
    c.ftp.OnFailure = [&](bool&, TCmdType t) { failures.push_back(int(t)); };
    try {
        c.ftp.Download("big", Temp("big"));
        FAIL();
    } catch (const EAbortError& e) {
        EXPECT_STREQ(e.what(), "Socket send aborted");
    }
    EXPECT_EQ(failures, std::vector<int>{9});
    EXPECT_EQ(ReadFile(Temp("big")), first);
    EXPECT_FALSE(c.ftp.Downloading());
    ASSERT_TRUE(PumpUntil([&] { return c.ftp.DataAvailable(); }));
    c.ftp.SendCommand("NOOP");
    EXPECT_EQ(c.ftp.LastReply(), "200 ok\r\n");
}

TEST_F(FtpDownload, DisconnectFromAHandlerEndsTheDownloadCleanly) {
    ScriptServer server([&](ScriptServer& s) {
        Login(s);
        int port = s.OpenDataListener();
        s.Expect("PASV", "227 (127,0,0,1," + PortPair(port) + ")\r\n");
        s.AcceptData();
        s.Expect("RETR big", "150 Opening\r\n");
        s.SendData("some bytes");
        s.WaitDataDropped();
        s.Send("426 Transfer aborted.\r\n");
        s.Expect("QUIT", "221 bye\r\n");
        s.DrainUntilClosed();
    }, 2);
    Client c(server.Port());
    c.ftp.Passive = true;
    c.ftp.Connect();
    c.ftp.OnPacketRecvd = [&](TBlockingSocket*) { c.ftp.Disconnect(); };
    EXPECT_THROW(c.ftp.Download("big", Temp("big2")), EAbortError);
    EXPECT_FALSE(c.ftp.Connected());
    EXPECT_FALSE(c.ftp.Downloading());
    EXPECT_EQ(ReadFile(Temp("big2")), "some bytes");
    c.ftp.OnPacketRecvd = nullptr;
    c.ftp.Connect();  // usable again
    EXPECT_TRUE(c.ftp.Connected());
}

TEST_F(FtpDownload, ClientDestroyedFromAHandlerDuringTheCapture) {
    ScriptServer server([&](ScriptServer& s) {
        Login(s);
        int port = s.OpenDataListener();
        s.Expect("PASV", "227 (127,0,0,1," + PortPair(port) + ")\r\n");
        s.AcceptData();
        s.Expect("RETR big", "150 Opening\r\n");
        s.SendData("some bytes");
        s.DrainUntilClosed();
    });
    auto* ftp = new TFtpClient;
    ftp->Host = "127.0.0.1";
    ftp->Port = server.Port();
    ftp->UserID = "u";
    ftp->Password = "p";
    ftp->Passive = true;
    ftp->Connect();
    ftp->OnPacketRecvd = [&](TBlockingSocket*) { QTimer::singleShot(0, [ftp] { delete ftp; }); };
    EXPECT_THROW(ftp->Download("big", Temp("big3")), EAbortError);
}
