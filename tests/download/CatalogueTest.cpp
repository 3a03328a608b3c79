// Catalogue lines, Shift-JIS names and the checks on untrusted song names.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "download/Catalogue.h"
#include "download/Site.h"

using download::ParseCatalogue;
using download::SongNameProblem;

namespace {
std::string Sjis(const std::string& utf8) {
    std::string out;
    EXPECT_TRUE(download::EncodeSjis(utf8, out));
    return out;
}
}  // namespace

TEST(CatalogueParse, PairsAndTheirEdges) {
    // Message and one pair.
    auto one = ParseCatalogue({Sjis("館長より"), "a.wav", Sjis("曲 A")}, 51);
    EXPECT_EQ(one.message, "館長より");
    ASSERT_EQ(one.songs.size(), 1u);
    EXPECT_EQ(one.songs[0].file, "a.wav");
    EXPECT_EQ(one.songs[0].display, "曲 A");

    // Only the message: one song whose fields are both empty.
    auto bare = ParseCatalogue({"msg"}, 51);
    ASSERT_EQ(bare.songs.size(), 1u);
    EXPECT_EQ(bare.songs[0].file, "");
    EXPECT_EQ(bare.songs[0].display, "");

    // An empty last line gives one more, empty song; a name without its line keeps the name.
    auto trailing = ParseCatalogue({"msg", "a.wav", "A", ""}, 51);
    ASSERT_EQ(trailing.songs.size(), 2u);
    EXPECT_EQ(trailing.songs[1].file, "");
    auto odd = ParseCatalogue({"msg", "a.wav", "A", "b.wav"}, 51);
    ASSERT_EQ(odd.songs.size(), 2u);
    EXPECT_EQ(odd.songs[1].file, "b.wav");
    EXPECT_EQ(odd.songs[1].display, "");
}

TEST(CatalogueParse, SongsBeyondTheTableAreCountedNotKept) {
    std::vector<std::string> lines = {"msg"};
    for (int i = 0; i < 60; ++i) {
        lines.push_back("s" + std::to_string(i) + ".wav");
        lines.push_back("line " + std::to_string(i));
    }
    auto c = ParseCatalogue(lines, 51);
    EXPECT_EQ(c.songs.size(), 51u);
    EXPECT_EQ(c.dropped, 9);
    EXPECT_EQ(c.songs.back().file, "s50.wav");
}

TEST(CatalogueParse, FileReadKeepsTheTableAndCountsTheRest) {
    QTemporaryDir tmp;
    const std::string path = tmp.path().toStdString() + "/header.txt";
    auto write = [&](const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    };
    // 51 songs fill the table; 3 full pairs and a lone name lie beyond it.
    std::string text = "msg\r\n";
    for (int i = 0; i < 55; ++i) text += "s" + std::to_string(i) + ".wav\r\nline\r\n";
    text += "last.wav\r\n";
    write(text);
    auto c = download::ReadCatalogue(path, 51);
    ASSERT_EQ(c.songs.size(), 51u);
    EXPECT_EQ(c.songs.back().file, "s50.wav");
    EXPECT_EQ(c.dropped, 5);
    // A file of countless empty lines: the table is filled, the rest only counted.
    write("msg\r\n" + std::string(200000, '\r'));
    c = download::ReadCatalogue(path, 51);
    EXPECT_EQ(c.songs.size(), 51u);
    EXPECT_EQ(c.dropped, 100000 - 51);
    // Within the table it reads as the lines do.
    write("msg\r\na.wav\r\nA\r\n");
    c = download::ReadCatalogue(path, 51);
    ASSERT_EQ(c.songs.size(), 1u);
    EXPECT_EQ(c.songs[0].display, "A");
}

TEST(CatalogueParse, ShiftJisDecodingMarksBadBytes) {
    bool ok = false;
    EXPECT_EQ(download::DecodeSjis(Sjis("ソナタ"), &ok), "ソナタ");
    EXPECT_TRUE(ok);
    // A lead byte at the end and an unassigned byte are both replaced, never dropped.
    std::string decoded = download::DecodeSjis(std::string("ab\x81"), &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(decoded, "ab\xEF\xBF\xBD");
}

TEST(SongNames, HostileNamesAreRefusedWithAReason) {
    struct Case {
        std::string name;
        const char* reasonPart;
    };
    const std::vector<Case> cases = {
        {"../up.wav", "パス区切り"},
        {"/etc/passwd", "パス区切り"},
        {"\\\\server\\share.wav", "パス区切り"},
        {"sub/song.wav", "パス区切り"},
        {"..", "親フォルダ"},
        {".", "親フォルダ"},
        {"C:song.wav", "ドライブ"},
        {"song.wav\nDELE header.txt", "改行"},
        {"song.wav\rQUIT", "改行"},
        {std::string("so\0ng.wav", 9), "制御文字"},
        {"so\x1bng.wav", "制御文字"},
        {"so\x7fng.wav", "制御文字"},
        {"", "ファイル名がありません"},
        {"ab\x81", "文字コード"},
        {"SearchView.dwn", "このソフト"},
        {"temp", "このソフト"},
        {"header.txt", "このソフト"},
    };
    for (const auto& c : cases) {
        auto why = SongNameProblem(c.name);
        ASSERT_TRUE(why.has_value()) << c.name;
        EXPECT_NE(why->find(c.reasonPart), std::string::npos) << c.name << ": " << *why;
    }
}

TEST(SongNames, OrdinaryNamesPassIncludingShiftJisTrailBytes) {
    // "ソ" and "表" end in the byte of a backslash; they are not separators.
    for (const std::string& name : {Sjis("ソナタ.wav"), Sjis("表題.mp3"), std::string("a..b.wav"),
                                    std::string("song 1.mp3"), std::string("...wav")})
        EXPECT_FALSE(SongNameProblem(name).has_value()) << name;
    EXPECT_EQ(download::LocalName(Sjis("ソナタ.wav")), "ソナタ.wav");
}

TEST(SiteAddress, EnvironmentFormat) {
    download::SiteAddress a{"x", 1};
    EXPECT_TRUE(download::ParseSite("127.0.0.1:2121", a));
    EXPECT_EQ(a.host, "127.0.0.1");
    EXPECT_EQ(a.port, 2121);
    for (const char* bad : {"127.0.0.1", ":21", "host:", "host:0", "host:65536", "host:2x1", "ho st:21"})
        EXPECT_FALSE(download::ParseSite(bad, a)) << bad;
    setenv("TESSALY_SITE", "nonsense", 1);
    EXPECT_EQ(download::CurrentSite().host, download::kSiteHost);
    EXPECT_EQ(download::CurrentSite().port, 21);
    unsetenv("TESSALY_SITE");
}
