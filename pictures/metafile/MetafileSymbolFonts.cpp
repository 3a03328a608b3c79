// The 8-bit symbol fonts Windows documents use, each with its own table of codes: whatever
// character set a record names, a code in one of these faces is a sign of that face.
#include "pictures/metafile/MetafileText.h"

namespace platform::metafile {

namespace {

char32_t SymbolFaceCode(unsigned char c) {
    static const char16_t upper[] = u"ΑΒΧΔΕΦΓΗΙϑΚΛΜΝΟΠΘΡΣΤΥςΩΞΨΖ";
    static const char16_t lower[] = u"αβχδεφγηιϕκλμνοπθρστυϖωξψζ";
    // 0xA0 to 0xFF: signs, arrows, set theory and the pieces of tall brackets.
    static const char16_t high[] =
        u"€ϒ′≤⁄∞ƒ♣♦♥♠↔←↑→↓°±″≥×∝∂•÷≠≡≈…⏐⎯↵ℵℑℜ℘⊗⊕∅∩∪⊃⊇⊄⊂⊆∈∉∠∇®©™∏√⋅¬∧∨⇔⇐⇑⇒⇓◊⟨®©™∑⎛⎜⎝⎡⎢⎣⎧⎨⎩⎪\uF8FF⟩∫⌠⎮⌡⎞⎟⎠⎤⎥⎦⎫⎬⎭\uF8FF";
    static_assert(sizeof high / sizeof high[0] == 97);
    if (c >= 0x41 && c <= 0x5A) return upper[c - 0x41];
    if (c >= 0x61 && c <= 0x7A) return lower[c - 0x61];
    if (c >= 0xA0) return high[c - 0xA0] == 0xF8FF ? 0xF000 + c : high[c - 0xA0];
    switch (c) {
    case 0x22: return U'∀';
    case 0x24: return U'∃';
    case 0x27: return U'∋';
    case 0x2A: return U'∗';
    case 0x2D: return U'−';
    case 0x40: return U'≅';
    case 0x5C: return U'∴';
    case 0x5E: return U'⊥';
    case 0x60: return U'‾';  // the radical's extender
    case 0x7E: return U'∼';
    default: return c < 0x80 ? c : 0xF000 + c;
    }
}

// Wingdings at the Unicode places of the same signs. A few common bullets whose own places
// no usual font covers (the arrowhead, the ballot crosses and ticks, the wide arrow) take the
// nearest sign of the Dingbats and Miscellaneous Symbols blocks. 0 stays in the private area.
constexpr char32_t kWingdings[224] = {
    0x0020, 0x1F589, 0x2702, 0x2701, 0x1F453, 0x1F56D, 0x1F56E, 0x1F56F,  // 20
    0x1F57F, 0x2706, 0x1F582, 0x1F583, 0x1F4EA, 0x1F4EB, 0x1F4EC, 0x1F4ED,
    0x1F4C1, 0x1F4C2, 0x1F4C4, 0x1F5CF, 0x1F5D0, 0x1F5C4, 0x231B, 0x1F5AE,  // 30
    0x1F5B0, 0x1F5B2, 0x1F5B3, 0x1F5B4, 0x1F5AB, 0x1F5AC, 0x2707, 0x270D,
    0x1F58E, 0x270C, 0x1F44C, 0x1F44D, 0x1F44E, 0x261C, 0x261E, 0x261D,  // 40
    0x261F, 0x1F590, 0x263A, 0x1F610, 0x2639, 0x1F4A3, 0x2620, 0x1F3F3,
    0x1F3F1, 0x2708, 0x263C, 0x1F4A7, 0x2744, 0x1F546, 0x271E, 0x1F548,  // 50
    0x2720, 0x2721, 0x262A, 0x262F, 0x0950, 0x2638, 0x2648, 0x2649,
    0x264A, 0x264B, 0x264C, 0x264D, 0x264E, 0x264F, 0x2650, 0x2651,  // 60
    0x2652, 0x2653, 0x1F670, 0x1F675, 0x25CF, 0x1F53E, 0x25A0, 0x25A1,
    0x1F790, 0x2751, 0x2752, 0x2B27, 0x29EB, 0x25C6, 0x2756, 0x2B25,  // 70
    0x2327, 0x2BB9, 0x2318, 0x1F3F5, 0x1F3F6, 0x1F676, 0x1F677, 0,
    0x24EA, 0x2460, 0x2461, 0x2462, 0x2463, 0x2464, 0x2465, 0x2466,  // 80
    0x2467, 0x2468, 0x2469, 0x24FF, 0x2776, 0x2777, 0x2778, 0x2779,
    0x277A, 0x277B, 0x277C, 0x277D, 0x277E, 0x277F, 0x1F662, 0x1F660,  // 90
    0x1F661, 0x1F663, 0x1F65E, 0x1F65C, 0x1F65D, 0x1F65F, 0x00B7, 0x2022,
    0x25AA, 0x26AA, 0x1F786, 0x1F788, 0x25C9, 0x25CE, 0x1F53F, 0x25AA,  // A0
    0x25FB, 0x1F7C2, 0x2726, 0x2605, 0x2736, 0x2734, 0x2739, 0x2735,
    0x2BD0, 0x2316, 0x27E1, 0x2311, 0x2BD1, 0x272A, 0x2730, 0x1F550,  // B0
    0x1F551, 0x1F552, 0x1F553, 0x1F554, 0x1F555, 0x1F556, 0x1F557, 0x1F558,
    0x1F559, 0x1F55A, 0x1F55B, 0x2BB0, 0x2BB1, 0x2BB2, 0x2BB3, 0x2BB4,  // C0
    0x2BB5, 0x2BB6, 0x2BB7, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0x232B, 0x2326, 0x2B98,  // D0
    0x27A4, 0x2B99, 0x2B9B, 0x2B88, 0x2B8A, 0x2B89, 0x2B8B, 0x1F868,
    0x1F86A, 0x1F869, 0x1F86B, 0x1F86C, 0x1F86D, 0x1F86F, 0x1F86E, 0x1F878,  // E0
    0x2794, 0x1F879, 0x1F87B, 0x1F87C, 0x1F87D, 0x1F87F, 0x1F87E, 0x21E6,
    0x21E8, 0x21E7, 0x21E9, 0x2B04, 0x21F3, 0, 0, 0,  // F0
    0, 0x1F8AC, 0x1F8AD, 0x2717, 0x2714, 0x2612, 0x2611, 0,
};

// Webdings: the window and player buttons of its second row; the rest stays private.
char32_t WebdingsCode(unsigned char c) {
    static const char32_t row[] = {0x1F5D5, 0x1F5D6, 0x1F5D7, 0x23F4, 0x23F5, 0x23F6, 0x23F7,
                                   0x23EA,  0x23E9,  0x23EE,  0x23ED, 0x23F8, 0x23F9, 0x23FA};
    if (c == 0x20) return c;
    if (c >= 0x30 && c <= 0x3D) return row[c - 0x30];
    return 0;
}

// MT Extra, the equation editor's second face: its ellipses and the script ell.
char32_t MtExtraCode(unsigned char c) {
    switch (c) {
    case 0x20: return c;
    case 0x4C: return U'⋯';
    case 0x4D: return U'⋮';
    case 0x4E: return U'⋰';
    case 0x4F: return U'⋱';
    case 0x6C: return U'ℓ';
    default: return 0;
    }
}

}  // namespace

SymbolFace SymbolFaceOf(const FontSpec& f) {
    const QString face = f.face.trimmed();
    const auto is = [&face](const char* name) { return face.compare(QLatin1String(name), Qt::CaseInsensitive) == 0; };
    if (is("Symbol") || (f.charset == 2 && (face.isEmpty() || face.contains(QLatin1String("symbol"), Qt::CaseInsensitive))))
        return SymbolFace::Symbol;
    if (is("MT Extra")) return SymbolFace::MtExtra;
    if (is("Wingdings")) return SymbolFace::Wingdings;
    if (is("Webdings")) return SymbolFace::Webdings;
    return f.charset == 2 ? SymbolFace::Other : SymbolFace::None;
}

char32_t SymbolCode(SymbolFace face, unsigned char c) {
    char32_t u = 0;
    switch (face) {
    case SymbolFace::Symbol: return SymbolFaceCode(c);
    case SymbolFace::Wingdings: u = c >= 0x20 ? kWingdings[c - 0x20] : 0; break;
    case SymbolFace::Webdings: u = WebdingsCode(c); break;
    case SymbolFace::MtExtra: u = MtExtraCode(c); break;
    case SymbolFace::None: return c;
    case SymbolFace::Other: break;
    }
    // Codes without a known sign keep the place Windows gives them, for the face itself.
    return u ? u : 0xF000 + c;
}

}  // namespace platform::metafile
