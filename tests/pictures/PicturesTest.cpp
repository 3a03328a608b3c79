// Pictures by extension on real small files, and the Linux mapping of program starts.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <jpeglib.h>
}

#include "FileSizeLimit.h"
#include "support/MediaMaker.h"
#include "support/FifoWatchdog.h"
#include "PictureMaker.h"
#include "pictures/Pictures.h"
#include "platform/ProgramStart.h"
#include "platform/QtPrinting.h"
#include <QPrinter>
#include <csignal>

namespace {

class PicturesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp_.isValid()); }
    std::string P(const std::string& name) const { return tmp_.path().toStdString() + "/" + name; }
    // Left half red, right half blue.
    static QImage TwoColours(int w, int h) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(Qt::blue);
        QPainter(&img).fillRect(0, 0, w / 2, h, Qt::red);
        return img;
    }
    static QColor Centre(const platform::Picture& p) { return p.Scaled({100, 100}).pixelColor(50, 50); }
    QTemporaryDir tmp_;
};

using picturemaker::BlueEmf;
using picturemaker::Near;
using picturemaker::Read;
using picturemaker::RedWmf;
using picturemaker::Write;
using picturemaker::WriteFlatJpeg;

TEST_F(PicturesTest, JpegDecodesInColourAndDamageIsAnErrorNotAGreyPicture) {
    ASSERT_TRUE(TwoColours(64, 48).save(QString::fromStdString(P("a.jpg")), "JPG", 95));
    const platform::Picture pic = platform::LoadPicture(P("a.jpg"));
    ASSERT_EQ(pic.Size(), QSize(64, 48));
    EXPECT_TRUE(Near(pic.Image().pixelColor(5, 24), Qt::red));
    EXPECT_TRUE(Near(pic.Image().pixelColor(58, 24), Qt::blue));

    // Greyscale files come out as colour pixels; CMYK files in their colours.
    QImage grey = TwoColours(32, 32).convertToFormat(QImage::Format_Grayscale8);
    ASSERT_TRUE(grey.save(QString::fromStdString(P("g.JPG")), "JPG"));
    EXPECT_EQ(platform::LoadPicture(P("g.JPG")).Image().format(), QImage::Format_RGB888);  // 24-bit colour
    ASSERT_TRUE(mediamaker::Run(QStringLiteral("/usr/bin/convert"),
                                {QString::fromStdString(P("a.jpg")), QStringLiteral("-colorspace"), QStringLiteral("CMYK"),
                                 QString::fromStdString(P("cmyk.jpg"))}));
    const QImage cmyk = platform::DecodeJpeg(P("cmyk.jpg"));
    EXPECT_TRUE(Near(cmyk.pixelColor(5, 24), Qt::red, 40)) << cmyk.pixelColor(5, 24).name().toStdString();
    EXPECT_TRUE(Near(cmyk.pixelColor(58, 24), Qt::blue, 40)) << cmyk.pixelColor(58, 24).name().toStdString();

    // Truncated, damaged inside, not a JPEG at all, missing.
    ASSERT_TRUE(TwoColours(256, 256).save(QString::fromStdString(P("big.jpg")), "JPG", 90));
    const std::string whole = Read(P("big.jpg"));
    Write(P("cut.jpg"), whole.substr(0, whole.size() / 2));
    std::string damaged = whole;
    for (size_t i = whole.size() / 3; i < whole.size() / 3 + 64; ++i) damaged[i] = static_cast<char>(0xFF);
    Write(P("damaged.jpg"), damaged);
    Write(P("text.jpg"), "not a picture");
    for (const char* name : {"cut.jpg", "damaged.jpg", "text.jpg", "missing.jpg"}) {
        SCOPED_TRACE(name);
        try {
            platform::LoadPicture(P(name));
            ADD_FAILURE() << "decoded";
        } catch (const EInvalidGraphic& e) {
            EXPECT_NE(std::string(e.what()).find(name), std::string::npos);
        }
    }
}

TEST_F(PicturesTest, AJpegForAThumbnailComesAtTheLargestReductionThatStillCoversIt) {
    ASSERT_TRUE(TwoColours(400, 300).save(QString::fromStdString(P("photo.jpg")), "JPG", 95));
    WriteFlatJpeg(P("wide.jpg"), 9000, 8000);
    const struct {
        const char* name;
        QSize atLeast, expected;
        bool reduced;
    } rows[] = {
        {"photo.jpg", {54, 48}, {100, 75}, true},    // an eighth would be narrower than the box
        {"photo.jpg", {100, 75}, {100, 75}, true},   // exactly covered
        {"photo.jpg", {101, 75}, {200, 150}, true},  // a pixel more: half
        {"photo.jpg", {10, 151}, {400, 300}, false}, // the shorter side decides
        {"photo.jpg", {}, {400, 300}, false},        // no thumbnail: whole
        {"wide.jpg", {10, 10}, {1125, 1000}, true},  // an eighth at most
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + std::to_string(row.atLeast.width()) + "x" + std::to_string(row.atLeast.height()));
        bool reduced = !row.reduced;
        const QImage image = platform::DecodeJpeg(P(row.name), nullptr, row.atLeast, &reduced);
        EXPECT_EQ(image.size(), row.expected);
        EXPECT_EQ(reduced, row.reduced);
        if (std::string(row.name) == "photo.jpg") {
            EXPECT_TRUE(Near(image.pixelColor(2, image.height() / 2), Qt::red));
            EXPECT_TRUE(Near(image.pixelColor(image.width() - 3, image.height() / 2), Qt::blue));
        }
    }
    // Damage is found at a reduction too: a cut file is an error, not a half-grey thumbnail.
    const std::string whole = Read(P("photo.jpg"));
    Write(P("cut.jpg"), whole.substr(0, whole.size() / 2));
    bool reduced = true;
    EXPECT_THROW(platform::DecodeJpeg(P("cut.jpg"), nullptr, QSize(54, 48), &reduced), EInvalidGraphic);
    EXPECT_FALSE(reduced);
}

// Every kind of JPEG a folder holds, asked for at a thumbnail size: at least that size on both
// sides, in its colours, and `reduced` true exactly when it came smaller than the file.
TEST_F(PicturesTest, EveryKindOfJpegComesAtLeastAsLargeAsTheThumbnailInItsColours) {
    auto convert = [&](const char* from, QStringList options, const char* to) {
        options.prepend(QString::fromStdString(P(from)));
        options.append(QString::fromStdString(P(to)));
        ASSERT_TRUE(mediamaker::Run(QStringLiteral("/usr/bin/convert"), options));
    };
    ASSERT_TRUE(TwoColours(640, 480).save(QString::fromStdString(P("rgb.jpg")), "JPG", 95));
    convert("rgb.jpg", {QStringLiteral("-colorspace"), QStringLiteral("CMYK")}, "cmyk.jpg");
    convert("rgb.jpg", {QStringLiteral("-interlace"), QStringLiteral("Plane")}, "progressive.jpg");
    convert("cmyk.jpg", {QStringLiteral("-interlace"), QStringLiteral("Plane")}, "cmyk-progressive.jpg");
    ASSERT_TRUE(TwoColours(333, 251).save(QString::fromStdString(P("odd.jpg")), "JPG", 95));
    QImage one(1, 1, QImage::Format_RGB32);
    one.fill(Qt::red);
    ASSERT_TRUE(one.save(QString::fromStdString(P("one.jpg")), "JPG", 95));
    const struct {
        const char* name;
        QSize full;
        bool twoColours;
    } files[] = {
        {"rgb.jpg", {640, 480}, true},         {"cmyk.jpg", {640, 480}, true}, {"progressive.jpg", {640, 480}, true},
        {"cmyk-progressive.jpg", {640, 480}, true}, {"odd.jpg", {333, 251}, true}, {"one.jpg", {1, 1}, false},
    };
    const QSize boxes[] = {{54, 48}, {1, 1}, {41, 300}, {640, 480}, {0, 0}, {5000, 5000}};
    for (const auto& file : files) {
        for (const QSize box : boxes) {
            SCOPED_TRACE(std::string(file.name) + " " + std::to_string(box.width()) + "x" + std::to_string(box.height()));
            bool reduced = true;
            const QImage image = platform::DecodeJpeg(P(file.name), nullptr, box, &reduced);
            ASSERT_FALSE(image.isNull());
            EXPECT_GE(image.width(), std::min(box.width(), file.full.width()));
            EXPECT_GE(image.height(), std::min(box.height(), file.full.height()));
            EXPECT_LE(image.width(), file.full.width());
            EXPECT_EQ(reduced, image.size() != file.full);
            const int y = image.height() / 2;
            if (file.twoColours && image.width() >= 8) {
                EXPECT_TRUE(Near(image.pixelColor(1, y), Qt::red, 48)) << image.pixelColor(1, y).name().toStdString();
                EXPECT_TRUE(Near(image.pixelColor(image.width() - 2, y), Qt::blue, 48))
                    << image.pixelColor(image.width() - 2, y).name().toStdString();
            } else if (!file.twoColours) {
                EXPECT_TRUE(Near(image.pixelColor(0, 0), Qt::red, 48));
            }
        }
        // Cut short: an error at a reduction as well, for every kind.
        const std::string whole = Read(P(file.name));
        Write(P("cut.jpg"), whole.substr(0, whole.size() * 2 / 3));
        bool reduced = true;
        EXPECT_THROW(platform::DecodeJpeg(P("cut.jpg"), nullptr, QSize(54, 48), &reduced), EInvalidGraphic) << file.name;
        EXPECT_FALSE(reduced);
    }
}

TEST_F(PicturesTest, HugeJpegsAreReducedOrRefusedAndOddNamesLoad) {
    // 288 MB of pixels at full size: shown at half size rather than allocated whole.
    WriteFlatJpeg(P("wide.jpg"), 9000, 8000);
    const QImage reduced = platform::DecodeJpeg(P("wide.jpg"));
    EXPECT_EQ(reduced.size(), QSize(4500, 4000));
    EXPECT_TRUE(Near(reduced.pixelColor(10, 10), QColor(200, 200, 200), 4));
    // A small file claiming 65500 x 65500: even an eighth is too much, a clean error.
    WriteFlatJpeg(P("small.jpg"), 16, 16);
    std::string bomb = Read(P("small.jpg"));
    const size_t sof = bomb.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    bomb[sof + 5] = bomb[sof + 7] = static_cast<char>(0xFF);
    bomb[sof + 6] = bomb[sof + 8] = static_cast<char>(0xDC);
    Write(P("bomb.jpg"), bomb);
    EXPECT_THROW(platform::LoadPicture(P("bomb.jpg")), EInvalidGraphic);

    // Things that are no plain files, named like pictures: errors at once, not a GUI that
    // waits for a writer or reads /dev/zero until memory runs out.
    ASSERT_EQ(mkfifo(P("pipe.jpg").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo(P("pipe.bmp").c_str(), 0644), 0);
    ASSERT_EQ(symlink("/dev/zero", P("zero.bmp").c_str()), 0);
    ASSERT_EQ(symlink("/dev/zero", P("zero.jpg").c_str()), 0);
    for (const char* name : {"pipe.jpg", "pipe.bmp", "zero.bmp", "zero.jpg"}) {
        SCOPED_TRACE(name);
        const FifoWatchdog watchdog(P(name));
        EXPECT_THROW(platform::LoadPicture(P(name)), EInvalidGraphic);
    }

    // Names that are not UTF-8 (Shift-JIS from an old disc) load like any other.
    for (const char* ext : {"bmp", "jpg", "wmf"}) {
        SCOPED_TRACE(ext);
        const std::string name = P(std::string("\x83\x65\x83\x58\x83\x67.") + ext);
        if (std::string(ext) == "wmf") {
            Write(name, RedWmf());
        } else {
            ASSERT_TRUE(TwoColours(20, 10).save(QString::fromStdString(P(std::string("plain.") + ext))));
            std::filesystem::rename(P(std::string("plain.") + ext), name);
        }
        EXPECT_FALSE(platform::LoadPicture(name).IsNull());
        std::filesystem::remove(name);  // QTemporaryDir cannot name it
    }
}

// Printing to a PDF on a disk that fills up: an error, not a report of success.
TEST_F(PicturesTest, PdfThatCannotBeWrittenWhollyIsAnError) {
    platform::QtPrinting printing(tmp_.path());
    printing.Printer().setOutputFormat(QPrinter::PdfFormat);
    const QString out = QString::fromStdString(P("out.pdf"));
    printing.Printer().setOutputFileName(out);
    // Noise does not compress: the page needs far more than the limit.
    QImage page(600, 400, QImage::Format_RGB32);
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) page.setPixel(x, y, qRgb((x * 7919 + y * 104729) & 255, (x * y) & 255, (x ^ y) & 255));
    std::string failure;
    {
        FileSizeLimit full(8192);
        try {
            printing.PrintImage(page, 96, 96);
        } catch (const std::exception& e) {
            failure = e.what();
        }
    }
    EXPECT_NE(failure.find("out.pdf"), std::string::npos) << failure;
    EXPECT_FALSE(std::filesystem::exists(P("out.pdf")));  // no cut-off file left behind
    // With room again, the next print works.
    printing.Printer().setOutputFormat(QPrinter::PdfFormat);
    printing.Printer().setOutputFileName(out);
    EXPECT_TRUE(printing.PrintImage(page, 96, 96).contains(QStringLiteral("out.pdf")));
    EXPECT_EQ(Read(P("out.pdf")).substr(0, 5), "%PDF-");
}

TEST_F(PicturesTest, BitmapsIconsAndMetafilesByExtension) {
    ASSERT_TRUE(TwoColours(20, 10).save(QString::fromStdString(P("a.bmp")), "BMP"));
    ASSERT_TRUE(TwoColours(32, 32).save(QString::fromStdString(P("a.ICO")), "ICO"));
    EXPECT_EQ(platform::LoadPicture(P("a.bmp")).Image().pixelColor(2, 2), QColor(Qt::red));
    EXPECT_EQ(platform::LoadPicture(P("a.ICO")).Size(), QSize(32, 32));
    // The type follows the extension, not the content.
    std::filesystem::copy_file(P("a.bmp"), P("bmp.ico"));
    EXPECT_THROW(platform::LoadPicture(P("bmp.ico")), EInvalidGraphic);
    EXPECT_THROW(platform::LoadPicture(P("a.png")), EInvalidGraphic);

    Write(P("r.wmf"), RedWmf());
    const platform::Picture wmf = platform::LoadPicture(P("r.wmf"));
    EXPECT_TRUE(wmf.IsVector());
    EXPECT_TRUE(Near(Centre(wmf), Qt::red)) << Centre(wmf).name().toStdString();
    Write(P("b.EMF"), BlueEmf());
    const platform::Picture emf = platform::LoadPicture(P("b.EMF"));
    EXPECT_TRUE(Near(Centre(emf), Qt::blue)) << Centre(emf).name().toStdString();
    // Damaged metafiles: errors, not crashes.
    std::string half = RedWmf();
    Write(P("cut.wmf"), half.substr(0, 30));
    Write(P("text.emf"), std::string(200, 'x'));
    EXPECT_THROW(platform::LoadPicture(P("cut.wmf")), EInvalidGraphic);
    EXPECT_THROW(platform::LoadPicture(P("text.emf")), EInvalidGraphic);
}

TEST(ProgramStart, WindowsCommandLinesMapToLinuxPrograms) {
    std::set<std::string> installed = {"gedit", "libreoffice", "xdg-open", "/opt/tool.exe", "/bin/ls", "wine"};
    auto lookup = [&installed](const std::string& name) {
        if (!installed.count(name)) return std::string();
        return name.find('/') == std::string::npos ? "/usr/bin/" + name : name;
    };
    using platform::MapCommandLine;
    using platform::ProgramCall;
    EXPECT_EQ(MapCommandLine("NOTEPAD.EXE /home/u/my notes.txt", lookup),
              (ProgramCall{"/usr/bin/gedit", {"/home/u/my notes.txt"}}));
    EXPECT_EQ(MapCommandLine("\\Program Files\\Microsoft Office\\Office\\EXCEL.EXE /d/b.xls", lookup),
              (ProgramCall{"/usr/bin/libreoffice", {"--calc", "/d/b.xls"}}));
    EXPECT_EQ(MapCommandLine("\\Program Files\\Microsoft Office\\Office\\WinWORD.EXE /d/c.doc", lookup),
              (ProgramCall{"/usr/bin/libreoffice", {"--writer", "/d/c.doc"}}));
    EXPECT_EQ(MapCommandLine("\\Program Files\\Internet Explorer\\IEXPLORE.EXE /d/p.gif", lookup),
              (ProgramCall{"/usr/bin/xdg-open", {"/d/p.gif"}}));
    // No counterpart installed, no program: nothing to start.
    EXPECT_EQ(MapCommandLine("\\Program Files\\ACAD\\acad.EXE /d/x.dwg", lookup), std::nullopt);
    EXPECT_EQ(MapCommandLine("\\J2MEWSDK4DOJA\\bin\\_ktoolbar.exe \\jdk1.3 \\J2MEWSDK4DOJA", lookup), std::nullopt);
    // A Windows program runs through wine, the rest of its line as its arguments; a name
    // from the root of the drive is rooted at "/".
    EXPECT_EQ(MapCommandLine("\\opt\\tool.exe \\jdk a", lookup), (ProgramCall{"/usr/bin/wine", {"/opt/tool.exe", "/jdk", "a"}}));
    EXPECT_EQ(MapCommandLine("/bin/ls -l", lookup), (ProgramCall{"/bin/ls", {"-l"}}));
    installed.erase("wine");
    EXPECT_EQ(MapCommandLine("/opt/tool.exe", lookup), std::nullopt);
    installed.erase("gedit");
    EXPECT_EQ(MapCommandLine("NOTEPAD.EXE /x.c", lookup), (ProgramCall{"/usr/bin/xdg-open", {"/x.c"}}));
    // The real starter reports a missing program with 2.
    platform::LinuxProgramStarter starter;
    EXPECT_EQ(starter.WinExec("\\no\\such\\program.exe arg", 5), 2u);

    // A batch file never goes to the desktop's opener, which may hand it to wine to run.
    EXPECT_EQ(MapCommandLine("NOTEPAD.EXE /x.BAT", lookup), std::nullopt);
    installed.insert("mousepad");
    EXPECT_EQ(MapCommandLine("NOTEPAD.EXE /x.bat", lookup), (ProgramCall{"/usr/bin/mousepad", {"/x.bat"}}));
    // A file name is never read as an option.
    EXPECT_EQ(MapCommandLine("NOTEPAD.EXE --help.txt", lookup), (ProgramCall{"/usr/bin/mousepad", {"./--help.txt"}}));
    // The confirmed program runs, not one whose name is the start of its path.
    installed.insert("wine");
    installed.insert("/d/a.exe");
    installed.insert("/d/a.exe x/b.exe");
    EXPECT_EQ(MapCommandLine("/d/a.exe x/b.exe", lookup), (ProgramCall{"/usr/bin/wine", {"/d/a.exe x/b.exe"}}));
    installed.insert("/d/back\\slash.exe");
    EXPECT_EQ(MapCommandLine("/d/back\\slash.exe", lookup), (ProgramCall{"/usr/bin/wine", {"/d/back\\slash.exe"}}));
}

// The real start: arguments arrive byte for byte with no shell in between, and nothing is
// left to reap.
TEST_F(PicturesTest, StartedProgramsGetTheirArgumentsAsTheyAreAndLeaveNoZombies) {
    const std::string odd = P("a b;$(touch x)`id`|\n\x83\x65 -x.txt");
    ASSERT_TRUE(platform::StartDetached({"/usr/bin/touch", {odd}}));
    // touch is not ours to wait for: the file appears when it has run.
    for (int i = 0; i < 500 && !std::filesystem::exists(odd); ++i) usleep(10000);
    EXPECT_TRUE(std::filesystem::exists(odd));
    EXPECT_FALSE(std::filesystem::exists(P("x")));
    EXPECT_FALSE(std::filesystem::exists("x"));
    EXPECT_FALSE(platform::StartDetached({P("no-such-program"), {}}));
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    std::filesystem::remove(odd);
}

}  // namespace
