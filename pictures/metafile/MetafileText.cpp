#include <QFontDatabase>
#include <QFontMetricsF>
#include <algorithm>
#include <cerrno>
#include <cmath>

#include "pictures/metafile/MetafilePlayer.h"
#include "pictures/metafile/MetafileText.h"

namespace platform::metafile {

namespace {

// The code page of a font's character set. Text of the default set is the system's, which
// for this program's users is Japanese.
const char* CodePageOf(int charset) {
    switch (charset) {
    case 0: return "CP1252";
    case 1: case 128: return "CP932";
    case 77: return "MACINTOSH";
    case 129: return "CP949";
    case 130: return "JOHAB";
    case 134: return "CP936";
    case 136: return "CP950";
    case 161: return "CP1253";
    case 162: return "CP1254";
    case 163: return "CP1258";
    case 177: return "CP1255";
    case 178: return "CP1256";
    case 186: return "CP1257";
    case 204: return "CP1251";
    case 222: return "CP874";
    case 238: return "CP1250";
    case 255: return "CP437";
    default: return "CP1252";
    }
}

bool IsDoubleByteLead(int charset, unsigned char c) {
    switch (charset) {
    case 1: case 128: return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 129: case 134: case 136: return c >= 0x81 && c <= 0xFE;
    default: return false;
    }
}

}  // namespace

FontSpec LogFontFields(const Rec& r, size_t at, size_t numberBytes) {
    const auto number = [&](size_t i) {
        const size_t o = at + i * numberBytes;
        return numberBytes == 4 ? r.I32(o) : r.I16(o);
    };
    const size_t flags = at + 5 * numberBytes;
    FontSpec f;
    f.height = number(0);
    f.width = number(1);
    f.escapement = number(2);
    f.weight = number(4);
    f.italic = r.Has(flags, 1) && r.p[flags];
    f.underline = r.Has(flags + 1, 1) && r.p[flags + 1];
    f.strikeOut = r.Has(flags + 2, 1) && r.p[flags + 2];
    f.charset = r.Has(flags + 3, 1) ? r.p[flags + 3] : 1;
    return f;
}

QString Player::Decode(const unsigned char* s, size_t n, int charset) {
    const char* page = CodePageOf(charset);
    auto it = converters_.find(page);
    if (it == converters_.end()) it = converters_.emplace(page, iconv_open("UTF-16LE", page)).first;
    iconv_t cd = it->second;
    if (cd == reinterpret_cast<iconv_t>(-1)) return QString::fromLatin1(reinterpret_cast<const char*>(s), static_cast<qsizetype>(n));
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out(n * 4 + 8, '\0');
    char* in = const_cast<char*>(reinterpret_cast<const char*>(s));
    size_t inLeft = n;
    char* dst = out.data();
    size_t dstLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dst, &dstLeft) != static_cast<size_t>(-1)) break;
        if (errno == E2BIG || dstLeft < 2) break;
        // An invalid or cut-off sequence shows as one replacement character.
        dst[0] = static_cast<char>(0xFD);
        dst[1] = static_cast<char>(0xFF);
        dst += 2;
        dstLeft -= 2;
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    const size_t produced = out.size() - dstLeft;
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(out.data()), static_cast<qsizetype>(produced / 2));
}

QFont Player::MakeFont(const FontSpec& f) const {
    QFont font;
    QStringList families;
    const SymbolFace symbols = SymbolFaceOf(f);
    if (symbols == SymbolFace::None) {
        if (!f.face.isEmpty()) families << f.face;
        if (f.charset == 1 || f.charset == 128) families << QStringLiteral("IPAPGothic");
    } else if (symbols != SymbolFace::Symbol && FaceInstalled(f.face)) {
        // The Symbol font's signs are in Unicode by now: any font with them draws them. Other
        // symbol faces draw their own codes when they are here.
        families << f.face;
    }
    if (!families.isEmpty()) font.setFamilies(families);
    font.setWeight(static_cast<QFont::Weight>(std::clamp(f.weight == 0 ? 400 : f.weight, 100, 900)));
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeOut);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

void Player::Text(QPointF ref, const QString& text, std::vector<double> dx, uint32_t options, std::optional<QRectF> rect) {
    const QTransform full = Full();
    if (rect && (options & 2)) {  // opaque rectangle
        QPainterPath p;
        p.addRect(rect->normalized());
        FillArea(p, dc_.bkColor);
    }
    // Glyph numbers of a font that is not here would draw as wrong letters.
    if (text.isEmpty() || (options & 0x10)) return;
    if (dc_.textAlign & 1) ref = dc_.cur;
    // The text is laid out as the page alone would place it, upright; the world transform's
    // turn, shear and scale then act on it about the reference point, as they act on the
    // logical space around it.
    const QTransform page = LogicalToDevice(false) * frameToPainter_;
    const QTransform pageLinear(page.m11(), page.m12(), page.m21(), page.m22(), 0, 0);
    QTransform turn;
    if (emf_ && !dc_.world.isIdentity()) {
        bool invertible = false;
        const QTransform back = pageLinear.inverted(&invertible);
        if (!invertible) return;
        turn = back * QTransform(dc_.world.m11(), dc_.world.m12(), dc_.world.m21(), dc_.world.m22(), 0, 0) * pageLinear;
    }
    const double worldScale = std::sqrt(std::abs(turn.determinant()));
    if (!(worldScale > 1e-6) || !std::isfinite(worldScale)) return;  // a world squeezed to a line shows no text
    const double sx = std::hypot(page.m11(), page.m12()), sy = std::hypot(page.m21(), page.m22());
    const double height = dc_.font.height ? std::abs(static_cast<double>(dc_.font.height)) : 12.0;
    const double pixels = height * sy;
    const double seen = pixels * worldScale;
    if (!(seen >= 0.2) || seen > 1e6 || !(sx > 0)) return;  // too small to see, or absurd
    QFont font = MakeFont(dc_.font);
    const int base = std::clamp(static_cast<int>(std::lround(seen)), 8, 512);
    font.setPixelSize(base);
    QFontMetricsF fm(font);
    double em = pixels;
    if (dc_.font.height > 0 && fm.height() > 0) em = pixels * base / fm.height();  // cell height given
    const double scale = em / base;
    if (dx.size() != static_cast<size_t>(text.size())) dx.clear();
    double width = 0;
    if (!dx.empty()) {
        for (double& d : dx) {
            d = d * sx / scale;
            width += d;
        }
    } else {
        width = fm.horizontalAdvance(text);
    }
    double x = 0;
    if ((dc_.textAlign & 6) == 6) x = -width / 2;
    else if (dc_.textAlign & 2) x = -width;
    double y = fm.ascent();
    if ((dc_.textAlign & 24) == 24) y = 0;
    else if (dc_.textAlign & 8) y = -fm.descent();

    painter_.save();
    if (rect && (options & 4)) {  // clipped to the rectangle
        painter_.setWorldTransform(full);
        painter_.setClipRect(rect->normalized(), Qt::IntersectClip);
    }
    const QPointF at = full.map(ref);
    const QTransform glyphs = QTransform::fromScale(scale, scale) * QTransform().rotate(-static_cast<double>(dc_.font.escapement) / 10.0) * turn;
    if (!GlyphsFit(glyphs, base)) {
        painter_.restore();
        return;
    }
    painter_.setWorldTransform(glyphs * QTransform::fromTranslate(at.x(), at.y()));
    if (dc_.bkMode == 2 && !(rect && (options & 2)))
        painter_.fillRect(QRectF(x, y - fm.ascent(), width, fm.ascent() + fm.descent()), dc_.bkColor);
    painter_.setFont(font);
    painter_.setPen(dc_.textColor);
    if (dx.empty()) {
        painter_.drawText(QPointF(x, y), text);
    } else {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            painter_.drawText(QPointF(x, y), text.mid(i, n));
            for (qsizetype k = 0; k < n; ++k) x += dx[static_cast<size_t>(i + k)];
            i += n - 1;
        }
    }
    painter_.restore();
    if (dc_.textAlign & 1) dc_.cur = ref + QPointF(width * scale / sx, 0);
}

bool Player::FaceInstalled(const QString& face) const {
    auto it = installed_.find(face);
    if (it == installed_.end()) it = installed_.emplace(face, QFontDatabase::hasFamily(face)).first;
    return it->second;
}

char32_t Player::Sign(SymbolFace face, unsigned char c) {
    // A symbol face that is here draws its own codes, as on Windows.
    if (face != SymbolFace::Symbol && face != SymbolFace::Other && FaceInstalled(dc_.font.face)) return 0xF000 + c;
    return SymbolCode(face, c);
}

void AppendSign(QString& text, std::vector<double>* dx, char32_t sign, double advance) {
    const char32_t one[] = {sign};
    const qsizetype before = text.size();
    text.append(QString::fromUcs4(one, 1));
    if (!dx) return;
    dx->push_back(advance);
    for (qsizetype k = before + 1; k < text.size(); ++k) dx->push_back(0);  // the second half of a pair
}

void Player::ByteText(QPointF ref, const unsigned char* s, size_t n, const std::vector<double>& byteDx, uint32_t options,
              std::optional<QRectF> rect) {
    const SymbolFace face = SymbolFaceOf(dc_.font);
    if (face != SymbolFace::None) {
        // Each byte is one sign of the face's own table, whatever the character set says.
        QString text;
        std::vector<double> dx;
        const bool given = byteDx.size() == n;
        for (size_t i = 0; i < n; ++i) AppendSign(text, given ? &dx : nullptr, Sign(face, s[i]), given ? byteDx[i] : 0);
        Text(ref, text, std::move(dx), options, rect);
        return;
    }
    const int charset = dc_.font.charset;
    const QString text = Decode(s, n, charset);
    std::vector<double> dx;
    if (byteDx.size() == n) {
        for (size_t i = 0; i < n; ++i) {
            double d = byteDx[i];
            if (IsDoubleByteLead(charset, s[i]) && i + 1 < n) d += byteDx[++i];
            dx.push_back(d);
        }
    }
    Text(ref, text, std::move(dx), options, rect);
}

}  // namespace platform::metafile
