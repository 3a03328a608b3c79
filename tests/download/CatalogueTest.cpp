// Catalogue lines, Shift-JIS names and the checks on untrusted song names.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <fstream>

#include "download/Catalogue.h"
#include "download/Site.h"
#include "app/InstanceLock.h"

using download::ParseCatalogue;
using download::SongNameProblem;

namespace {
std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}
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
        // The program looks its lists up without regard to case, and the folder may be on a
        // file system that ignores case: every spelling is the same file.
        {"SearchView.MP3", "このソフト"},
        {"searchview.mp3", "このソフト"},
        {"SEARCHVIEW", "このソフト"},
        {"Temp", "このソフト"},
        {"HEADER.TXT", "このソフト"},
        {"chgcmd.txt", "このソフト"},
        // Hidden files: the user's settings in the home folder, the lock, the lists' temporaries.
        {".profile", "「.」で始まって"},
        {".bash_profile", "「.」で始まって"},
        {platform::kInstanceLockName, "「.」で始まって"},
        {".SearchView.MP3.4242.tmp", "「.」で始まって"},
        {"...wav", "「.」で始まって"},
        {".", "親フォルダ"},
        {std::string(252, 'n') + ".wav", "長すぎ"},
        // 200 bytes in Shift-JIS, but 300 in the UTF-8 name the folder gets.
        {Sjis(Repeat("曲", 100)), "長すぎ"},
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
                                    std::string("song 1.mp3"), std::string("a...wav")})
        EXPECT_FALSE(SongNameProblem(name).has_value()) << name;
    // Names that only resemble the program's files, and the longest name a folder takes.
    for (const std::string& name : {std::string("SearchViewer.mp3"), std::string("temp.wav"), std::string("my.temp"),
                                    std::string("header.txt.mp3"), std::string("song."), std::string("a.profile"),
                                    std::string(251, 'n') + ".wav"})
        EXPECT_FALSE(SongNameProblem(name).has_value()) << name;
    EXPECT_EQ(download::LocalName(Sjis("ソナタ.wav")), "ソナタ.wav");
}

TEST(SongNames, StatusShowsTheNameEscapedAndShort) {
    EXPECT_EQ(download::ShownSongName(".profile"), ".profile");
    EXPECT_EQ(download::ShownSongName(Sjis("曲.wav")), "曲.wav");
    // A name that carries a second command or a control character shows what it holds.
    EXPECT_EQ(download::ShownSongName("x.wav\nDELE y"), "x.wav\\x0ADELE y");
    EXPECT_EQ(download::ShownSongName("a\x1b.wav"), "a\\x1B.wav");
    // Bytes that are no Shift-JIS show as the replacement character, not as raw bytes.
    EXPECT_EQ(download::ShownSongName("ab\x81"), "ab\uFFFD");
    const std::string shown = download::ShownSongName(std::string(5000, 'n'));
    EXPECT_EQ(shown, std::string(80, 'n') + "\u2026");
}

namespace {

// Characters of UTF-8 text.
size_t Chars(const std::string& utf8) {
    return static_cast<size_t>(
        std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

TEST(CatalogueLines, ShownWholeUpToTheLimitAndCutPastIt) {
    const std::string exact(download::kShownLineChars, 'x');
    EXPECT_EQ(download::CutForShowing(exact), exact);
    EXPECT_EQ(download::CutForShowing(exact + "y"), exact + "\u2026");
    // Counted in characters, never splitting one: 1,000 kanji of 3 bytes each stay whole.
    std::string kanji;
    for (size_t i = 0; i < download::kShownLineChars; ++i) kanji += "曲";
    EXPECT_EQ(download::CutForShowing(kanji), kanji);
    EXPECT_EQ(download::CutForShowing(kanji + "曲曲"), kanji + "\u2026");
    EXPECT_EQ(download::CutForShowing("", 0), "");
    EXPECT_EQ(download::CutForShowing("ab", 0), "\u2026");
}

TEST(CatalogueLines, LongLinesAreCutAndTheSongsAfterThemStayInPlace) {
    // A message and a display line of megabytes, in Shift-JIS, with no break opportunity.
    std::string wide;
    for (int i = 0; i < 2000; ++i) wide += Sjis("ー");
    const std::string message = std::string(4'000'000, 'm');
    const std::string display = wide + std::string(4'000'000, 'd');
    const std::string name = std::string(1'000'000, 'n') + ".wav";
    const std::string text = message + "\r\n" + "a.wav\r\n" + display + "\r\n" + name + "\r\nlong name\r\n" +
                             "b.wav\r\n" + Sjis("曲 B") + "\r\n";
    for (size_t piece : {text.size(), size_t(65536), size_t(4093)}) {
        download::CatalogueReader reader(51);
        for (size_t at = 0; at < text.size(); at += piece) reader.Feed(text.data() + at, std::min(piece, text.size() - at));
        const download::Catalogue c = reader.Finish();
        EXPECT_EQ(c.message, std::string(download::kShownLineChars, 'm') + "\u2026");
        ASSERT_EQ(c.songs.size(), 3u);
        EXPECT_EQ(c.songs[0].file, "a.wav");
        EXPECT_EQ(Chars(c.songs[0].display), download::kShownLineChars + 1);
        EXPECT_EQ(c.songs[0].display.rfind("ーー", 0), 0u);
        // The long name is kept only in part: never a name to fetch.
        EXPECT_LE(c.songs[1].file.size(), download::kCatalogueLineKeep);
        auto why = SongNameProblem(c.songs[1].file);
        ASSERT_TRUE(why.has_value());
        EXPECT_NE(why->find("長すぎ"), std::string::npos) << *why;
        EXPECT_EQ(c.songs[1].display, "long name");
        EXPECT_EQ(c.songs[2].file, "b.wav");
        EXPECT_EQ(c.songs[2].display, "曲 B");
    }
    // The same catalogue with short lines is shown as it stands.
    const auto plain = download::ParseCatalogueText(Sjis("館長より") + "\r\na.wav\r\n" + Sjis("曲 A") + "\r\n", 51);
    EXPECT_EQ(plain.message, "館長より");
    ASSERT_EQ(plain.songs.size(), 1u);
    EXPECT_EQ(plain.songs[0].display, "曲 A");
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
