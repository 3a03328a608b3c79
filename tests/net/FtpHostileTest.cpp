// The FTP client against servers that talk without end: a reply whose continuation lines
// never stop must not hold the GUI thread, so that a cancel, a close or the bounded wait
// for QUIT still ends it.
#include <gtest/gtest.h>

#include <QTimer>

#include <atomic>
#include <chrono>

#include "FtpHelpers.h"

using namespace testnet;

namespace {

class FtpHostile : public NetTest {};

// Sends continuation lines of `code` until the client goes away (true) or the time is up.
bool Flood(ScriptServer& s, const std::string& code) {
    std::string chunk;
    for (int i = 0; i < 2048; ++i) chunk += code + "-still talking\r\n";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    try {
        while (std::chrono::steady_clock::now() < until) s.Send(chunk);
    } catch (const std::exception&) {
        return true;
    }
    return false;
}

}  // namespace

TEST_F(FtpHostile, EndlessRepliesYieldToAbortAndToTheQuitLimit) {
    // During the log-in: the user's cancel (an Abort from a timer tick) ends it.
    {
        std::atomic<bool> clientLeft{false};
        ScriptServer server([&](ScriptServer& s) {
            s.Send("220 ready\r\n");
            s.ReadLine();
            clientLeft = Flood(s, "230");
        });
        Client c(server.Port());
        c.ftp.ReportLevel = 0;
        QTimer::singleShot(200, [&] { c.ftp.Abort(); });
        EXPECT_THROW(c.ftp.Connect(), EAbortError);
        EXPECT_FALSE(c.ftp.Connected());
        ASSERT_TRUE(PumpUntil([&] { return server.Finished(); }, 15000));
        EXPECT_TRUE(clientLeft) << "the client read the flood to its end instead of leaving";
    }
    // Saying goodbye: the wait for the answer to QUIT is bounded, also against a flood.
    {
        std::atomic<bool> clientLeft{false};
        ScriptServer server([&](ScriptServer& s) {
            Login(s);
            s.ReadLine();
            clientLeft = Flood(s, "221");
        });
        Client c(server.Port());
        c.ftp.Connect();
        c.ftp.ReportLevel = 0;
        c.ftp.Disconnect();
        EXPECT_FALSE(c.ftp.Connected());
        ASSERT_TRUE(PumpUntil([&] { return server.Finished(); }, 15000));
        EXPECT_TRUE(clientLeft) << "the client read the flood to its end instead of leaving";
    }
}
