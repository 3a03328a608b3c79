#include <QFontMetricsF>
#include <algorithm>
#include <cerrno>
#include <cmath>

#include "platform/MetafilePlayer.h"
#include "platform/MetafileText.h"

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

char16_t SymbolToUnicode(unsigned char c) {
    static const char16_t upper[] = u"ΑΒΧΔΕΦΓΗΙϑΚΛΜΝΟΠΘΡΣΤΥςΩΞΨΖ";
    static const char16_t lower[] = u"αβχδεφγηιϕκλμνοπθρστυϖωξψζ";
    if (c >= 0x41 && c <= 0x5A) return upper[c - 0x41];
    if (c >= 0x61 && c <= 0x7A) return lower[c - 0x61];
    switch (c) {
    case 0x22: return u'∀';
    case 0x24: return u'∃';
    case 0x27: return u'∋';
    case 0x2A: return u'∗';
    case 0x2D: return u'−';
    case 0x40: return u'≅';
    case 0x5C: return u'∴';
    case 0x5E: return u'⊥';
    case 0x7E: return u'∼';
    case 0xA2: return u'′';
    case 0xA3: return u'≤';
    case 0xA5: return u'∞';
    case 0xAC: return u'←';
    case 0xAD: return u'↑';
    case 0xAE: return u'→';
    case 0xAF: return u'↓';
    case 0xB0: return u'°';
    case 0xB1: return u'±';
    case 0xB2: return u'″';
    case 0xB3: return u'≥';
    case 0xB4: return u'×';
    case 0xB6: return u'∂';
    case 0xB7: return u'•';
    case 0xB8: return u'÷';
    case 0xB9: return u'≠';
    case 0xBA: return u'≡';
    case 0xBB: return u'≈';
    case 0xBC: return u'…';
    case 0xC5: return u'⊕';
    case 0xC6: return u'∅';
    case 0xC7: return u'∩';
    case 0xC8: return u'∪';
    case 0xCE: return u'∈';
    case 0xCF: return u'∉';
    case 0xD1: return u'∇';
    case 0xD6: return u'√';
    case 0xD7: return u'⋅';
    case 0xD8: return u'¬';
    case 0xD9: return u'∧';
    case 0xDA: return u'∨';
    case 0xE5: return u'∑';
    case 0xF2: return u'∫';
    default: return c < 0x80 ? c : static_cast<char16_t>(0xF000 + c);  // private use, as Windows does
    }
}

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

QString Player::Decode(const unsigned char* s, size_t n, int charset, bool symbolFace) {
    if (charset == 2) {
        QString out;
        for (size_t i = 0; i < n; ++i) out.append(QChar(symbolFace ? SymbolToUnicode(s[i]) : char16_t(0xF000 + s[i])));
        return out;
    }
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
    // Symbol text is in Unicode by now: any font with those letters shows it.
    if (!f.face.isEmpty() && !f.IsSymbolFace()) families << f.face;
    if (f.charset == 1 || f.charset == 128) families << QStringLiteral("IPAPGothic");
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
    const double sx = std::hypot(full.m11(), full.m12()), sy = std::hypot(full.m21(), full.m22());
    const double height = dc_.font.height ? std::abs(static_cast<double>(dc_.font.height)) : 12.0;
    const double pixels = height * sy;
    if (!(pixels >= 0.2) || pixels > 1e6 || !(sx > 0)) return;  // too small to see, or absurd
    QFont font = MakeFont(dc_.font);
    const int base = std::clamp(static_cast<int>(std::lround(pixels)), 8, 512);
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
    painter_.setWorldTransform(QTransform::fromScale(scale, scale) * QTransform().rotate(-dc_.font.escapement / 10.0) *
                               QTransform::fromTranslate(at.x(), at.y()));
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

void Player::ByteText(QPointF ref, const unsigned char* s, size_t n, const std::vector<double>& byteDx, uint32_t options,
              std::optional<QRectF> rect) {
    const int charset = dc_.font.charset;
    const QString text = Decode(s, n, charset, dc_.font.IsSymbolFace());
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
