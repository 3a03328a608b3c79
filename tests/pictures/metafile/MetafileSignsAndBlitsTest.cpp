// Metafile text in symbol faces and under world transforms, and the blits that blend, leave a
// colour out, mask or draw into a parallelogram: each compared by pixels with what its record
// means, beside the damaged or hostile twin that must not draw or must be refused cleanly.
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QPainter>
#include <functional>

#include "MetafileChecks.h"
#include "pictures/Pictures.h"

namespace {

using metafilemaker::Dib2x2;
using metafilemaker::Dib32;
using metafilemaker::F32;
using metafilemaker::Le16;
using metafilemaker::Le32;
using metafilemaker::MonoDib;
using metafilemaker::Utf16;
using namespace metafilechecks;

// EMF text of `height` pixels in a face and character set at (10, 10), as 8-bit bytes or
// UTF-16 code units, with optional advances.
QImage EmfText(const std::u16string& face, int charset, const std::string& text, bool wide,
               const std::vector<int>& dx = {}) {
    Emf e(300, 60);
    e.Font(1, -40, charset, face).Select(1).TextColour(kBlack).Transparent();
    if (dx.empty()) {
        e.Text(10, 10, text, wide);
    } else {
        std::string advances;
        for (int d : dx) advances += Le32(d);
        const uint32_t n = static_cast<uint32_t>(wide ? text.size() / 2 : text.size());
        const std::string padded = metafilemaker::Pad(text, 4);
        std::string r = Le32(0) + Le32(0) + Le32(-1) + Le32(-1) + Le32(1) + F32(1) + F32(1) + Le32(10) + Le32(10) + Le32(n) +
                        Le32(76) + Le32(0) + Le32(0) + Le32(0) + Le32(-1) + Le32(-1) +
                        Le32(76 + static_cast<int64_t>(padded.size()));
        e.Rec(wide ? 84 : 83, r + padded + advances);
    }
    return RenderEmf(e, QSize(300, 60));
}

QImage WmfText(const std::string& face, int charset, const std::string& text) {
    Wmf w(300, 60);
    w.Font(-40, charset, face).Select(0).TextColour(kBlack).Transparent().TextOut(10, 10, text);
    return RenderWmf(w, QSize(300, 60));
}

// A symbol face's codes draw its own signs, whatever character set the font record names:
// the same picture as the signs given in Unicode. A face of letters with the same bytes draws
// something else.
TEST(MetafileSigns, SymbolFacesDrawTheirOwnSignsWhateverTheCharacterSet) {
    struct Case {
        const char* name;
        std::string face;
        int charset;
        std::string bytes;
        std::u16string signs;
    };
    const std::vector<Case> cases = {
        {"Symbol in the default set", "Symbol", 1, "p\xB9\xE6\xE7\xE8", u"π≠⎛⎜⎝"},
        {"Symbol in the ANSI set", "Symbol", 0, "abg\xAE", u"αβγ→"},
        {"Symbol in the symbol set", "Symbol", 2, "S\xE5\xF2", u"Σ∑∫"},
        {"Symbol in the Japanese set, upper case name", "SYMBOL", 128, "\xA3\xB3\xDE", u"≤≥⇒"},
        {"MT Extra", "MT Extra", 1, "LM", u"⋯⋮"},
        {"Wingdings", "Wingdings", 1, "\xFC\x81\x6C", u"✔①●"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::u16string face(c.face.begin(), c.face.end());
        if (c.face == "Wingdings" && QFontDatabase::hasFamily(QStringLiteral("Wingdings"))) {
            // Installed, the face draws its own codes, as on Windows.
            EXPECT_GT(Ink(WmfText(c.face, c.charset, c.bytes)), 40);
            continue;
        }
        const QImage signs = EmfText(face, c.charset, Utf16(c.signs), true);
        EXPECT_GT(Ink(signs), 40);
        EXPECT_EQ(EmfText(face, c.charset, c.bytes, false), signs);
        EXPECT_EQ(WmfText(c.face, c.charset, c.bytes), signs);
        // ExtTextOutW with the codes as they are and moved to the private use area.
        std::u16string low, high;
        for (unsigned char b : c.bytes) {
            low += static_cast<char16_t>(b);
            high += static_cast<char16_t>(0xF000 + b);
        }
        EXPECT_EQ(EmfText(face, c.charset, Utf16(low), true), signs);
        EXPECT_EQ(EmfText(face, c.charset, Utf16(high), true), signs);
        // The twin: a face of letters reads the same bytes in its character set.
        EXPECT_NE(EmfText(u"Arial", c.charset, c.bytes, false), signs);
    }
}

// A sign past the 16-bit range takes two code units; the advances given per byte still put
// every sign where the record says.
TEST(MetafileSigns, AdvancesStayWithTheirSignsPastTheSixteenBitRange) {
    if (QFontDatabase::hasFamily(QStringLiteral("Wingdings"))) GTEST_SKIP() << "Wingdings draws its own codes here";
    const QImage bytes = EmfText(u"Wingdings", 2, "\x21\xFC", false, {150, 40});
    const QImage signs = EmfText(u"Wingdings", 2, Utf16(u"\U0001F589✔"), true, {150, 0, 40});
    EXPECT_EQ(bytes, signs);
    // The tick lies past the first advance, not beside the first sign.
    EXPECT_GT(Ink(bytes, QRect(158, 0, 60, 60)), 40);
    // Advances of the wrong count are ignored, as for any text: the tick moves back.
    EXPECT_EQ(Ink(EmfText(u"Wingdings", 2, "\x21\xFC", false, {150}), QRect(158, 0, 60, 60)), 0);
}

// ---- text under the world transform ----

// "HHHH" at (100, 100) on its baseline, after `world`.
QImage TurnedText(const std::function<void(Emf&)>& world) {
    Emf e(200, 200);
    e.Font(1, -24, 0, u"DejaVu Sans").Select(1).TextColour(kBlack).Transparent().Rec(22, Le32(24));
    world(e);
    e.Text(100, 100, "HHHH", false);
    return RenderEmf(e, QSize(200, 200));
}

// The upright text moved by the transform, as its record means it.
QImage Moved(const QImage& upright, const QTransform& t) {
    QImage out(upright.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setTransform(t);
    p.drawImage(0, 0, upright);
    return out;
}

// Ink both pictures share, as a part of the larger ink.
double Overlap(const QImage& a, const QImage& b) {
    int both = 0, inA = 0, inB = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const bool ia = a.pixelColor(x, y).alpha() > 100, ib = b.pixelColor(x, y).alpha() > 100;
            both += ia && ib;
            inA += ia;
            inB += ib;
        }
    return std::max(inA, inB) ? static_cast<double>(both) / std::max(inA, inB) : 0;
}

TEST(MetafileTurnedText, TextFollowsTheWorldTransformsTurnAndShear) {
    const QImage upright = TurnedText([](Emf&) {});
    const InkPlace flat = WhereInk(upright);
    ASSERT_GT(flat.count, 100);
    EXPECT_GT(flat.box.width(), 2 * flat.box.height());  // a line across
    EXPECT_GE(flat.box.left(), 98);
    EXPECT_LE(flat.box.bottom(), 102);

    const double c30 = std::cos(M_PI / 6), s30 = std::sin(M_PI / 6);
    struct Case {
        const char* name;
        QTransform world;  // each keeps (100, 100) in its place
    };
    const std::vector<Case> cases = {
        {"a quarter turn", QTransform(0, 1, -1, 0, 200, 0)},
        {"a half turn", QTransform(-1, 0, 0, -1, 200, 200)},
        {"thirty degrees up", QTransform(c30, -s30, s30, c30, 100 - 100 * c30 - 100 * s30, 100 + 100 * s30 - 100 * c30)},
        {"sheared", QTransform(1, 0, -1, 1, 100, 0)},
        {"turned and doubled", QTransform(0, 2, -2, 0, 300, -100)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QTransform& w = c.world;
        ASSERT_NEAR(w.map(QPointF(100, 100)).x(), 100, 1e-3);
        ASSERT_NEAR(w.map(QPointF(100, 100)).y(), 100, 1e-3);
        const QImage turned = TurnedText([&w](Emf& e) {
            e.World(static_cast<float>(w.m11()), static_cast<float>(w.m12()), static_cast<float>(w.m21()),
                    static_cast<float>(w.m22()), static_cast<float>(w.dx()), static_cast<float>(w.dy()));
        });
        const QImage expected = Moved(upright, w);
        EXPECT_GT(Overlap(turned, expected), 0.6);
        // The twin: text left upright under the transform is not what the record means.
        EXPECT_LT(Overlap(upright, expected), 0.35);
    }
    // A quarter turn: the baseline runs down from the reference point, the letters' tops to the right.
    const InkPlace down = WhereInk(TurnedText([](Emf& e) { e.World(0, 1, -1, 0, 200, 0); }));
    EXPECT_GT(down.box.height(), 2 * down.box.width());
    EXPECT_GE(down.box.top(), 98);
    EXPECT_GE(down.box.left(), 98);
    // ModifyWorldTransform gives the same as setting it.
    const QImage modified = TurnedText([](Emf& e) {
        e.Rec(36, F32(0) + F32(1) + F32(-1) + F32(0) + F32(200) + F32(0) + Le32(2));
    });
    EXPECT_EQ(modified, TurnedText([](Emf& e) { e.World(0, 1, -1, 0, 200, 0); }));
}

// Under a page whose y axis points up, a turn of the logical space turns the text the same
// way as it turns the space, and the letters are not mirrored.
TEST(MetafileTurnedText, TextTurnsWithTheSpaceOfAPageWithItsYAxisUp) {
    // Tenths of a millimetre at 4 pixels a millimetre: (250, -250) is the device's (100, 100).
    const auto draw = [](bool turned) {
        Emf e(200, 200);
        e.Rec(17, Le32(2)).Font(1, -60, 0, u"DejaVu Sans").Select(1).TextColour(kBlack).Transparent().Rec(22, Le32(24));
        if (turned) e.World(0, 1, -1, 0, 0, -500);  // a quarter turn about (250, -250), counter-clockwise as y points up
        e.Text(250, -250, "HHHL", false);
        return RenderEmf(e, QSize(200, 200));
    };
    const QImage upright = draw(false), turned = draw(true);
    const InkPlace flat = WhereInk(upright);
    ASSERT_GT(flat.count, 100);
    EXPECT_GE(flat.box.left(), 98);
    EXPECT_LE(flat.box.bottom(), 102);
    // On the device the baseline runs up from (100, 100), the letters' tops to the left.
    const QImage expected = Moved(upright, QTransform(0, -1, 1, 0, 0, 200));
    EXPECT_GT(Overlap(turned, expected), 0.6);
    // The twins: turned the other way, or mirrored, is not what the record means.
    EXPECT_LT(Overlap(Moved(upright, QTransform(0, 1, -1, 0, 200, 0)), expected), 0.35);
    EXPECT_LT(Overlap(Moved(upright, QTransform(0, -1, -1, 0, 200, 200)), expected), 0.35);
}

// A world squeezed to a line or a point, or made of NaN, shows no text and stops nothing.
TEST(MetafileTurnedText, ADegenerateWorldDrawsNoTextAndTheRestStillDraws) {
    const std::vector<std::pair<const char*, std::function<void(Emf&)>>> cases = {
        {"all zero", [](Emf& e) { e.World(0, 0, 0, 0, 0, 0); }},
        {"to a line", [](Emf& e) { e.World(1, 1, 1, 1, 0, 0); }},
        {"NaN", [](Emf& e) { e.Rec(35, std::string(24, '\xFF')); }},
        {"huge", [](Emf& e) { e.World(1e30f, 0, 0, 1e30f, 0, 0); }},
        {"sheared a million times", [](Emf& e) { e.World(1, 0, 1e6f, 1, 0, 0); }},
        {"stretched one way only", [](Emf& e) { e.World(1000, 0, 0, 0.5f, 0, 0); }},
    };
    for (const auto& [name, world] : cases) {
        SCOPED_TRACE(name);
        Emf e(200, 100);
        e.Font(1, -24, 0, u"DejaVu Sans").Select(1).TextColour(kBlack).Transparent();
        world(e);
        e.Text(10, 10, "HHHH", false);
        EXPECT_EQ(Ink(RenderEmf(e)), 0);
        e.Rec(36, std::string(24, '\0') + Le32(1)).Brush(7, kBlue).Select(7).Rectangle(0, 0, 200, 100);
        EXPECT_TRUE(Is(RenderEmf(e), 100, 50, Qt::blue));
    }
}

// ---- blits ----

// A background of one colour over the whole picture, drawn before the blit.
Emf Ground(uint32_t bgr, int w = 200, int h = 100) {
    Emf e(w, h);
    e.Brush(9, bgr).Select(9).Rec(38, Le32(8) + Le32(5) + Le32(0) + Le32(0) + Le32(0)).Select(8).Rectangle(0, 0, w, h);
    return e;
}

uint32_t Blend(int sourceAlpha, bool perPixel, int op = 0) { return op | sourceAlpha << 16 | (perPixel ? 1 : 0) << 24; }

TEST(MetafileBlits, AlphaBlendMixesByConstantAndPerPixelAlpha) {
    // Top row: half-covered blue, nothing; bottom row: opaque green, a quarter-covered grey.
    const std::string dib = Dib32(2, {0x80000080, 0x00000000, 0xFF00FF00, 0x40404040});
    struct Case {
        const char* name;
        uint32_t blend;
        QColor topLeft, topRight, bottomLeft, bottomRight;
    };
    const QColor red(255, 0, 0);
    const std::vector<Case> cases = {
        {"per-pixel alpha", Blend(255, true), QColor(127, 0, 128), red, QColor(0, 255, 0), QColor(255, 64, 64)},
        {"per-pixel and half constant", Blend(128, true), QColor(191, 0, 64), red, QColor(127, 128, 0), QColor(255, 32, 32)},
        {"constant alone ignores the fourth byte", Blend(128, false), QColor(127, 0, 64), QColor(127, 0, 0),
         QColor(127, 128, 0), QColor(159, 32, 32)},
        {"fully transparent", Blend(0, true), red, red, red, red},
        {"an operation that is not source-over", Blend(255, true, 1), red, red, red, red},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Emf e = Ground(kRed);
        e.BlendBlit(114, 0, 0, 100, 100, c.blend, dib, 2, 2);
        const QImage img = RenderEmf(e);
        EXPECT_TRUE(Near(img, 25, 25, c.topLeft, 8)) << img.pixelColor(25, 25).name().toStdString();
        EXPECT_TRUE(Near(img, 75, 25, c.topRight, 8)) << img.pixelColor(75, 25).name().toStdString();
        EXPECT_TRUE(Near(img, 25, 75, c.bottomLeft, 8)) << img.pixelColor(25, 75).name().toStdString();
        EXPECT_TRUE(Near(img, 75, 75, c.bottomRight, 8)) << img.pixelColor(75, 75).name().toStdString();
        EXPECT_TRUE(Is(img, 150, 50, red));  // outside the destination
    }
    // A 24-bit source blends by its constant alpha alone.
    Emf e = Ground(kRed);
    e.BlendBlit(114, 0, 0, 200, 100, Blend(128, true), Dib2x2(), 2, 2);
    EXPECT_TRUE(Near(RenderEmf(e), 50, 25, QColor(127, 0, 128), 8));
}

TEST(MetafileBlits, TransparentBlitLeavesItsColourOut) {
    // Blue, white above red, green; white is left out and the black ground shows.
    Emf e = Ground(kBlack);
    e.BlendBlit(116, 0, 0, 200, 100, 0x00FFFFFF, Dib2x2(), 2, 2);
    QImage img = RenderEmf(e);
    EXPECT_TRUE(Is(img, 50, 25, Qt::blue));
    EXPECT_TRUE(Is(img, 150, 25, Qt::black));
    EXPECT_TRUE(Is(img, 50, 75, Qt::red));
    EXPECT_TRUE(Is(img, 150, 75, Qt::green));
    // The twin: a colour the bitmap does not hold leaves everything in.
    Emf all = Ground(kBlack);
    all.BlendBlit(116, 0, 0, 200, 100, 0x00FF00FF, Dib2x2(), 2, 2);
    img = RenderEmf(all);
    EXPECT_TRUE(Is(img, 150, 25, Qt::white));
    EXPECT_TRUE(Is(img, 50, 25, Qt::blue));
}

TEST(MetafileBlits, MaskBlitChoosesByTheMask) {
    // A 20 x 10 blue source; the mask is set on its left half.
    const std::string blue = Dib32(20, std::vector<uint32_t>(200, 0xFF0000FF));
    std::vector<std::vector<bool>> rows(10, std::vector<bool>(20, false));
    for (auto& row : rows) std::fill(row.begin(), row.begin() + 10, true);
    const std::string mask = MonoDib(20, rows);
    constexpr uint32_t kCopyWhereSet = 0xAACC0020, kCopyWhereClear = 0xCCAA0029, kCopy = 0x00CC0020;
    struct Case {
        const char* name;
        uint32_t rop;
        bool withMask;
        bool left, right;  // blue
    };
    const std::vector<Case> cases = {
        {"copy where the mask is set", kCopyWhereSet, true, true, false},
        {"copy where it is clear", kCopyWhereClear, true, false, true},
        {"no mask: a plain copy", kCopy, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Emf e = Ground(kBlack, 20, 10);
        e.MaskBlit(0, 0, 20, 10, c.rop, blue, c.withMask ? mask : "");
        const QImage img = RenderEmf(e, QSize(200, 100));
        EXPECT_EQ(Is(img, 50, 50, Qt::blue), c.left);
        EXPECT_EQ(Is(img, 150, 50, Qt::blue), c.right);
        if (!c.left) {
            EXPECT_TRUE(Is(img, 50, 50, Qt::black));
        }
        if (!c.right) {
            EXPECT_TRUE(Is(img, 150, 50, Qt::black));
        }
    }
}

TEST(MetafileBlits, PlgBlitDrawsIntoItsParallelogram) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> corners;
        std::string mask;
        QColor at[4];  // (125, 25), (175, 25), (125, 75), (175, 75)
    };
    const QColor blue(Qt::blue), white(Qt::white), red(Qt::red), green(Qt::green), black(Qt::black);
    const std::vector<Case> cases = {
        {"the right half", {{100, 0}, {200, 0}, {100, 100}}, "", {blue, white, red, green}},
        {"mirrored", {{200, 0}, {100, 0}, {200, 100}}, "", {white, blue, green, red}},
        {"upside down", {{100, 100}, {200, 100}, {100, 0}}, "", {red, green, blue, white}},
        {"through a mask", {{100, 0}, {200, 0}, {100, 100}}, MonoDib(2, {{true, false}, {false, true}}), {blue, black, black, green}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Emf e = Ground(kBlack);
        e.PlgBlit(c.corners, Dib2x2(), 2, 2, c.mask);
        const QImage img = RenderEmf(e);
        const QPoint points[] = {{125, 25}, {175, 25}, {125, 75}, {175, 75}};
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(Is(img, points[i].x(), points[i].y(), c.at[i])) << i << img.pixelColor(points[i]).name().toStdString();
        EXPECT_TRUE(Is(img, 50, 50, Qt::black));  // the left half stays
    }
    // A sheared parallelogram: the source's left edge leans, so the top-left corner of the
    // picture is ground and the bottom-left is the bitmap's red.
    Emf e = Ground(kBlack);
    e.PlgBlit({{50, 0}, {150, 0}, {0, 100}}, Dib2x2(), 2, 2);
    const QImage img = RenderEmf(e);
    EXPECT_TRUE(Is(img, 5, 5, Qt::black));
    EXPECT_TRUE(Is(img, 15, 90, Qt::red));
}

// Blit records cut short, pointing past themselves or claiming enormous bitmaps: passed over
// or refused, never read outside the file (the sanitizer build checks).
TEST(MetafileBlits, DamagedBlitsArePassedOverAndBombsRefused) {
    const std::string dib = Dib2x2();
    const std::vector<std::pair<const char*, std::function<void(Emf&)>>> cases = {
        {"alpha blend cut short", [](Emf& e) { e.Rec(114, std::string(40, '\0')); }},
        {"transparent blit cut short", [](Emf& e) { e.Rec(116, std::string(60, '\1')); }},
        {"mask blit cut short", [](Emf& e) { e.Rec(78, std::string(44, '\2')); }},
        {"plg blit cut short", [](Emf& e) { e.Rec(79, std::string(100, '\3')); }},
        {"offsets past the record",
         [&dib](Emf& e) {
             std::string r = metafilemaker::Emf(1, 1).BlendBlit(116, 0, 0, 10, 10, 0, dib, 2, 2).Build().substr(88 + 8);
             r.replace(84 - 8, 4, Le32(0x7FFFFFF0));
             e.Rec(116, r.substr(0, r.size() - 20));
         }},
        {"mask offsets past the record",
         [&dib](Emf& e) {
             std::string r = metafilemaker::Emf(1, 1).MaskBlit(0, 0, 2, 2, 0xAACC0020, dib, MonoDib(2, {{true, true}, {true, true}})).Build().substr(96);
             r.replace(112 - 8, 4, Le32(-16));
             e.Rec(78, r.substr(0, r.size() - 20));
         }},
        {"source outside the bitmap", [&dib](Emf& e) { e.BlendBlit(114, 0, 0, 10, 10, Blend(255, false), dib, -50, 0x7FFFFFFF); }},
        {"a parallelogram of one point", [&dib](Emf& e) { e.PlgBlit({{5, 5}, {5, 5}, {5, 5}}, dib, 2, 2); }},
        {"a mask smaller than the source",
         [](Emf& e) { e.MaskBlit(0, 0, 20, 10, 0xAACC0020, Dib32(20, std::vector<uint32_t>(200, 0xFF00FF00)), MonoDib(1, {{true}})); }},
        {"32-bit pixels cut short", [](Emf& e) { e.BlendBlit(114, 0, 0, 10, 10, Blend(255, true), Dib32(2, {1, 2, 3, 4}).substr(0, 50), 2, 2); }},
    };
    for (const auto& [name, add] : cases) {
        SCOPED_TRACE(name);
        Emf e(200, 100);
        add(e);
        e.Rec(36, std::string(24, '\0') + Le32(1)).Brush(7, kBlue).Select(7).Rectangle(0, 0, 200, 100);
        EXPECT_TRUE(Is(RenderEmf(e), 100, 50, Qt::blue));
    }
    // 1 KB records claiming bitmaps of 65535 x 65535, as the source or as the mask.
    const std::string bomb = metafilemaker::RleBomb(65535, 65535);
    const std::vector<std::pair<const char*, std::function<void(Emf&)>>> bombs = {
        {"alpha blend", [&bomb](Emf& e) { e.BlendBlit(114, 0, 0, 10, 10, Blend(255, true), bomb, 2, 2); }},
        {"transparent blit", [&bomb](Emf& e) { e.BlendBlit(116, 0, 0, 10, 10, 0, bomb, 2, 2); }},
        {"mask blit's source", [&bomb](Emf& e) { e.MaskBlit(0, 0, 10, 10, 0xAACC0020, bomb, MonoDib(2, {{true, true}, {true, true}})); }},
        {"mask blit's mask", [&dib, &bomb](Emf& e) { e.MaskBlit(0, 0, 10, 10, 0xAACC0020, dib, bomb); }},
        {"plg blit", [&bomb](Emf& e) { e.PlgBlit({{0, 0}, {10, 0}, {0, 10}}, bomb, 2, 2); }},
    };
    for (const auto& [name, add] : bombs) {
        SCOPED_TRACE(name);
        Emf e(200, 100);
        add(e);
        try {
            RenderEmf(e);
            ADD_FAILURE() << "accepted";
        } catch (const EInvalidGraphic& x) {
            EXPECT_NE(std::string(x.what()).find("大きすぎ"), std::string::npos) << x.what();
        }
    }
}

}  // namespace
