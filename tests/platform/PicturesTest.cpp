// Pictures by extension on real small files, and the Linux mapping of program starts.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "MediaMaker.h"
#include "platform/Pictures.h"
#include "platform/ProgramStart.h"

namespace {

class PicturesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp_.isValid()); }
    std::string P(const std::string& name) const { return tmp_.path().toStdString() + "/" + name; }
    static void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // Left half red, right half blue.
    static QImage TwoColours(int w, int h) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(Qt::blue);
        QPainter(&img).fillRect(0, 0, w / 2, h, Qt::red);
        return img;
    }
    static bool Near(QColor a, QColor b, int tolerance = 24) {
        return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
               std::abs(a.blue() - b.blue()) <= tolerance;
    }
    static QColor Centre(const platform::Picture& p) { return p.Scaled({100, 100}).pixelColor(50, 50); }
    QTemporaryDir tmp_;
};

std::string Le16(int v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
std::string Le32(long v) { return Le16(static_cast<int>(v & 0xFFFF)) + Le16(static_cast<int>((v >> 16) & 0xFFFF)); }

// A placeable Windows metafile: one filled rectangle over the whole picture.
std::string RedWmf() {
    std::string records;
    auto rec = [&records](int function, std::initializer_list<int> params) {
        records += Le32(3 + static_cast<long>(params.size())) + Le16(function);
        for (int p : params) records += Le16(p);
    };
    rec(0x020B, {0, 0});        // window origin
    rec(0x020C, {100, 200});    // window extent: 200 x 100
    records += Le32(7) + Le16(0x02FC) + Le16(0) + Le32(0x000000FF) + Le16(0);  // solid red brush
    rec(0x012D, {0});           // select it
    rec(0x041B, {100, 200, 0, 0});  // rectangle
    rec(0x0000, {});            // end
    const long words = 9 + static_cast<long>(records.size()) / 2;
    std::string header = Le16(1) + Le16(9) + Le16(0x0300) + Le32(words) + Le16(1) + Le32(7) + Le16(0);
    std::string placeable = Le32(0x9AC6CDD7L) + Le16(0) + Le16(0) + Le16(0) + Le16(200) + Le16(100) + Le16(96) + Le32(0);
    int sum = 0;
    for (size_t i = 0; i < 20; i += 2) sum ^= static_cast<unsigned char>(placeable[i]) | static_cast<unsigned char>(placeable[i + 1]) << 8;
    return placeable + Le16(sum) + header + records;
}

// An enhanced metafile with one blue rectangle.
std::string BlueEmf() {
    std::string body;
    body += Le32(39) + Le32(24) + Le32(1) + Le32(0) + Le32(0x00FF0000) + Le32(0);  // brush 1: solid blue
    body += Le32(37) + Le32(12) + Le32(1);                                           // select it
    body += Le32(43) + Le32(24) + Le32(0) + Le32(0) + Le32(199) + Le32(99);          // rectangle
    body += Le32(14) + Le32(20) + Le32(0) + Le32(16) + Le32(20);                     // end
    const long total = 88 + static_cast<long>(body.size());
    std::string h = Le32(1) + Le32(88) + Le32(0) + Le32(0) + Le32(199) + Le32(99) + Le32(0) + Le32(0) + Le32(5292) +
                    Le32(2619) + Le32(0x464D4520) + Le32(0x10000) + Le32(total) + Le32(5) + Le16(2) + Le16(0) + Le32(0) +
                    Le32(0) + Le32(0) + Le32(1024) + Le32(768) + Le32(271) + Le32(203);
    return h + body;
}

TEST_F(PicturesTest, JpegDecodesInColourAndDamageIsAnErrorNotAGreyPicture) {
    ASSERT_TRUE(TwoColours(64, 48).save(QString::fromStdString(P("a.jpg")), "JPG", 95));
    const platform::Picture pic = platform::LoadPicture(P("a.jpg"));
    ASSERT_EQ(pic.Size(), QSize(64, 48));
    EXPECT_TRUE(Near(pic.Image().pixelColor(5, 24), Qt::red));
    EXPECT_TRUE(Near(pic.Image().pixelColor(58, 24), Qt::blue));

    // Greyscale files come out as colour pixels; CMYK files in their colours.
    QImage grey = TwoColours(32, 32).convertToFormat(QImage::Format_Grayscale8);
    ASSERT_TRUE(grey.save(QString::fromStdString(P("g.JPG")), "JPG"));
    EXPECT_EQ(platform::LoadPicture(P("g.JPG")).Image().format(), QImage::Format_RGB32);
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
}

}  // namespace
