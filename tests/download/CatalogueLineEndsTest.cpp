// Catalogues whose line ends a server changed on the way list the songs of the original.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "download/Catalogue.h"
#include "net/FtpClient.h"
#include "support/RealServer.h"
#include "support/ScriptServer.h"

namespace {

std::string Sjis(const std::string& utf8) {
    std::string out;
    EXPECT_TRUE(download::EncodeSjis(utf8, out));
    return out;
}

// The catalogue lines of five songs: the message, then name and display line in pairs.
std::vector<std::string> FiveSongs() {
    std::vector<std::string> lines = {Sjis("館長からの一言です")};
    for (int i = 1; i <= 5; ++i) {
        lines.push_back(Sjis("曲" + std::to_string(i) + ".mp3"));
        lines.push_back(Sjis("   曲名 " + std::to_string(i) + "                 作曲者     2001/0" + std::to_string(i)));
    }
    return lines;
}

std::string Joined(const std::vector<std::string>& lines, const std::string& end) {
    std::string s;
    for (const auto& l : lines) s += l + end;
    return s;
}

void ExpectFiveSongs(const download::Catalogue& c) {
    const auto lines = FiveSongs();
    EXPECT_EQ(c.message, download::DecodeSjis(lines[0]));
    ASSERT_EQ(c.songs.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(c.songs[i].file, lines[1 + 2 * i]);
        EXPECT_EQ(c.songs[i].display, download::DecodeSjis(lines[2 + 2 * i]));
    }
}

}  // namespace

TEST(CatalogueLineEnds, EveryFormOfLineEndListsTheSameSongs) {
    const auto lines = FiveSongs();
    struct Form {
        const char* name;
        std::string text;
    };
    const std::vector<Form> forms = {
        {"CR LF", Joined(lines, "\r\n")},
        {"CR CR LF (a text-mode transfer of CR LF)", Joined(lines, "\r\r\n")},
        {"LF alone", Joined(lines, "\n")},
        {"last line without its end", Joined(lines, "\r\r\n").substr(0, Joined(lines, "\r\r\n").size() - 3)},
        {"mixed", Joined({lines.begin(), lines.begin() + 5}, "\n") + Joined({lines.begin() + 5, lines.end()}, "\r\r\n")},
    };
    for (const auto& f : forms) {
        SCOPED_TRACE(f.name);
        ExpectFiveSongs(download::ParseCatalogueText(f.text, 51));
        // Fed a byte at a time, a CR CR LF split across pieces reads the same.
        download::CatalogueReader reader(51);
        for (char c : f.text) reader.Feed(&c, 1);
        ExpectFiveSongs(reader.Finish());
    }
}

// Fetched in text mode from real servers (pyftpdlib turns CR LF into CR CR LF on the way).
class CatalogueFromServer : public testing::TestWithParam<testnet::RealServer::Kind> {};

TEST_P(CatalogueFromServer, TextModeFetchListsTheFiveSongs) {
    testnet::RealServer server(GetParam());
    const std::string served = server.Root() + "/header.txt";
    std::ofstream(served, std::ios::binary) << Joined(FiveSongs(), "\r\n");
    ::chmod(served.c_str(), 0644);
    TFtpClient ftp;
    ftp.Host = "127.0.0.1";
    ftp.Port = server.Port();
    ftp.UserID = "anonymous";
    ftp.Password = "guest@example.com";
    ftp.Passive = true;
    ftp.TimeOut = 20000;  // only so that a broken peer cannot hang the suite
    ftp.Connect();
    ftp.SetTransferType(1);
    testnet::TempFolder tmp;
    ftp.Download("header.txt", tmp.Path("header.txt"));
    ftp.Disconnect();
    ExpectFiveSongs(download::ReadCatalogue(tmp.Path("header.txt"), 51));
}

INSTANTIATE_TEST_SUITE_P(Servers, CatalogueFromServer,
                         testing::Values(testnet::RealServer::Vsftpd, testnet::RealServer::Pyftpdlib),
                         [](const auto& info) {
                             return info.param == testnet::RealServer::Vsftpd ? "vsftpd" : "pyftpdlib";
                         });
