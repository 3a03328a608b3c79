#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <vector>

#include "FileSizeLimit.h"
#include "Fixtures.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"

namespace {

class FilesTest : public PlatformFixture {
protected:
    std::vector<std::string> Lines(const std::string& bytes) {
        WriteFile(Path("t.txt"), bytes);
        std::vector<std::string> out;
        platform::ReadTextLines(Path("t.txt"), [&](const std::string& l) { out.push_back(l); });
        return out;
    }
};

using V = std::vector<std::string>;

TEST_F(FilesTest, LineRulesOfTheTextReader) {
    EXPECT_EQ(Lines(""), V{""});                        // an empty file is one empty line
    EXPECT_EQ(Lines("a\r\nb\r\n"), (V{"a", "b"}));      // no extra line after the last CR LF
    EXPECT_EQ(Lines("a\r\nb"), (V{"a", "b"}));          // last line without CR LF
    EXPECT_EQ(Lines("a\nb\r\n"), V{"a\nb"});            // a lone LF stays in the line
    EXPECT_EQ(Lines("a\rb\r\n"), (V{"a", "b"}));        // CR alone ends a line
    EXPECT_EQ(Lines("a\r\n\r\nb"), (V{"a", "", "b"}));  // blank lines are kept
    EXPECT_EQ(Lines("a\r\n\x1a" "b\r\n"), V{"a"});      // code 26 ends the data
    EXPECT_EQ(Lines("a\x1a" "b"), V{"a"});
    EXPECT_EQ(Lines("\x1a"), V{""});
    EXPECT_EQ(Lines("a\r\r\nb"), (V{"a", "", "b"}));
}

TEST_F(FilesTest, LinesAcrossReadBlocks) {
    // A CR at the end of one 64 KiB block and its LF at the start of the next make one break.
    const std::string full(4000, 'x');
    std::string bytes;
    for (int i = 0; i < 16; ++i) bytes += full + "\r\n";
    const std::string last(64 * 1024 - 1 - bytes.size(), 'w');
    bytes += last + "\r\n" + "tail\r\n";
    auto lines = Lines(bytes);
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines[15], full);
    EXPECT_EQ(lines[16], last);
    EXPECT_EQ(lines[17], "tail");
    // A line longer than any path, across many blocks, is read past as one line.
    std::string longLine(200000, 'y');
    EXPECT_EQ(Lines(longLine + "\r\nz"), V{"z"});
}

TEST_F(FilesTest, ErrorCodesAndTexts) {
    EXPECT_EQ(platform::IoErrorText(2), "ファイルが見つかりません");
    EXPECT_EQ(platform::IoErrorText(3), "不正なファイル名です");
    EXPECT_EQ(platform::IoErrorText(4), "オープンしたファイルが多すぎます");
    EXPECT_EQ(platform::IoErrorText(5), "ファイルへのアクセスが拒否されました");
    EXPECT_EQ(platform::IoErrorText(101), "ディスクがいっぱいです");
    EXPECT_EQ(platform::IoErrorText(32), "I/O エラー (32)");
    EXPECT_EQ(platform::IoCodeFromErrno(ENOENT), 2);
    EXPECT_EQ(platform::IoCodeFromErrno(ENOTDIR), 3);
    EXPECT_EQ(platform::IoCodeFromErrno(ENAMETOOLONG), 3);
    EXPECT_EQ(platform::IoCodeFromErrno(EMFILE), 4);
    EXPECT_EQ(platform::IoCodeFromErrno(EACCES), 5);
    EXPECT_EQ(platform::IoCodeFromErrno(EPERM), 5);
    EXPECT_EQ(platform::IoCodeFromErrno(EROFS), 5);
    EXPECT_EQ(platform::IoCodeFromErrno(ENOSPC), 101);
    EXPECT_NE(platform::IoCodeFromErrno(EIO), 5);  // must not read as "access denied"
}

TEST_F(FilesTest, FailuresRaiseTheRunTimeError) {
    auto codeOf = [](auto&& f) {
        try {
            f();
        } catch (const EInOutError& e) {
            EXPECT_EQ(std::string(e.what()), platform::IoErrorText(e.Code()));
            return e.Code();
        }
        return 0;
    };
    EXPECT_EQ(codeOf([&] { platform::ReadTextLines(Path("missing"), [](const std::string&) {}); }), 2);
    EXPECT_EQ(codeOf([&] { platform::TextFileWriter w(Path("no/such/dir/f"), platform::TextFileWriter::Mode::Rewrite); }), 2);
    WriteFile(Path("plain"), "x");
    EXPECT_EQ(codeOf([&] { platform::TextFileWriter w(Path("plain/f"), platform::TextFileWriter::Mode::Rewrite); }), 3);
    EXPECT_EQ(codeOf([&] { platform::ReadTextLines(Path(std::string(300, 'n')), [](const std::string&) {}); }), 3);
    // Writing over a folder is refused, also for root.
    ::mkdir(Path("sub").c_str(), 0755);
    EXPECT_EQ(codeOf([&] { platform::TextFileWriter w(Path("sub"), platform::TextFileWriter::Mode::Rewrite); }), 5);
    {
        // Too many open files: lower the limit to the descriptors in use right now.
        rlimit old{};
        ::getrlimit(RLIMIT_NOFILE, &old);
        int probe = ::open("/dev/null", O_RDONLY);
        ::close(probe);
        rlimit tight = old;
        tight.rlim_cur = static_cast<rlim_t>(probe);
        ::setrlimit(RLIMIT_NOFILE, &tight);
        int code = codeOf([&] { platform::ReadTextLines(Path("plain"), [](const std::string&) {}); });
        ::setrlimit(RLIMIT_NOFILE, &old);
        EXPECT_EQ(code, 4);
    }
    // Reading a folder as a text file is refused, also for root.
    EXPECT_EQ(codeOf([&] { platform::ReadTextLines(Path("sub"), [](const std::string&) {}); }), 5);
}

TEST_F(FilesTest, FullDiskIsReportedNotSwallowed) {
    for (auto mode : {platform::TextFileWriter::Mode::Rewrite, platform::TextFileWriter::Mode::Append}) {
        WriteFile(Path("full.txt"), "old\r\n");
        int code = 0;
        try {
            FileSizeLimit limit(4096);
            platform::TextFileWriter w(Path("full.txt"), mode);
            for (int i = 0; i < 1000; ++i) w.WriteLine("data data data data");
            w.Close();
        } catch (const EInOutError& e) {
            code = e.Code();
            EXPECT_STREQ(e.what(), "ディスクがいっぱいです");
        }
        EXPECT_EQ(code, 101) << "a write to a full disk reported success";
    }
}

TEST_F(FilesTest, ChangeOfDirectoryFailureShowsTheCode) {
    try {
        platform::SetCurrentDir(Path("gone"));
        FAIL();
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Code(), 2);
        EXPECT_STREQ(e.what(), "I/O エラー (2)");
    }
}

TEST_F(FilesTest, DeleteRefusesFoldersAndReportsTheReason) {
    ::mkdir(Path("folder").c_str(), 0755);
    int err = 0;
    EXPECT_FALSE(platform::DeleteFile(Path("folder"), &err));
    EXPECT_TRUE(platform::PathExists(Path("folder")));
    EXPECT_EQ(platform::IoCodeFromErrno(err), 5);
    EXPECT_FALSE(platform::DeleteFile(Path("nothing"), &err));
    EXPECT_EQ(err, ENOENT);
    EXPECT_FALSE(platform::FileExists(Path("folder")));  // a folder is no plain file
}

TEST_F(FilesTest, PipesAndDevicesInAFilesPlaceFailInsteadOfHolding) {
    // Before, reading a pipe waited for a writer and /dev/zero never ended: the GUI held.
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/zero", Path("zero").c_str()), 0);
    for (const char* name : {"pipe", "zero"}) {
        int code = 0;
        try {
            platform::ReadTextLines(Path(name), [](const std::string&) { FAIL() << "a line from a device"; });
        } catch (const EInOutError& e) {
            code = e.Code();
        }
        EXPECT_EQ(code, 5) << name;
        for (auto mode : {platform::TextFileWriter::Mode::Rewrite, platform::TextFileWriter::Mode::Append})
            EXPECT_THROW(platform::TextFileWriter(Path(name), mode), EInOutError) << name;
    }
}

}  // namespace

namespace {

// Lines of a file written sparse: each piece of `data` is followed by the hole of the same
// index in `holes` (that many NUL bytes), if there is one.
std::vector<std::string> SparseLines(const std::string& path, const std::vector<std::string>& data,
                                     const std::vector<off_t>& holes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    for (size_t i = 0; i < data.size(); ++i) {
        EXPECT_EQ(::write(fd, data[i].data(), data[i].size()), static_cast<ssize_t>(data[i].size()));
        if (i < holes.size()) ::lseek(fd, holes[i], SEEK_CUR);
    }
    if (holes.size() >= data.size()) {
        EXPECT_EQ(::ftruncate(fd, ::lseek(fd, 0, SEEK_CUR)), 0);
    }
    ::close(fd);
    std::vector<std::string> out;
    platform::ReadTextLines(path, [&](const std::string& l) { out.push_back(l); });
    return out;
}

}  // namespace

TEST_F(FilesTest, LinesLongerThanAnyPathAreReadPast) {
    const std::string longest(platform::kLongestLine, 'p');
    EXPECT_EQ(Lines("a\r\n" + longest + "\r\nb"), (V{"a", longest, "b"}));
    EXPECT_EQ(Lines("a\r\n" + longest + "q\r\nb"), (V{"a", "b"}));
    // Across the reader's pieces, at the start and at the end of the file.
    const std::string past(200'000, 'q');
    EXPECT_EQ(Lines(past + "\r\na\r\n" + past + "\r\n" + past + "\rb\r\n" + past), (V{"a", "b"}));
    EXPECT_EQ(Lines(past), V{});
    // NUL bytes are one unreadable line like any other, however many.
    EXPECT_EQ(Lines(std::string(100'000, '\0')), V{});
    EXPECT_EQ(Lines(std::string(3, '\0') + "\r\na"), (V{std::string(3, '\0'), "a"}));
    // Code 26 still ends the data inside a long line.
    EXPECT_EQ(Lines("a\r\n" + past + "\x1a" "b\r\n"), V{"a"});
}

TEST_F(FilesTest, HolesOfASparseFileReadAsTheirNulBytes) {
    const std::string path = Path("sparse");
    // Two gigabytes of nothing between two paths: the paths, at once.
    EXPECT_EQ(SparseLines(path, {"/m/a.mp3\r\n", "\r\n/m/b.mp3\r\n"}, {off_t(2) << 30}), (V{"/m/a.mp3", "/m/b.mp3"}));
    EXPECT_EQ(SparseLines(path, {"/m/a.mp3\r\n"}, {off_t(2) << 30}), V{"/m/a.mp3"});
    EXPECT_EQ(SparseLines(path, {""}, {off_t(2) << 30}), V{});
    // A hole inside a line makes it long like the same bytes written out would.
    EXPECT_EQ(SparseLines(path, {"/m/a", "b.mp3\r\nc"}, {1 << 20}), V{"c"});
    EXPECT_EQ(Lines("/m/a" + std::string(1 << 20, '\0') + "b.mp3\r\nc"), V{"c"});

    // The same through the splitter, holes and short runs of NUL bytes alike.
    V got;
    platform::TextLineSplitter split([&](const std::string& l) { got.push_back(l); }, 8);
    split.Feed("a\r", 2);
    split.FeedNuls(3);  // no LF: the line ends at the CR and the NULs begin the next
    split.Feed("\r\nb", 3);
    split.FeedNuls(9);  // "b" and nine NULs: too long
    split.Feed("\rc", 2);
    split.Finish();
    EXPECT_EQ(got, (V{"a", std::string(3, '\0'), "c"}));
}

TEST_F(FilesTest, CutLinesKeepTheirBeginning) {
    V got;
    platform::TextLineSplitter split([&](const std::string& l) { got.push_back(l); }, 4, platform::LongLine::Cut);
    const std::string text = "abcdefgh\r\nxy\r\n" + std::string(1 << 20, 'z');
    for (size_t at = 0; at < text.size(); at += 3) split.Feed(text.data() + at, std::min<size_t>(3, text.size() - at));
    split.FeedNuls(10);
    split.Finish();
    EXPECT_EQ(got, (V{"abcd", "xy", "zzzz"}));
}
