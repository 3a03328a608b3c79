// A download whose local file refuses the data (a full disk, a pipe whose reader went away):
// the failure is reported as a file error, the server is told to stop with ABOR, and the
// control connection is usable afterwards, or closed so that Connected says it is not.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "FileSizeLimit.h"
#include "FtpHelpers.h"
#include "platform/Exceptions.h"

using namespace testnet;

namespace {

enum class OnAbor { Answer, AnswerLate, Ignore, Close };

struct Case {
    const char* name;
    OnAbor server;
    bool connectedAfter;
};

class LocalFailure : public NetTest, public testing::WithParamInterface<Case> {};

// The server side of one song that the client cannot keep, up to the ABOR, and what the
// server then does.
void ServeSongThatFails(ScriptServer& s, OnAbor onAbor, std::size_t size) {
    Login(s);
    s.Expect("TYPE I", "200 ok\r\n");
    PassiveRetr(s, "song", "150 Opening (" + std::to_string(size) + " bytes).\r\n");
    try {
        s.SendData(Payload(size));
    } catch (const std::exception&) {
        // The client dropped the data connection: that is the point.
    }
    s.CloseData();
    const std::string abor = s.ReadLine();
    if (abor != "ABOR") throw std::runtime_error("expected ABOR, got '" + abor + "'");
    switch (onAbor) {
        case OnAbor::Answer:
            s.Send("426 Transfer aborted.\r\n226 ABOR successful.\r\n");
            break;
        case OnAbor::AnswerLate:
            s.Send("426 Transfer aborted.\r\n");
            ScriptServer::Pause(300);
            s.Send("226 ABOR successful.\r\n");
            break;
        case OnAbor::Ignore:
            s.DrainUntilClosed();
            return;
        case OnAbor::Close:
            s.CloseControl();
            return;
    }
    s.Expect("TYPE A", "200 ok\r\n");
    s.Expect("QUIT", "221 bye\r\n");
}

}  // namespace

TEST_P(LocalFailure, FullDiskSendsAborAndLeavesTheConnectionTruthful) {
    const Case k = GetParam();
    ScriptServer server([&](ScriptServer& s) { ServeSongThatFails(s, k.server, 3 << 20); });
    Client c(server.Port());
    c.ftp.Passive = true;
    c.ftp.TimeOut = 8000;  // a regression fails instead of hanging
    bool failed = false;
    c.ftp.OnFailure = [&](bool&, TCmdType t) { failed = t == TCmdType::TransRetr; };
    c.ftp.Connect();
    c.ftp.SetTransferType(2);
    {
        FileSizeLimit full(100000);
        try {
            c.ftp.Download("song", Temp("song"));
            ADD_FAILURE() << "the download succeeded";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.Code(), 101);
            EXPECT_STREQ(e.what(), "ディスクがいっぱいです");
        }
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(c.ftp.Connected(), k.connectedAfter);
    if (k.connectedAfter) {
        EXPECT_NO_THROW(c.ftp.SetTransferType(1));
        EXPECT_EQ(c.ftp.ReplyNumber(), 200);
        c.ftp.Disconnect();
    } else {
        // Not connected means not connected: the next command says so at once.
        EXPECT_THROW(c.ftp.SetTransferType(1), std::exception);
    }
    EXPECT_TRUE(PumpUntil([&] { return server.Finished(); }, 15000));
    EXPECT_EQ(server.Error(), "");
    auto commands = server.Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "ABOR"), commands.end());
}

INSTANTIATE_TEST_SUITE_P(Servers, LocalFailure,
                         testing::Values(Case{"answers", OnAbor::Answer, true},
                                         Case{"answers_in_two_steps", OnAbor::AnswerLate, true},
                                         Case{"ignores_abor", OnAbor::Ignore, false},
                                         Case{"closes_on_abor", OnAbor::Close, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The target is a pipe whose reader leaves in the middle of the song, or that nobody reads
// (whose open must not hold the program): the download fails as a file error, the process goes
// on, and the connection stays usable.
TEST_F(NetTest, PipeAsTargetFailsTheDownloadOnly) {
    for (bool reader : {true, false}) {
        SCOPED_TRACE(reader ? "reader leaves" : "no reader");
        const std::string fifo = Temp(reader ? "fifo1" : "fifo2");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
        // Opened for reading and writing so that this open does not wait; closed after 100 KB.
        const int fd = reader ? ::open(fifo.c_str(), O_RDWR | O_CLOEXEC) : -1;
        std::thread leaver([fd] {
            std::vector<char> buf(16384);
            for (std::size_t got = 0; fd >= 0 && got < 100000;) {
                ssize_t n = ::read(fd, buf.data(), buf.size());
                if (n <= 0) break;
                got += static_cast<std::size_t>(n);
            }
            if (fd >= 0) ::close(fd);
        });
        ScriptServer server([&](ScriptServer& s) { ServeSongThatFails(s, OnAbor::Answer, 4 << 20); });
        Client c(server.Port());
        c.ftp.Passive = true;
        c.ftp.TimeOut = 8000;
        c.ftp.Connect();
        c.ftp.SetTransferType(2);
        EXPECT_THROW(c.ftp.Download("song", fifo), EInOutError);
        leaver.join();
        EXPECT_NO_THROW(c.ftp.SetTransferType(1));
        c.ftp.Disconnect();
        EXPECT_TRUE(PumpUntil([&] { return server.Finished(); }, 15000));
        EXPECT_EQ(server.Error(), "");
    }
}
