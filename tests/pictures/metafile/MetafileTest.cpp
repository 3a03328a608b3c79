// Metafiles played onto a painter: clipping, text in the file's own character set, bitmaps
// within a budget, and damaged or hostile files that end in a clean error.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <fstream>
#include <sys/stat.h>

#include "support/FifoWatchdog.h"
#include "MetafileChecks.h"
#include "support/MetafileMaker.h"
#include "pictures/metafile/Metafile.h"
#include "pictures/Pictures.h"

namespace {

using metafilemaker::Emf;
using metafilemaker::Le16;
using metafilemaker::Le32;
using metafilemaker::Wmf;
using platform::MetafileKind;
using namespace metafilechecks;

std::string Utf16(const std::u16string& s) { return metafilemaker::Utf16(s); }

// A blue rectangle over the whole picture, drawn after `clip` records.
TEST(Metafile, ClipRecordsLimitWhatIsDrawn) {
    struct Case {
        const char* name;
        std::function<void(Emf&)> clip;
        bool left, right;  // blue at (50, 50), at (150, 50)
    };
    const std::vector<Case> cases = {
        {"intersect left half", [](Emf& e) { e.IntersectClip(0, 0, 100, 100); }, true, false},
        {"exclude left half", [](Emf& e) { e.ExcludeClip(0, 0, 100, 100); }, false, true},
        {"region: right half", [](Emf& e) { e.ClipRegion(5, {{100, 0, 200, 100}}); }, false, true},
        {"region: two parts", [](Emf& e) { e.ClipRegion(5, {{0, 0, 60, 100}, {140, 0, 200, 100}}); }, true, true},
        {"region removed", [](Emf& e) { e.IntersectClip(0, 0, 100, 100).ClipRegion(5, {}); }, true, true},
        {"path",
         [](Emf& e) { e.Rec(59, "").Rectangle(0, 0, 100, 100).Rec(60, "").Rec(67, Le32(5)); },
         true, false},
        {"saved and restored", [](Emf& e) { e.Rec(33, "").IntersectClip(0, 0, 100, 100).Rec(34, Le32(-1)); }, true, true},
        {"region and intersect",
         [](Emf& e) { e.ClipRegion(5, {{0, 0, 60, 100}, {140, 0, 200, 100}}).IntersectClip(0, 0, 100, 100); },
         true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Emf e(200, 100);
        e.Brush(1, kBlue).Select(1);
        c.clip(e);
        e.Rectangle(0, 0, 200, 100);
        const QImage img = RenderEmf(e);
        EXPECT_EQ(Is(img, 50, 50, Qt::blue), c.left);
        EXPECT_EQ(Is(img, 150, 50, Qt::blue), c.right);
        if (!c.left) {
            EXPECT_TRUE(Empty(img, 50, 50));
        }
        if (!c.right) {
            EXPECT_TRUE(Empty(img, 150, 50));
        }
    }
    // The same in a Windows metafile.
    Wmf w(200, 100);
    w.Brush(kRed).Select(0).IntersectClip(100, 0, 200, 100).Rectangle(0, 0, 200, 100);
    const QImage img = RenderWmf(w);
    EXPECT_TRUE(Empty(img, 50, 50));
    EXPECT_TRUE(Is(img, 150, 50, Qt::red));
}

// Logical coordinates reach the picture through the mapping mode, window, viewport and world
// transform: each case fills the left half exactly.
TEST(Metafile, MappingModesPlaceTheDrawing) {
    using metafilemaker::F32;
    const std::vector<std::pair<const char*, std::function<void(Emf&)>>> cases = {
        {"anisotropic",
         [](Emf& e) {
             e.Rec(17, Le32(8)).Rec(9, Le32(1000) + Le32(500)).Rec(11, Le32(200) + Le32(100)).Rectangle(0, 0, 500, 500);
         }},
        {"window origin",
         [](Emf& e) {
             e.Rec(17, Le32(8)).Rec(10, Le32(-100) + Le32(-100)).Rec(9, Le32(200) + Le32(100)).Rec(11, Le32(200) + Le32(100));
             e.Rectangle(-100, -100, 0, 0);
         }},
        {"tenths of a millimetre, y up", [](Emf& e) { e.Rec(17, Le32(2)).Rectangle(0, 0, 250, -250); }},
        {"world transform",
         [](Emf& e) { e.Rec(35, F32(0.5f) + F32(0) + F32(0) + F32(0.5f) + F32(0) + F32(0)).Rectangle(0, 0, 200, 200); }},
    };
    for (const auto& [name, add] : cases) {
        SCOPED_TRACE(name);
        Emf e(200, 100);
        e.Brush(1, kBlue).Select(1).Rec(38, Le32(2) + Le32(5) + Le32(0) + Le32(0) + Le32(0)).Select(2);  // no pen
        add(e);
        const QImage img = RenderEmf(e);
        EXPECT_TRUE(Is(img, 5, 5, Qt::blue));
        EXPECT_TRUE(Is(img, 95, 95, Qt::blue));
        EXPECT_TRUE(Empty(img, 105, 50));
    }
    // A WMF whose window is ten times its placeable frame.
    Wmf w(200, 100);
    w.Words(0x020C, {1000, 2000}).Brush(kRed).Select(0).Words(0x02FA, {5, 0, 0, 0, 0}).Select(1).Rectangle(0, 0, 1000, 1000);
    const QImage img = RenderWmf(w);
    EXPECT_TRUE(Is(img, 5, 5, Qt::red));
    EXPECT_TRUE(Is(img, 95, 95, Qt::red));
    EXPECT_TRUE(Empty(img, 105, 50));
}

TEST(Metafile, EmfWithClipLoadsAsAPicture) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Emf e(200, 100);
    e.Brush(1, kBlue).Select(1).IntersectClip(0, 0, 100, 100).Rectangle(0, 0, 200, 100);
    const std::string path = dir.path().toStdString() + "/clip.EMF";
    std::ofstream(path, std::ios::binary) << e.Build();
    const platform::Picture pic = platform::LoadPicture(path);
    ASSERT_TRUE(pic.IsVector());
    EXPECT_NEAR(pic.Size().width(), 189, 1);  // 200 pixels of a 4-a-millimetre device, at 96 dots an inch
    const QImage shown = pic.Scaled({200, 100});
    EXPECT_TRUE(Is(shown, 50, 50, Qt::blue));
    EXPECT_TRUE(Empty(shown, 150, 50));
}

// Text in a character set drawn like the same text given in Unicode: the bytes were
// converted, not shown as replacement marks.
TEST(Metafile, EightBitTextDrawsInTheFontsCharacterSet) {
    struct Case {
        const char* name;
        int charset;
        std::u16string face;
        std::string bytes;
        std::u16string unicode;
    };
    const std::vector<Case> cases = {
        {"Shift-JIS", 128, u"ＭＳ ゴシック", "\x93\xfa\x96\x7b\x8c\xea", u"日本語"},
        {"Shift-JIS half-width kana", 128, u"ＭＳ ゴシック", "\xb6\xc5", u"ｶﾅ"},
        {"Latin-1 with markup", 0, u"Arial", "Caf\xe9 <&]]>", u"Café <&]]>"},
        {"symbol font", 2, u"Symbol", "abg\xb3", u"αβγ≥"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto make = [&c](const std::string& text, bool wide) {
            Emf e(300, 60);
            e.Font(1, -40, c.charset, c.face).Select(1).TextColour(kBlack).Transparent().Text(10, 10, text, wide);
            return RenderEmf(e, QSize(300, 60));
        };
        const QImage bytes = make(c.bytes, false);
        const QImage unicode = make(Utf16(c.unicode), true);
        EXPECT_GT(Ink(bytes), 40);
        EXPECT_EQ(bytes, unicode);
    }
}

TEST(Metafile, WmfTextInShiftJisAndWithMarkupDraws) {
    const auto make = [](const std::string& text, int charset = 128) {
        Wmf w(300, 60);
        w.Font(-40, charset, "\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e").Select(0).TextColour(kBlack).Transparent();
        w.Words(0x012E, {0}).TextOut(10, 10, text);
        return RenderWmf(w, QSize(300, 60));
    };
    const QImage nihongo = make("\x93\xfa\x96\x7b\x8c\xea");  // 日本語
    const QImage nihonjin = make("\x93\xfa\x96\x7b\x90\x6c");  // 日本人
    EXPECT_GT(Ink(nihongo, QRect(0, 0, 150, 60)), 100);
    EXPECT_EQ(Ink(nihongo, QRect(200, 0, 100, 60)), 0);  // three characters of 40 pixels
    // The first two characters alike, the last different: real glyphs, not one mark repeated.
    EXPECT_EQ(nihongo.copy(0, 0, 88, 60), nihonjin.copy(0, 0, 88, 60));
    EXPECT_NE(nihongo.copy(90, 0, 60, 60), nihonjin.copy(90, 0, 60, 60));
    // Text that would be markup, and text that is no valid Shift-JIS: drawn, never refused.
    EXPECT_GT(Ink(make("<&]]>\"'", 0)), 40);
    EXPECT_GT(Ink(make("\x81\xff\x80\xa0 ok")), 40);
    // Glyph numbers (ETO_GLYPH_INDEX) of a font that is not here are not drawn as letters.
    Wmf glyphs(300, 60);
    glyphs.Font(-40, 0, "Arial").Select(0).TextColour(kBlack).Transparent();
    glyphs.Rec(0x0A32, Le16(10) + Le16(10) + Le16(3) + Le16(0x10) + "\x24\x25\x26");
    EXPECT_EQ(Ink(RenderWmf(glyphs, QSize(300, 60))), 0);
}

// Text that names files and devices is text: nothing it names is opened, so a FIFO there
// cannot hold the program and a picture there does not appear.
TEST(Metafile, TextNamingFilesOpensNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string fifo = dir.path().toStdString() + "/fifo";
    const std::string png = dir.path().toStdString() + "/red.png";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    QImage red(200, 100, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(QString::fromStdString(png)));
    const std::string markup = "\"/><image href=\"" + fifo + "\" width=\"200\" height=\"100\"/><image xlink:href=\"file://" +
                               png + "\" x=\"0\" y=\"0\" width=\"200\" height=\"100\"/><text>";
    Wmf w(200, 100);
    w.Font(-8, 0, "Arial").Select(0).TextOut(0, 0, markup);
    Emf e(200, 100);
    e.Font(1, -8, 0, u"Arial").Select(1).Text(0, 0, markup, false).Text(0, 20, Utf16(std::u16string(markup.begin(), markup.end())), true);
    const FifoWatchdog watchdog(fifo, std::chrono::seconds(20));
    for (const auto& [name, bytes] : {std::pair{"x.wmf", w.Build()}, std::pair{"x.emf", e.Build()}}) {
        SCOPED_TRACE(name);
        const std::string path = dir.path().toStdString() + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        QElapsedTimer timer;
        timer.start();
        const QImage shown = platform::LoadPicture(path).Scaled({200, 100});
        EXPECT_LT(timer.elapsed(), 5000);
        EXPECT_GT(Ink(shown), 10);
        EXPECT_FALSE(Is(shown, 150, 80, Qt::red));
    }
}

// Damaged files end in an error that names the fault; nothing is read past the buffer (the
// sanitizer build checks every case).
TEST(Metafile, DamagedHeadersAndRecordsAreCleanErrors) {
    Emf good(200, 100);
    good.Brush(1, kBlue).Select(1).Rectangle(0, 0, 200, 100);
    const std::string emf = good.Build();
    Wmf goodWmf(200, 100);
    goodWmf.Brush(kRed).Select(0).Rectangle(0, 0, 200, 100);
    const std::string wmf = goodWmf.Build();

    // The header of 108 bytes says its description runs to byte 400 of a file of 109.
    std::string description = Emf(200, 100).Build(150, 100).substr(0, 88);
    description.replace(4, 4, Le32(108));
    description += std::string(21, 'A');
    ASSERT_EQ(description.size(), 109u);

    std::string zeroLength = emf;
    zeroLength.replace(88 + 4, 4, Le32(0));
    std::string pastEnd = emf;
    pastEnd.replace(88 + 4, 4, Le32(0x7FFFFFF0));
    std::string headerPastEnd = emf;
    headerPastEnd.replace(4, 4, Le32(100000));
    std::string wmfPastEnd = wmf;
    wmfPastEnd.replace(22 + 18, 4, Le32(0x7FFFFFFF));
    // A plain WMF (no placeable header) whose window has no extent.
    std::string noSize = wmf.substr(22);
    noSize.replace(18 + 10 + 6, 4, std::string(4, '\0'));

    struct Case {
        const char* name;
        std::string bytes;
        MetafileKind kind;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"description past the file", description, MetafileKind::Emf, "ヘッダー"},
        {"header past the file", headerPastEnd, MetafileKind::Emf, "ヘッダー"},
        {"record of no length", zeroLength, MetafileKind::Emf, "途中"},
        {"record past the file", pastEnd, MetafileKind::Emf, "途中"},
        {"cut short", emf.substr(0, 60), MetafileKind::Emf, "拡張メタファイル"},
        {"not a metafile", std::string(200, 'x'), MetafileKind::Emf, "拡張メタファイル"},
        {"wmf record past the file", wmfPastEnd, MetafileKind::Wmf, "途中"},
        {"wmf header cut", wmf.substr(0, 30), MetafileKind::Wmf, "読めません"},
        {"wmf without a size", noSize, MetafileKind::Wmf, "大きさ"},
        {"emf read as wmf", emf, MetafileKind::Wmf, "読めません"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            Render(c.bytes, c.kind);
            ADD_FAILURE() << "accepted";
        } catch (const EInvalidGraphic& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
    }
    // A reference device of a pixel every 3.8 metres would magnify a wide line 14,000 times:
    // the file is drawn as on a screen, at once.
    Emf wide(200, 100);
    wide.Brush(1, kBlue).Select(1).Rec(38, Le32(2) + Le32(0) + Le32(40) + Le32(0) + Le32(kBlack)).Select(2);
    for (int i = 0; i < 20; ++i) wide.Rec(2, std::string(16, '\0') + Le32(4) + Le32(0) + Le32(0) + Le32(200) + Le32(i * 5) + Le32(0) + Le32(100) + Le32(200) + Le32(100));
    wide.Rectangle(0, 0, 200, 100);
    std::string absurd = wide.Build();
    absurd.replace(80, 4, Le32(3801338));
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(Is(Render(absurd, MetafileKind::Emf, QSize(2000, 1000)), 1000, 500, Qt::blue));
    EXPECT_LT(timer.elapsed(), 2000);

    // Their intact twins draw.
    EXPECT_TRUE(Is(Render(emf, MetafileKind::Emf), 100, 50, Qt::blue));
    EXPECT_TRUE(Is(Render(wmf, MetafileKind::Wmf), 100, 50, Qt::red));
}

// Records whose counts and offsets point past themselves are passed over; the records after
// them still draw.
TEST(Metafile, RecordsClaimingMoreThanTheyHoldArePassedOver) {
    const std::vector<std::pair<const char*, std::function<void(Emf&)>>> emfCases = {
        {"polygon of 2^31 points", [](Emf& e) { e.Rec(3, std::string(16, '\0') + Le32(0x7FFFFFFF) + Le32(0) + Le32(0)); }},
        {"polygon16 of 2^32-1", [](Emf& e) { e.Rec(86, std::string(16, '\0') + Le32(-1) + Le32(0)); }},
        {"polypolygon counts", [](Emf& e) { e.Rec(8, std::string(16, '\0') + Le32(0x40000000) + Le32(5) + Le32(5)); }},
        {"polypolygon16 sums",
         [](Emf& e) { e.Rec(91, std::string(16, '\0') + Le32(2) + Le32(3) + Le32(3) + Le32(0x7FFFFFFF) + std::string(12, '\0')); }},
        {"text count", [](Emf& e) { e.Text(0, 0, "abc", false, 0, 0x7FFFFFFF); }},
        {"wide text count", [](Emf& e) { e.Text(0, 0, "a\0", true, 0, 0x40000000); }},
        {"text advances past", [](Emf& e) { e.Text(0, 0, "abc", false, 0xFFFFFFF0); }},
        {"bitmap offsets past",
         [](Emf& e) {
             std::string r = std::string(16, '\0') + std::string(24, '\0') + Le32(0xFFFFFFF0) + Le32(40) + Le32(80) +
                             Le32(0x7FFFFFFF) + std::string(16, '\0');
             e.Rec(81, r);
         }},
        {"bitmap header cut", [](Emf& e) { e.StretchDib(0, 0, 10, 10, Le32(40) + Le32(5), 5, 5); }},
        {"bitmap header of 4 GB", [](Emf& e) { e.StretchDib(0, 0, 10, 10, Le32(0xFFFFFFF0) + std::string(36, '\1'), 5, 5); }},
        {"region count", [](Emf& e) { e.Rec(75, Le32(48) + Le32(2) + Le32(32) + Le32(1) + Le32(0x7FFFFFFF) + std::string(20, '\0') + Le32(1) + Le32(1) + Le32(2) + Le32(2)); }},
        {"font name unterminated", [](Emf& e) { e.Rec(82, Le32(2) + Le32(-20) + std::string(20, '\0') + std::string(20, 'A')); }},
        {"world transform of NaN", [](Emf& e) { e.Rec(35, std::string(24, '\xFF')); }},
        {"font turned by the smallest integer",
         [](Emf& e) {
             e.Rec(82, Le32(2) + Le32(-20) + Le32(0) + Le32(INT32_MIN) + Le32(INT32_MIN) + Le32(400) + std::string(8, '\0') + std::string(64, '\0'));
             e.Select(2).Text(0, 0, "abc", false);
         }},
        {"restore without save", [](Emf& e) { e.Rec(34, Le32(-0x7FFFFFFF)); }},
        {"huge pen", [](Emf& e) { e.Rec(38, Le32(3) + Le32(0) + Le32(0x7FFFFFFF) + Le32(0) + Le32(0)); }},
    };
    for (const auto& [name, add] : emfCases) {
        SCOPED_TRACE(name);
        Emf e(200, 100);
        add(e);
        e.Rec(36, std::string(24, '\0') + Le32(1));  // back to plain coordinates
        e.Brush(7, kBlue).Select(7).Rectangle(0, 0, 200, 100);
        EXPECT_TRUE(Is(RenderEmf(e), 100, 50, Qt::blue));
    }
    const std::vector<std::pair<const char*, std::function<void(Wmf&)>>> wmfCases = {
        {"polygon count", [](Wmf& w) { w.Words(0x0324, {30000, 1, 2}); }},
        {"polypolygon counts", [](Wmf& w) { w.Words(0x0538, {30000, 5, 5}); }},
        {"text count", [](Wmf& w) { w.Words(0x0521, {30000, 0x4141}); }},
        {"ext text count", [](Wmf& w) { w.Words(0x0A32, {0, 0, 30000, 6, 0, 0, 10, 10}); }},
        {"region scans", [](Wmf& w) { w.Words(0x06FF, {0, 6, 0, 0, 100, 30000, 0, 0, 0, 10, 10, 30000, 0, 5}).Delete(0); }},
        {"select missing object", [](Wmf& w) { w.Select(5000).Delete(5000); }},
        {"bitmap header cut", [](Wmf& w) { w.Rec(0x0F43, Le32(0x00CC0020) + std::string(18, '\0') + Le32(40) + Le32(5)); }},
        {"bitmap header of 4 GB",
         [](Wmf& w) { w.StretchDib(0, 0, 10, 10, Le32(0xFFFFFFF0) + std::string(60, '\1'), 5, 5); }},
        {"font name unterminated", [](Wmf& w) { w.Rec(0x02FB, std::string(18, '\0') + std::string(40, 'A')).Delete(0); }},
    };
    for (const auto& [name, add] : wmfCases) {
        SCOPED_TRACE(name);
        Wmf w(200, 100);
        add(w);
        w.Brush(kRed).Select(0).Rectangle(0, 0, 200, 100);
        EXPECT_TRUE(Is(RenderWmf(w), 100, 50, Qt::red));
    }
}

TEST(Metafile, BitmapsDrawWithinTheBudgetAndBombsAreRefused) {
    // 2 x 2 stretched over the picture: blue, white above red, green.
    const std::string dib = metafilemaker::Dib2x2();
    Wmf w(200, 100);
    w.StretchDib(0, 0, 200, 100, dib, 2, 2);
    Emf e(200, 100);
    e.StretchDib(0, 0, 200, 100, dib, 2, 2);
    for (const QImage& img : {RenderWmf(w), RenderEmf(e)}) {
        EXPECT_TRUE(Is(img, 20, 20, Qt::blue));
        EXPECT_TRUE(Is(img, 180, 20, Qt::white));
        EXPECT_TRUE(Is(img, 20, 80, Qt::red));
        EXPECT_TRUE(Is(img, 180, 80, Qt::green));
    }

    // A 1.2 KB file claiming a 65535 x 65535 bitmap: refused at once, nothing allocated.
    const std::string bomb = Wmf(200, 100).StretchDib(0, 0, 200, 100, metafilemaker::RleBomb(65535, 65535), 65535, 65535).Build();
    QElapsedTimer timer;
    timer.start();
    try {
        Render(bomb, MetafileKind::Wmf);
        ADD_FAILURE() << "accepted";
    } catch (const EInvalidGraphic& x) {
        EXPECT_NE(std::string(x.what()).find("大きすぎ"), std::string::npos) << x.what();
    }
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_THROW(Render(Emf(200, 100).StretchDib(0, 0, 200, 100, metafilemaker::RleBomb(65535, -65535), 5, 5).Build(),
                        MetafileKind::Emf),
                 EInvalidGraphic);
    // Bitmaps each within the budget count together: four of 1 MB pass 3 MB, three do not.
    Wmf three(200, 100), four(200, 100);
    for (int i = 0; i < 3; ++i) three.StretchDib(0, 0, 200, 100, metafilemaker::RleBomb(512, 512), 512, 512);
    four = three;
    four.StretchDib(0, 0, 200, 100, metafilemaker::RleBomb(512, 512), 512, 512);
    EXPECT_NO_THROW(Render(three.Build(), MetafileKind::Wmf, QSize(200, 100), 3 << 20));
    EXPECT_THROW(Render(four.Build(), MetafileKind::Wmf, QSize(200, 100), 3 << 20), EInvalidGraphic);
    // The budget is the caller's: the same small bitmaps pass a large one and not a tiny one.
    Wmf two(200, 100);
    two.StretchDib(0, 0, 100, 100, dib, 2, 2).StretchDib(100, 0, 100, 100, dib, 2, 2);
    EXPECT_NO_THROW(Render(two.Build(), MetafileKind::Wmf, QSize(200, 100), 1000));
    EXPECT_THROW(Render(two.Build(), MetafileKind::Wmf, QSize(200, 100), 20), EInvalidGraphic);
    // A picture of its own size beyond the budget is drawn smaller, not refused.
    const QImage reduced = Render(Wmf(16000, 16000).Brush(kRed).Select(0).Rectangle(0, 0, 16000, 16000).Build(),
                                  MetafileKind::Wmf, QSize(), 4 * 1000 * 1000);
    EXPECT_LE(static_cast<qint64>(reduced.width()) * reduced.height() * 4, 4 * 1000 * 1000);
    EXPECT_TRUE(Is(reduced, reduced.width() / 2, reduced.height() / 2, Qt::red));
}

}  // namespace
