// The same downloads against vsftpd (size announced in its 150 reply, passive 150 only after
// the data connection) and pyftpdlib (no size; 125 when the data connection is open), in
// passive and active mode: the local file must be byte-identical.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "support/RealServer.h"
#include "support/ScriptServer.h"
#include "net/FtpClient.h"

namespace {

struct Case {
    testnet::RealServer::Kind server;
    bool passive;
};

class RealServerDownload : public testing::TestWithParam<Case> {};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

TEST_P(RealServerDownload, FilesArriveByteIdentical) {
    testnet::RealServer server(GetParam().server);
    std::string payload(3 * 1024 * 1024 + 17, '\0');
    std::mt19937 rng(42);
    for (auto& c : payload) c = static_cast<char>(rng());
    std::ofstream(server.Root() + "/song.bin", std::ios::binary) << payload;
    chmod((server.Root() + "/song.bin").c_str(), 0644);

    TFtpClient ftp;
    ftp.Host = "127.0.0.1";
    ftp.Port = server.Port();
    ftp.UserID = "anonymous";
    ftp.Password = "guest@example.com";
    ftp.Passive = GetParam().passive;
    ftp.TimeOut = 20000;  // only so that a broken peer cannot hang the suite
    std::int64_t announced = -1;
    ftp.OnTransactionStart = [&](TBlockingSocket*) { announced = ftp.BytesTotal(); };
    ftp.Connect();
    ftp.SetTransferType(2);
    testnet::TempFolder tmp;
    std::string local = tmp.Path("song.bin");
    ftp.Download("song.bin", local);
    EXPECT_TRUE(ReadFile(local) == payload);
    EXPECT_EQ(ftp.BytesTotal(), static_cast<std::int64_t>(payload.size()));
    if (GetParam().server == testnet::RealServer::Vsftpd)
        EXPECT_EQ(announced, static_cast<std::int64_t>(payload.size()));
    else
        EXPECT_EQ(announced, 0);
    // A missing file is a handled failure; the session goes on.
    bool failed = false;
    ftp.OnFailure = [&](bool& handled, TCmdType) { failed = handled = true; };
    ftp.Download("missing.bin", local + ".missing");
    EXPECT_TRUE(failed);
    ftp.SendCommand("NOOP");
    EXPECT_EQ(ftp.ReplyNumber(), 200);
    ftp.Disconnect();
    EXPECT_FALSE(ftp.Connected());
    std::remove(local.c_str());
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerDownload,
                         testing::Values(Case{testnet::RealServer::Vsftpd, true},
                                         Case{testnet::RealServer::Vsftpd, false},
                                         Case{testnet::RealServer::Pyftpdlib, true},
                                         Case{testnet::RealServer::Pyftpdlib, false}),
                         [](const auto& info) {
                             return std::string(info.param.server == testnet::RealServer::Vsftpd ? "Vsftpd"
                                                                                                 : "Pyftpdlib") +
                                    (info.param.passive ? "Passive" : "Active");
                         });
