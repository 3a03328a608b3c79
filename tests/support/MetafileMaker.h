#pragma once
// Real-format Windows and enhanced metafiles built record by record, for tests and
// screenshots. Coordinates are the picture's pixels.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace metafilemaker {

inline std::string Le16(int v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
inline std::string Le32(int64_t v) {
    return Le16(static_cast<int>(v & 0xFFFF)) + Le16(static_cast<int>((static_cast<uint64_t>(v) >> 16) & 0xFFFF));
}
inline std::string F32(float f) {
    uint32_t bits;
    static_assert(sizeof bits == sizeof f);
    __builtin_memcpy(&bits, &f, sizeof f);
    return Le32(bits);
}
inline std::string Pad(std::string s, size_t to) {
    while (s.size() % to) s += '\0';
    return s;
}
inline std::string Utf16(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += Le16(c);
    return out;
}

// A 24-bit bottom-up bitmap of 2 x 2: bottom row red, green; top row blue, white.
inline std::string Dib2x2() {
    std::string info = Le32(40) + Le32(2) + Le32(2) + Le16(1) + Le16(24) + Le32(0) + Le32(16) + Le32(0) + Le32(0) +
                       Le32(0) + Le32(0);
    // Rows are padded to four bytes; pixels are blue, green, red.
    std::string bits = std::string("\x00\x00\xFF\x00\xFF\x00", 6) + std::string(2, '\0') +
                       std::string("\xFF\x00\x00\xFF\xFF\xFF", 6) + std::string(2, '\0');
    return info + bits;
}
// A header claiming a huge 8-bit run-length bitmap whose data is a single end marker.
inline std::string RleBomb(int width, int height) {
    std::string info = Le32(40) + Le32(width) + Le32(height) + Le16(1) + Le16(8) + Le32(1) + Le32(2) + Le32(0) +
                       Le32(0) + Le32(2) + Le32(0) + Le32(0) + Le32(0x00FF0000);
    return info + std::string("\x00\x01", 2);
}

// A 32-bit bitmap of top-down rows of 0xAARRGGBB values (stored bottom row first).
inline std::string Dib32(int width, const std::vector<uint32_t>& pixels) {
    const int height = static_cast<int>(pixels.size()) / width;
    std::string info = Le32(40) + Le32(width) + Le32(height) + Le16(1) + Le16(32) + Le32(0) +
                       Le32(static_cast<int64_t>(pixels.size()) * 4) + Le32(0) + Le32(0) + Le32(0) + Le32(0);
    for (int y = height - 1; y >= 0; --y)
        for (int x = 0; x < width; ++x) info += Le32(pixels[static_cast<size_t>(y * width + x)]);
    return info;
}
// A monochrome bitmap (palette black, white) of top-down rows; true is a set bit.
inline std::string MonoDib(int width, const std::vector<std::vector<bool>>& rows) {
    const int height = static_cast<int>(rows.size());
    const int stride = (width + 31) / 32 * 4;
    std::string info = Le32(40) + Le32(width) + Le32(height) + Le16(1) + Le16(1) + Le32(0) + Le32(stride * height) +
                       Le32(0) + Le32(0) + Le32(2) + Le32(0) + Le32(0) + Le32(0x00FFFFFF);
    for (int y = height - 1; y >= 0; --y) {
        std::string row(static_cast<size_t>(stride), '\0');
        for (int x = 0; x < width; ++x)
            if (rows[static_cast<size_t>(y)][static_cast<size_t>(x)]) row[static_cast<size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
        info += row;
    }
    return info;
}

// EMF+ records, to be carried by an EMF comment.
class Plus {
public:
    static constexpr uint32_t kVersion = 0xDBC01002;
    Plus& Rec(int type, int flags, const std::string& data) {
        const std::string d = Pad(data, 4);
        bytes_ += Le16(type) + Le16(flags) + Le32(static_cast<int64_t>(12 + d.size())) + Le32(static_cast<int64_t>(d.size())) + d;
        return *this;
    }
    Plus& Header(bool dual = false) { return Rec(0x4001, dual ? 1 : 0, Le32(kVersion) + Le32(1) + Le32(96) + Le32(96)); }
    Plus& Object(int id, int type, const std::string& data) { return Rec(0x4008, type << 8 | id, data); }
    Plus& SolidBrush(int id, uint32_t argb) { return Object(id, 1, Le32(kVersion) + Le32(0) + Le32(argb)); }
    // A linear gradient across a rectangle, from one colour at its left edge to another at its right.
    Plus& GradientBrush(int id, float x, float y, float w, float h, uint32_t from, uint32_t to) {
        return Object(id, 1, Le32(kVersion) + Le32(4) + Le32(0) + Le32(4) + Rect(x, y, w, h) + Le32(from) + Le32(to) + Le32(0) + Le32(0));
    }
    Plus& Pen(int id, float width, uint32_t argb) {
        return Object(id, 2, Le32(kVersion) + Le32(0) + Le32(0) + Le32(0) + F32(width) + Le32(kVersion) + Le32(0) + Le32(argb));
    }
    // A path of float points and their kinds (0 start, 1 line, 3 Bézier; 0x80 closes).
    Plus& Path(int id, const std::vector<std::pair<float, float>>& pts, const std::string& kinds) {
        std::string d = Le32(kVersion) + Le32(static_cast<int64_t>(pts.size())) + Le32(0);
        for (const auto& [x, y] : pts) d += F32(x) + F32(y);
        return Object(id, 3, d + kinds);
    }
    Plus& Font(int id, float emPixels, const std::u16string& family) {
        std::string name;
        for (char16_t c : family) name += Le16(c);
        return Object(id, 6, Le32(kVersion) + F32(emPixels) + Le32(2) + Le32(0) + Le32(0) + Le32(static_cast<int64_t>(family.size())) + name);
    }
    // A bitmap image of 0xAARRGGBB pixels, rows top-down.
    Plus& Image(int id, int width, const std::vector<uint32_t>& pixels) {
        std::string d = Le32(kVersion) + Le32(1) + Le32(width) + Le32(static_cast<int64_t>(pixels.size()) / width) +
                        Le32(width * 4) + Le32(0x0026200A) + Le32(0);
        for (uint32_t p : pixels) d += Le32(p);
        return Object(id, 5, d);
    }
    static std::string Rect(float x, float y, float w, float h) { return F32(x) + F32(y) + F32(w) + F32(h); }
    Plus& FillRect(uint32_t argb, float x, float y, float w, float h) {
        return Rec(0x400A, 0x8000, Le32(argb) + Le32(1) + Rect(x, y, w, h));
    }
    Plus& FillRectWith(int brush, float x, float y, float w, float h) { return Rec(0x400A, 0, Le32(brush) + Le32(1) + Rect(x, y, w, h)); }
    Plus& End() { return Rec(0x4002, 0, ""); }
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// An enhanced metafile of `width` x `height` pixels on a reference device of 4 pixels a
// millimetre.
class Emf {
public:
    Emf& Rec(uint32_t type, const std::string& payload) {
        body_ += Le32(type) + Le32(static_cast<int64_t>(8 + payload.size())) + payload;
        ++count_;
        return *this;
    }
    Emf& Brush(int handle, uint32_t bgr) { return Rec(39, Le32(handle) + Le32(0) + Le32(bgr) + Le32(0)); }
    Emf& Select(int handle) { return Rec(37, Le32(handle)); }
    Emf& Rectangle(int l, int t, int r, int b) { return Rec(43, Le32(l) + Le32(t) + Le32(r) + Le32(b)); }
    Emf& IntersectClip(int l, int t, int r, int b) { return Rec(30, Le32(l) + Le32(t) + Le32(r) + Le32(b)); }
    Emf& ExcludeClip(int l, int t, int r, int b) { return Rec(29, Le32(l) + Le32(t) + Le32(r) + Le32(b)); }
    // ExtSelectClipRgn with rectangles in device pixels; no rectangles and mode 5 remove the clip.
    Emf& ClipRegion(int mode, const std::vector<std::vector<int>>& rects) {
        std::string data;
        if (!rects.empty()) {
            data = Le32(32) + Le32(1) + Le32(static_cast<int64_t>(rects.size())) + Le32(static_cast<int64_t>(rects.size()) * 16) +
                   Le32(0) + Le32(0) + Le32(width_) + Le32(height_);
            for (const auto& r : rects) data += Le32(r[0]) + Le32(r[1]) + Le32(r[2]) + Le32(r[3]);
        }
        return Rec(75, Le32(static_cast<int64_t>(data.size())) + Le32(mode) + data);
    }
    Emf& Font(int handle, int height, int charset, const std::u16string& face) {
        std::string f = Le32(height) + Le32(0) + Le32(0) + Le32(0) + Le32(400) + std::string(3, '\0') +
                        static_cast<char>(charset) + std::string(4, '\0');
        std::string name = Utf16(face);
        name.resize(64, '\0');
        return Rec(82, Le32(handle) + f + name);
    }
    Emf& TextColour(uint32_t bgr) { return Rec(24, Le32(bgr)); }
    Emf& Transparent() { return Rec(18, Le32(1)); }
    // ExtTextOutA (bytes) or ExtTextOutW (UTF-16 code units as bytes) at a top-left point.
    Emf& Text(int x, int y, const std::string& text, bool wide, uint32_t offDx = 0, uint32_t count = UINT32_MAX) {
        const uint32_t n = count != UINT32_MAX ? count : static_cast<uint32_t>(wide ? text.size() / 2 : text.size());
        std::string r = Le32(0) + Le32(0) + Le32(-1) + Le32(-1) + Le32(1) + F32(1) + F32(1) + Le32(x) + Le32(y) + Le32(n) +
                        Le32(76) + Le32(0) + Le32(0) + Le32(0) + Le32(-1) + Le32(-1) + Le32(offDx);
        return Rec(wide ? 84 : 83, Pad(r + text, 4));
    }
    // A comment carrying EMF+ records.
    Emf& Comment(const Plus& plus) {
        const std::string data = Le32(0x2B464D45) + plus.Bytes();
        return Rec(70, Le32(static_cast<int64_t>(data.size())) + Pad(data, 4));
    }
    Emf& World(float m11, float m12, float m21, float m22, float dx, float dy) {
        return Rec(35, F32(m11) + F32(m12) + F32(m21) + F32(m22) + F32(dx) + F32(dy));
    }
    // AlphaBlend (114) or TransparentBlt (116) of a packed bitmap (header of 40 bytes, no colour
    // table) into a rectangle; `field` is the blend function or the transparent colour.
    Emf& BlendBlit(int type, int x, int y, int w, int h, uint32_t field, const std::string& dib, int srcW, int srcH) {
        const std::string r = Le32(x) + Le32(y) + Le32(x + w) + Le32(y + h) + Le32(x) + Le32(y) + Le32(w) + Le32(h) + Le32(field) +
                              Le32(0) + Le32(0) + F32(1) + F32(0) + F32(0) + F32(1) + F32(0) + F32(0) + Le32(0) + Le32(0) +
                              Le32(108) + Le32(40) + Le32(148) + Le32(static_cast<int64_t>(dib.size()) - 40) + Le32(srcW) + Le32(srcH);
        return Rec(type, Pad(r + dib, 4));
    }
    // MaskBlt of a packed bitmap through a packed monochrome mask (header, two colours) into a
    // rectangle of the source's size; no mask when `mask` is empty.
    Emf& MaskBlit(int x, int y, int w, int h, uint32_t rop, const std::string& dib, const std::string& mask) {
        const int64_t maskAt = 128 + static_cast<int64_t>(dib.size());
        const std::string r = Le32(x) + Le32(y) + Le32(x + w) + Le32(y + h) + Le32(x) + Le32(y) + Le32(w) + Le32(h) + Le32(rop) +
                              Le32(0) + Le32(0) + F32(1) + F32(0) + F32(0) + F32(1) + F32(0) + F32(0) + Le32(0) + Le32(0) +
                              Le32(128) + Le32(40) + Le32(168) + Le32(static_cast<int64_t>(dib.size()) - 40) + Le32(0) + Le32(0) +
                              Le32(0) + Le32(mask.empty() ? 0 : maskAt) + Le32(mask.empty() ? 0 : 48) +
                              Le32(mask.empty() ? 0 : maskAt + 48) + Le32(mask.empty() ? 0 : static_cast<int64_t>(mask.size()) - 48);
        return Rec(78, Pad(r + dib + mask, 4));
    }
    // PlgBlt: the source's top-left, top-right and bottom-left corners go to three points.
    Emf& PlgBlit(const std::vector<std::pair<int, int>>& corners, const std::string& dib, int srcW, int srcH,
                 const std::string& mask = "") {
        std::string r = std::string(16, '\0');
        for (const auto& [x, y] : corners) r += Le32(x) + Le32(y);
        const int64_t maskAt = 140 + static_cast<int64_t>(dib.size());
        r += Le32(0) + Le32(0) + Le32(srcW) + Le32(srcH) + F32(1) + F32(0) + F32(0) + F32(1) + F32(0) + F32(0) + Le32(0) + Le32(0) +
             Le32(140) + Le32(40) + Le32(180) + Le32(static_cast<int64_t>(dib.size()) - 40) + Le32(0) + Le32(0) + Le32(0) +
             Le32(mask.empty() ? 0 : maskAt) + Le32(mask.empty() ? 0 : 48) + Le32(mask.empty() ? 0 : maskAt + 48) +
             Le32(mask.empty() ? 0 : static_cast<int64_t>(mask.size()) - 48);
        return Rec(79, Pad(r + dib + mask, 4));
    }
    // StretchDIBits of a packed bitmap (header of 40 bytes, no colour table) into a rectangle.
    Emf& StretchDib(int x, int y, int w, int h, const std::string& dib, int srcW, int srcH) {
        const std::string r = Le32(x) + Le32(y) + Le32(x + w) + Le32(y + h) + Le32(x) + Le32(y) + Le32(0) + Le32(0) +
                              Le32(srcW) + Le32(srcH) + Le32(80) + Le32(40) + Le32(120) +
                              Le32(static_cast<int64_t>(dib.size()) - 40) + Le32(0) + Le32(0x00CC0020) + Le32(w) + Le32(h);
        return Rec(81, Pad(r + dib, 4));
    }
    std::string Build(int descriptionChars = 0, int descriptionAt = 0) const {
        const std::string end = Le32(14) + Le32(20) + Le32(0) + Le32(16) + Le32(20);
        const int64_t total = 88 + static_cast<int64_t>(body_.size() + end.size());
        std::string h = Le32(1) + Le32(88) + Le32(0) + Le32(0) + Le32(width_ - 1) + Le32(height_ - 1) + Le32(0) + Le32(0) +
                        Le32(width_ * 25) + Le32(height_ * 25) + Le32(0x464D4520) + Le32(0x10000) + Le32(total) +
                        Le32(count_ + 2) + Le16(8) + Le16(0) + Le32(descriptionChars) + Le32(descriptionAt) + Le32(0) +
                        Le32(1000) + Le32(1000) + Le32(250) + Le32(250);
        return h + body_ + end;
    }
    Emf(int width, int height) : width_(width), height_(height) {}

private:
    int width_, height_;
    std::string body_;
    int count_ = 0;
};

// A placeable Windows metafile of `width` x `height` pixels (96 units an inch).
class Wmf {
public:
    Wmf& Rec(int function, const std::string& params) {
        const std::string p = Pad(params, 2);
        body_ += Le32(3 + static_cast<int64_t>(p.size()) / 2) + Le16(function) + p;
        return *this;
    }
    Wmf& Words(int function, std::initializer_list<int> words) {
        std::string p;
        for (int w : words) p += Le16(w);
        return Rec(function, p);
    }
    Wmf& Brush(uint32_t bgr) { return Rec(0x02FC, Le16(0) + Le32(bgr) + Le16(0)); }
    Wmf& Select(int index) { return Words(0x012D, {index}); }
    Wmf& Delete(int index) { return Words(0x01F0, {index}); }
    Wmf& Rectangle(int l, int t, int r, int b) { return Words(0x041B, {b, r, t, l}); }
    Wmf& IntersectClip(int l, int t, int r, int b) { return Words(0x0416, {b, r, t, l}); }
    Wmf& Font(int height, int charset, const std::string& face) {
        std::string f = Le16(height) + Le16(0) + Le16(0) + Le16(0) + Le16(400) + std::string(3, '\0') +
                        static_cast<char>(charset) + std::string(4, '\0') + face + '\0';
        return Rec(0x02FB, f);
    }
    Wmf& TextColour(uint32_t bgr) { return Rec(0x0209, Le32(bgr)); }
    Wmf& Transparent() { return Words(0x0102, {1}); }
    Wmf& TextOut(int x, int y, const std::string& text) {
        return Rec(0x0521, Le16(static_cast<int>(text.size())) + Pad(text, 2) + Le16(y) + Le16(x));
    }
    Wmf& StretchDib(int x, int y, int w, int h, const std::string& dib, int srcW, int srcH) {
        return Rec(0x0F43, Le32(0x00CC0020) + Le16(0) + Le16(srcH) + Le16(srcW) + Le16(0) + Le16(0) + Le16(h) + Le16(w) +
                               Le16(y) + Le16(x) + dib);
    }
    std::string Build() const {
        const std::string body = body_ + Le32(3) + Le16(0);
        const int64_t words = 9 + static_cast<int64_t>(body.size()) / 2;
        std::string header = Le16(1) + Le16(9) + Le16(0x0300) + Le32(words) + Le16(objects_) + Le32(1 << 20) + Le16(0);
        std::string placeable = Le32(0x9AC6CDD7L) + Le16(0) + Le16(0) + Le16(0) + Le16(width_) + Le16(height_) + Le16(96) + Le32(0);
        int sum = 0;
        for (size_t i = 0; i < 20; i += 2)
            sum ^= static_cast<unsigned char>(placeable[i]) | static_cast<unsigned char>(placeable[i + 1]) << 8;
        return placeable + Le16(sum) + header + body;
    }
    Wmf(int width, int height, int objects = 8) : width_(width), height_(height), objects_(objects) {
        Words(0x020B, {0, 0});
        Words(0x020C, {height, width});
    }

private:
    int width_, height_, objects_;
    std::string body_;
};

}  // namespace metafilemaker
