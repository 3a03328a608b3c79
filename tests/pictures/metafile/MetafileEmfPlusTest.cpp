// EMF+ pictures: the drawing GDI+ writes into EMF comments, played for the common primitives
// and compared by pixels with what the records mean; files that mix in EMF records; and
// damaged or hostile EMF+ that ends in a clean refusal or is passed over.
#include <gtest/gtest.h>

#include <functional>

#include "MetafileChecks.h"
#include "pictures/Pictures.h"

namespace {

using metafilemaker::F32;
using metafilemaker::Le16;
using metafilemaker::Le32;
using metafilemaker::Plus;
using namespace metafilechecks;

constexpr uint32_t kPlusBlue = 0xFF0000FF, kPlusRed = 0xFFFF0000, kPlusBlack = 0xFF000000;

std::string Points(const std::vector<std::pair<float, float>>& pts) {
    std::string s;
    for (const auto& [x, y] : pts) s += F32(x) + F32(y);
    return s;
}
std::string Utf16(const std::u16string& s) { return metafilemaker::Utf16(s); }

// An EMF of 200 x 100 pixels whose drawing is only the EMF+ records `add` writes.
Emf PlusOnly(const std::function<void(Plus&)>& add, bool dual = false) {
    Plus p;
    p.Header(dual);
    add(p);
    Emf e(200, 100);
    e.Comment(p);
    return e;
}

// Each case draws blue where the records mean it: the left half of the picture or, for the
// shapes, what the expectations list.
TEST(MetafileEmfPlus, CommonPrimitivesDrawWhereTheirRecordsSay) {
    struct Case {
        const char* name;
        std::function<void(Plus&)> add;
        std::vector<QPoint> blue, empty;
    };
    const std::vector<QPoint> leftHalf = {{5, 5}, {95, 95}, {50, 50}};
    const std::vector<QPoint> rightHalf = {{105, 50}, {195, 5}, {150, 95}};
    const std::vector<Case> cases = {
        {"rectangle of a colour", [](Plus& p) { p.FillRect(kPlusBlue, 0, 0, 100, 100); }, leftHalf, rightHalf},
        {"rectangle of a brush object", [](Plus& p) { p.SolidBrush(3, kPlusBlue).FillRectWith(3, 0, 0, 100, 100); }, leftHalf, rightHalf},
        {"rectangles in 16 bits",
         [](Plus& p) { p.Rec(0x400A, 0xC000, Le32(kPlusBlue) + Le32(2) + Le16(0) + Le16(0) + Le16(50) + Le16(100) + Le16(50) + Le16(0) + Le16(50) + Le16(100)); },
         leftHalf, rightHalf},
        {"polygon", [](Plus& p) { p.Rec(0x400C, 0x8000, Le32(kPlusBlue) + Le32(3) + Points({{0, 0}, {100, 0}, {0, 100}})); },
         {{10, 10}, {60, 20}}, {{80, 80}, {150, 50}}},
        {"polygon of relative steps",
         [](Plus& p) {
             // (0, 0), then +100 across, then -100 across and +100 down: steps of one and two bytes.
             const std::string steps = std::string("\x00\x00", 2) + "\x80\x64" + std::string("\x00", 1) + "\xFF\x9C" + "\x80\x64";
             p.Rec(0x400C, 0x8800, Le32(kPlusBlue) + Le32(3) + steps);
         },
         {{10, 10}, {60, 20}}, {{80, 80}, {150, 50}}},
        {"ellipse", [](Plus& p) { p.Rec(0x400E, 0x8000, Le32(kPlusBlue) + Plus::Rect(0, 0, 100, 100)); },
         {{50, 50}, {50, 5}}, {{3, 3}, {97, 97}, {150, 50}}},
        {"pie", [](Plus& p) { p.Rec(0x4010, 0x8000, Le32(kPlusBlue) + F32(0) + F32(90) + Plus::Rect(0, 0, 100, 100)); },
         {{70, 70}}, {{30, 30}, {70, 30}, {30, 70}}},
        {"path with a closed figure",
         [](Plus& p) {
             p.Path(1, {{0, 0}, {100, 0}, {100, 100}, {0, 100}}, std::string("\x00\x01\x01\x81", 4));
             p.Rec(0x4014, 0x8001, Le32(kPlusBlue));
         },
         leftHalf, rightHalf},
        {"path of Bézier curves",
         [](Plus& p) {
             p.Path(2, {{0, 0}, {33, 0}, {66, 0}, {100, 0}, {100, 33}, {100, 66}, {100, 100}, {0, 100}},
                    std::string("\x00\x03\x03\x03\x03\x03\x03\x81", 8));
             p.SolidBrush(4, kPlusBlue).Rec(0x4014, 2, Le32(4));
         },
         leftHalf, rightHalf},
        {"wide pen", [](Plus& p) { p.Pen(5, 100, kPlusBlue).Rec(0x400D, 5, Le32(2) + Points({{50, 0}, {50, 100}})); }, leftHalf, rightHalf},
        {"world scaled", [](Plus& p) { p.Rec(0x402E, 0, F32(0.5f) + F32(1)).FillRect(kPlusBlue, 0, 0, 200, 100); }, leftHalf, rightHalf},
        {"world moved", [](Plus& p) { p.Rec(0x402D, 0, F32(-100) + F32(0)).FillRect(kPlusBlue, 0, 0, 200, 100); }, leftHalf, rightHalf},
        {"world turned",
         [](Plus& p) { p.Rec(0x402D, 0, F32(100) + F32(0)).Rec(0x402F, 0, F32(90)).FillRect(kPlusBlue, 0, 0, 100, 100); },
         leftHalf, rightHalf},
        {"page in inches", [](Plus& p) { p.Rec(0x4030, 4, F32(1)).FillRect(kPlusBlue, 0, 0, 100 / 96.f, 100 / 96.f); }, leftHalf, rightHalf},
        {"clipped", [](Plus& p) { p.Rec(0x4032, 1 << 8, Plus::Rect(0, 0, 100, 100)).FillRect(kPlusBlue, 0, 0, 200, 100); }, leftHalf, rightHalf},
        {"clip excluded", [](Plus& p) { p.Rec(0x4032, 4 << 8, Plus::Rect(100, 0, 100, 100)).FillRect(kPlusBlue, 0, 0, 200, 100); }, leftHalf, rightHalf},
        {"clip of a region",
         [](Plus& p) {
             p.Object(6, 4, Le32(Plus::kVersion) + Le32(2) + Le32(1) + Le32(0x10000003) + Le32(0x10000000) + Plus::Rect(0, 0, 100, 100));
             p.Rec(0x4034, 6 | 1 << 8, "").FillRect(kPlusBlue, 0, 0, 200, 100);
         },
         leftHalf, rightHalf},
        {"clip restored",
         [](Plus& p) {
             p.Rec(0x4025, 0, Le32(7)).Rec(0x4032, 1 << 8, Plus::Rect(100, 0, 100, 100)).FillRect(kPlusRed, 0, 0, 200, 100);
             p.Rec(0x4026, 0, Le32(7)).FillRect(kPlusBlue, 0, 0, 100, 100);
         },
         leftHalf, {}},
        {"container moves its drawing",
         [](Plus& p) {
             p.Rec(0x4027, 2, Plus::Rect(0, 0, 100, 100) + Plus::Rect(0, 0, 10, 10) + Le32(3)).FillRect(kPlusBlue, 0, 0, 10, 10);
             p.Rec(0x4029, 0, Le32(3)).Rec(0x400B, 0, Le32(0));
         },
         leftHalf, rightHalf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage img = RenderEmf(PlusOnly(c.add));
        for (const QPoint& q : c.blue) EXPECT_TRUE(Is(img, q.x(), q.y(), Qt::blue)) << q.x() << "," << q.y();
        for (const QPoint& q : c.empty) EXPECT_FALSE(Is(img, q.x(), q.y(), Qt::blue)) << q.x() << "," << q.y();
    }
}

TEST(MetafileEmfPlus, GradientsImagesAndTextDraw) {
    // A gradient from red at the left edge to blue at the right.
    QImage img = RenderEmf(PlusOnly([](Plus& p) {
        p.GradientBrush(1, 0, 0, 200, 100, kPlusRed, kPlusBlue).FillRectWith(1, 0, 0, 200, 100);
    }));
    EXPECT_TRUE(Near(img, 1, 50, QColor(254, 0, 1), 6));
    EXPECT_TRUE(Near(img, 198, 50, QColor(1, 0, 254), 6));
    EXPECT_TRUE(Near(img, 100, 50, QColor(127, 0, 128), 6));

    // A 2 x 2 image over the picture: blue, white above red, green; whole and in two pieces.
    const std::vector<uint32_t> pixels = {0xFF0000FF, 0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00};
    const std::string draw = Le32(0) + Le32(2) + Plus::Rect(0, 0, 2, 2) + Plus::Rect(0, 0, 200, 100);
    Plus whole;
    whole.Image(5, 2, pixels);
    const std::string object = whole.Bytes().substr(12);  // the image object's data
    const size_t half = object.size() / 2 & ~size_t(3);  // pieces are whole words
    const std::vector<std::pair<const char*, std::function<void(Plus&)>>> images = {
        {"whole", [&](Plus& p) { p.Image(5, 2, pixels).Rec(0x401A, 5, draw); }},
        {"in two pieces",
         [&](Plus& p) {
             const std::string total = Le32(static_cast<int64_t>(object.size()));
             p.Rec(0x4008, 0x8000 | 5 << 8 | 5, total + object.substr(0, half)).Rec(0x4008, 5 << 8 | 5, object.substr(half));
             p.Rec(0x401A, 5, draw);
         }},
        {"by three points",
         [&](Plus& p) {
             p.Image(5, 2, pixels).Rec(0x401B, 5, Le32(0) + Le32(2) + Plus::Rect(0, 0, 2, 2) + Le32(3) + Points({{0, 0}, {200, 0}, {0, 100}}));
         }},
    };
    for (const auto& [name, add] : images) {
        SCOPED_TRACE(name);
        img = RenderEmf(PlusOnly(add));
        EXPECT_TRUE(Is(img, 50, 25, Qt::blue));
        EXPECT_TRUE(Is(img, 150, 25, Qt::white));
        EXPECT_TRUE(Is(img, 50, 75, Qt::red));
        EXPECT_TRUE(Is(img, 150, 75, Qt::green));
    }

    // Text in a layout box, and glyphs placed one by one: ink where the box is, none elsewhere.
    img = RenderEmf(PlusOnly([](Plus& p) {
        p.Font(2, 30, u"DejaVu Sans").Rec(0x401C, 0x8000 | 2, Le32(kPlusBlack) + Le32(63) + Le32(4) + Plus::Rect(10, 10, 90, 80) + Utf16(u"日本語A"));
    }));
    const InkPlace text = WhereInk(img);
    EXPECT_GT(text.count, 100);
    EXPECT_GE(text.box.left(), 9);
    EXPECT_LE(text.box.right(), 101);  // wrapped within the box
    EXPECT_GE(text.box.top(), 9);
    img = RenderEmf(PlusOnly([](Plus& p) {
        p.Font(2, 30, u"DejaVu Sans").Rec(0x4036, 0x8000 | 2, Le32(kPlusBlack) + Le32(1) + Le32(0) + Le32(2) + Utf16(u"AB") + Points({{110, 60}, {140, 60}}));
    }));
    const InkPlace glyphs = WhereInk(img);
    EXPECT_GT(glyphs.count, 50);
    EXPECT_GE(glyphs.box.left(), 108);
    EXPECT_LE(glyphs.box.bottom(), 62);
    // The twin: glyph numbers of a font that is not here draw nothing.
    Emf numbers = PlusOnly([](Plus& p) {
        p.FillRect(0xFFFFFFFF, 0, 0, 10, 10).Font(2, 30, u"DejaVu Sans");
        p.Rec(0x4036, 0x8000 | 2, Le32(kPlusBlack) + Le32(0) + Le32(0) + Le32(2) + Utf16(u"AB") + Points({{110, 60}, {140, 60}}));
    });
    EXPECT_EQ(Ink(RenderEmf(numbers)), 0);
}

// An EMF+ picture draws only the EMF records handed to GDI after a GetDC record; a file that
// also carries an EMF copy of its drawing shows its EMF+ unless that uses what this player
// cannot draw, and then the EMF copy.
TEST(MetafileEmfPlus, EmfRecordsBesideEmfPlusAreChosenAsGdiPlusWouldDraw) {
    const auto emfRed = [](Emf& e) { e.Brush(1, kRed).Select(1).Rectangle(100, 0, 200, 100); };
    // Without GetDC, the EMF rectangle is not part of an EMF+ picture.
    Emf plain = PlusOnly([](Plus& p) { p.FillRect(kPlusBlue, 0, 0, 100, 100); });
    emfRed(plain);
    QImage img = RenderEmf(plain);
    EXPECT_TRUE(Is(img, 50, 50, Qt::blue));
    EXPECT_FALSE(Is(img, 150, 50, Qt::red));
    // After GetDC it is.
    Emf handed = PlusOnly([](Plus& p) { p.FillRect(kPlusBlue, 0, 0, 100, 100).Rec(0x4004, 0, ""); });
    emfRed(handed);
    img = RenderEmf(handed);
    EXPECT_TRUE(Is(img, 50, 50, Qt::blue));
    EXPECT_TRUE(Is(img, 150, 50, Qt::red));

    // Dual: EMF+ blue on the left, the EMF copy red on the right.
    Emf dual = PlusOnly([](Plus& p) { p.FillRect(kPlusBlue, 0, 0, 100, 100); }, true);
    emfRed(dual);
    img = RenderEmf(dual);
    EXPECT_TRUE(Is(img, 50, 50, Qt::blue));
    EXPECT_FALSE(Is(img, 150, 50, Qt::red));
    // The twin: EMF+ with a record this player does not know, and the EMF copy is shown.
    Emf unknown = PlusOnly([](Plus& p) { p.FillRect(kPlusBlue, 0, 0, 100, 100).Rec(0x40F0, 0, Le32(1)); }, true);
    emfRed(unknown);
    img = RenderEmf(unknown);
    EXPECT_FALSE(Is(img, 50, 50, Qt::blue));
    EXPECT_TRUE(Is(img, 150, 50, Qt::red));
    // A comment that only looks like EMF+ is a comment: the EMF drawing shows.
    Emf notPlus(200, 100);
    notPlus.Rec(70, Le32(16) + "EMF-" + std::string(12, '\0'));
    emfRed(notPlus);
    EXPECT_TRUE(Is(RenderEmf(notPlus), 150, 50, Qt::red));
}

// EMF+ alone that draws nothing this player can is refused with the reason, not shown empty.
TEST(MetafileEmfPlus, EmfPlusThatCannotBeDrawnIsRefusedWithTheReason) {
    struct Case {
        const char* name;
        std::function<void(Plus&)> add;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"glyph numbers",
         [](Plus& p) { p.Font(2, 30, u"Arial").Rec(0x4036, 0x8000 | 2, Le32(kPlusBlack) + Le32(0) + Le32(0) + Le32(1) + Le16(36) + Points({{10, 50}})); },
         "グリフ"},
        {"an unknown record", [](Plus& p) { p.Rec(0x40F0, 0, Le32(1)); }, "0x40F0"},
        {"a metafile as an image",
         [](Plus& p) { p.Object(1, 5, Le32(Plus::kVersion) + Le32(2) + Le32(1) + Le32(0)).Rec(0x401A, 1, Le32(0) + Le32(2) + Plus::Rect(0, 0, 1, 1) + Plus::Rect(0, 0, 9, 9)); },
         "メタファイル"},
        {"an image that does not decode",
         [](Plus& p) { p.Object(1, 5, Le32(Plus::kVersion) + Le32(1) + Le32(4) + Le32(4) + Le32(16) + Le32(0x0026200A) + Le32(1) + "\x89PNG garbage").Rec(0x401A, 1, Le32(0) + Le32(2) + Plus::Rect(0, 0, 1, 1) + Plus::Rect(0, 0, 9, 9)); },
         "画像"},
        {"records cut short",
         [](Plus& p) { p.Rec(0x400A, 0x8000, Le32(kPlusBlue) + Le32(1) + Plus::Rect(0, 0, 9, 9)); },
         "途中"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = PlusOnly(c.add).Build();
        if (std::string(c.name) == "records cut short") bytes.replace(88 + 16 + 28 + 4, 4, Le32(0x1000));  // the fill's size
        try {
            Render(bytes, MetafileKind::Emf);
            ADD_FAILURE() << "accepted";
        } catch (const EInvalidGraphic& x) {
            EXPECT_NE(std::string(x.what()).find(c.reason), std::string::npos) << x.what();
        }
        // The twin: the same beside a rectangle this player draws is a picture.
        Emf drawn = PlusOnly([&c](Plus& p) { p.FillRect(kPlusBlue, 0, 0, 100, 100); });
        Plus more;
        c.add(more);
        drawn.Comment(more);
        if (std::string(c.name) != "records cut short") {
            EXPECT_TRUE(Is(RenderEmf(drawn), 50, 50, Qt::blue));
        }
    }
}

// Counts, sizes and object numbers that point past their records are passed over; the blue
// rectangle after them still draws, and nothing is read outside the file (the sanitizer
// build checks every case).
TEST(MetafileEmfPlus, HostileRecordsAndObjectsArePassedOver) {
    const std::vector<std::pair<const char*, std::function<void(Plus&)>>> cases = {
        {"object number past the table", [](Plus& p) { p.SolidBrush(200, kPlusRed).FillRectWith(200, 0, 0, 200, 100); }},
        {"image number past the table", [](Plus& p) { p.Rec(0x401A, 200, Le32(0) + Le32(2) + Plus::Rect(0, 0, 1, 1) + Plus::Rect(0, 0, 9, 9)).Rec(0x401B, 255, ""); }},
        {"brush that was never made", [](Plus& p) { p.FillRectWith(63, 0, 0, 200, 100).Rec(0x4014, 62, Le32(61)).Rec(0x4015, 60, Le32(59)); }},
        {"rectangles of 2^31", [](Plus& p) { p.Rec(0x400A, 0x8000, Le32(kPlusRed) + Le32(0x7FFFFFFF) + Plus::Rect(0, 0, 9, 9)); }},
        {"polygon of 2^30 points", [](Plus& p) { p.Rec(0x400C, 0x8000, Le32(kPlusRed) + Le32(0x40000000) + Points({{0, 0}})); }},
        {"relative steps cut short", [](Plus& p) { p.Rec(0x400C, 0x8800, Le32(kPlusRed) + Le32(50) + "\x80"); }},
        {"path of 2^32-1 points", [](Plus& p) { p.Object(1, 3, Le32(Plus::kVersion) + Le32(-1) + Le32(0) + Points({{0, 0}})).Rec(0x4014, 0x8001, Le32(kPlusRed)); }},
        {"path kinds past the data", [](Plus& p) { p.Object(1, 3, Le32(Plus::kVersion) + Le32(2) + Le32(0) + Points({{0, 0}, {5, 5}})).Rec(0x4014, 0x8001, Le32(kPlusRed)); }},
        {"path kinds in empty runs",
         [](Plus& p) { p.Object(1, 3, Le32(Plus::kVersion) + Le32(2) + Le32(0x1000) + Points({{0, 0}, {5, 5}}) + std::string(40, '\0')).Rec(0x4014, 0x8001, Le32(kPlusRed)); }},
        {"gradient of 2^32-1 colours",
         [](Plus& p) { p.Object(1, 1, Le32(Plus::kVersion) + Le32(4) + Le32(4) + Le32(0) + Plus::Rect(0, 0, 9, 9) + Le32(0) + Le32(0) + Le32(0) + Le32(0) + Le32(-1)); }},
        {"pen of 2^32-1 dashes", [](Plus& p) { p.Object(1, 2, Le32(Plus::kVersion) + Le32(0) + Le32(0x100) + Le32(0) + F32(1) + Le32(-1)).Rec(0x400D, 1, Le32(2) + Points({{0, 0}, {9, 9}})); }},
        {"pen with a cap past the data", [](Plus& p) { p.Object(1, 2, Le32(Plus::kVersion) + Le32(0) + Le32(0x800) + Le32(0) + F32(1) + Le32(0x7FFFFFF0)); }},
        {"piece of 4 GB", [](Plus& p) { p.Rec(0x4008, 0x8000 | 5 << 8 | 1, Le32(-1) + std::string(64, 'x')).Rec(0x4008, 5 << 8 | 1, std::string(8, 'y')); }},
        {"pieces of two objects interleaved",
         [](Plus& p) { p.Rec(0x4008, 0x8000 | 1 << 8 | 1, Le32(100) + std::string(20, 'x')).Rec(0x4008, 0x8000 | 1 << 8 | 2, Le32(100) + std::string(20, 'y')).Rec(0x4008, 1 << 8 | 1, std::string(8, 'z')); }},
        {"region nested past its depth",
         [](Plus& p) {
             std::string nodes;
             for (int i = 0; i < 3000; ++i) nodes += Le32(1);
             p.Object(1, 4, Le32(Plus::kVersion) + Le32(3000) + nodes).Rec(0x4034, 1 | 1 << 8, "");
         }},
        {"region path past its data", [](Plus& p) { p.Object(1, 4, Le32(Plus::kVersion) + Le32(1) + Le32(0x10000001) + Le32(0x7FFFFFF0)).Rec(0x4013, 0x8001, Le32(kPlusRed)); }},
        {"saves without end", [](Plus& p) { for (int i = 0; i < 5000; ++i) p.Rec(0x4025, 0, Le32(i)); p.Rec(0x4026, 0, Le32(0)); }},
        {"restore of a state never saved", [](Plus& p) { p.Rec(0x4026, 0, Le32(12345)).Rec(0x4029, 0, Le32(7)); }},
        {"font name of 2^31 letters", [](Plus& p) { p.Object(2, 6, Le32(Plus::kVersion) + F32(10) + Le32(2) + Le32(0) + Le32(0) + Le32(0x7FFFFFFF) + "A\0"); }},
        {"string of 2^31 letters", [](Plus& p) { p.Font(2, 10, u"A").Rec(0x401C, 0x8002, Le32(kPlusRed) + Le32(0) + Le32(0x7FFFFFFF) + Plus::Rect(0, 0, 9, 9) + "A\0"); }},
        {"driver string of 2^31 glyphs", [](Plus& p) { p.Font(2, 10, u"A").Rec(0x4036, 0x8002, Le32(kPlusRed) + Le32(1) + Le32(1) + Le32(0x7FFFFFFF) + "A\0"); }},
        {"image pixels cut short",
         [](Plus& p) { p.Object(1, 5, Le32(Plus::kVersion) + Le32(1) + Le32(100) + Le32(100) + Le32(400) + Le32(0x0026200A) + Le32(0) + std::string(64, 'x')); }},
        {"image of a stride too small",
         [](Plus& p) { p.Object(1, 5, Le32(Plus::kVersion) + Le32(1) + Le32(4) + Le32(4) + Le32(1) + Le32(0x0026200A) + Le32(0) + std::string(64, 'x')); }},
        {"palette of 2^32-1 colours",
         [](Plus& p) { p.Object(1, 5, Le32(Plus::kVersion) + Le32(1) + Le32(4) + Le32(4) + Le32(4) + Le32(0x00030803) + Le32(0) + Le32(0) + Le32(-1)); }},
        {"world and page of NaN", [](Plus& p) { p.Rec(0x402A, 0, std::string(24, '\xFF')).Rec(0x4030, 3, std::string(4, '\xFF')).FillRect(kPlusRed, 0, 0, 9, 9).Font(2, 10, u"A").Rec(0x401C, 0x8002, Le32(kPlusRed) + Le32(0) + Le32(1) + Plus::Rect(0, 0, 9, 9) + "A\0"); }},
        {"text sheared a million times",
         [](Plus& p) { p.Rec(0x402A, 0, F32(1) + F32(0) + F32(1e6f) + F32(1) + F32(0) + F32(0)).Font(2, 10, u"A").Rec(0x401C, 0x8002, Le32(kPlusRed) + Le32(0) + Le32(1) + Plus::Rect(0, 0, 9, 9) + "A\0"); }},
        {"glyphs sheared by their own matrix",
         [](Plus& p) { p.Font(2, 10, u"A").Rec(0x4036, 0x8002, Le32(kPlusRed) + Le32(1) + Le32(1) + Le32(1) + Le16(65) + F32(5) + F32(5) + F32(1) + F32(0) + F32(1e6f) + F32(1) + F32(0) + F32(0)); }},
        {"curve of one point", [](Plus& p) { p.Pen(1, 1, kPlusRed).Rec(0x4018, 1, F32(0.5f) + Le32(5) + Le32(0x7FFFFFFF) + Le32(1) + Points({{1, 1}})); }},
        {"pie of a huge sweep", [](Plus& p) { p.Rec(0x4010, 0x8000, Le32(kPlusRed) + F32(0) + F32(1e30f) + Plus::Rect(0, 0, 1, 1)); }},
    };
    for (const auto& [name, add] : cases) {
        SCOPED_TRACE(name);
        Emf e = PlusOnly(add);
        Plus after;
        after.Rec(0x4031, 0, "").Rec(0x402B, 0, "").Rec(0x4030, 2, F32(1)).FillRect(kPlusBlue, 0, 0, 200, 100).End();
        e.Comment(after);
        const QImage img = RenderEmf(e);
        EXPECT_TRUE(Is(img, 100, 50, Qt::blue));
    }
    // An image claiming 65535 x 65535 pixels in a small file: refused at once.
    const std::string bomb = PlusOnly([](Plus& p) {
        p.Object(1, 5, Le32(Plus::kVersion) + Le32(1) + Le32(65535) + Le32(65535) + Le32(65535 * 4) + Le32(0x0026200A) + Le32(0) + std::string(64, 'x'));
    }).Build();
    try {
        Render(bomb, MetafileKind::Emf);
        ADD_FAILURE() << "accepted";
    } catch (const EInvalidGraphic& x) {
        EXPECT_NE(std::string(x.what()).find("大きすぎ"), std::string::npos) << x.what();
    }
}

}  // namespace
