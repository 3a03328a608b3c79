#include "app/NameDisplay.h"

#include <iconv.h>

#include <cstdio>

namespace platform {

namespace {

// Length of the well-formed UTF-8 sequence at `p` (overlong forms, surrogates and code
// points past U+10FFFF are not), 0 when there is none; its code point in `cp`.
size_t Utf8Sequence(const unsigned char* p, size_t left, char32_t& cp) {
    const unsigned char c = p[0];
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    size_t n;
    char32_t min;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (left < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

bool IsUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    char32_t cp;
    for (size_t i = 0; i < s.size();) {
        size_t n = Utf8Sequence(p + i, s.size() - i, cp);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

// Characters that would not show, or would change how the rest of the line shows.
bool Invisible(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x200E || cp == 0x200F ||
           (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x061C;
}

void AppendByteEscape(std::string& out, unsigned char b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", b);
    out += buf;
}

// Appends well-formed UTF-8 `s`, with the invisible characters escaped.
void AppendVisible(std::string& out, std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    char32_t cp;
    for (size_t i = 0; i < s.size();) {
        size_t n = Utf8Sequence(p + i, s.size() - i, cp);
        if (n == 0) {  // not expected here; shown as a byte all the same
            AppendByteEscape(out, p[i]);
            ++i;
            continue;
        }
        if (!Invisible(cp)) {
            out.append(s.substr(i, n));
        } else if (cp < 0x100) {
            AppendByteEscape(out, static_cast<unsigned char>(cp));
        } else {
            char buf[12];
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(cp));
            out += buf;
        }
        i += n;
    }
}

// A name that is neither UTF-8 nor code page 932: its UTF-8 runs as they are, every
// other byte as "\xHH".
void AppendEscaped(std::string& out, std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    char32_t cp;
    for (size_t i = 0; i < s.size();) {
        size_t n = Utf8Sequence(p + i, s.size() - i, cp);
        if (n == 0) {
            AppendByteEscape(out, p[i]);
            ++i;
        } else {
            AppendVisible(out, s.substr(i, n));
            i += n;
        }
    }
}

void AppendName(std::string& out, std::string_view name) {
    if (IsUtf8(name)) {
        AppendVisible(out, name);
        return;
    }
    std::string decoded;
    if (DecodeCp932(name, decoded)) {
        AppendVisible(out, decoded);
        return;
    }
    AppendEscaped(out, name);
}

}  // namespace

bool DecodeCp932(std::string_view bytes, std::string& utf8) {
    utf8.clear();
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    // Each byte gives at most three bytes of UTF-8.
    utf8.resize(bytes.size() * 3 + 4);
    char* src = const_cast<char*>(bytes.data());
    size_t srcLeft = bytes.size();
    char* dst = utf8.data();
    size_t dstLeft = utf8.size();
    // An invalid or unfinished sequence fails the whole name: half a reading misleads.
    const bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1) && srcLeft == 0;
    iconv_close(cd);
    utf8.resize(ok ? utf8.size() - dstLeft : 0);
    return ok;
}

std::string DisplayPath(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 8);
    // The separator is never part of a Shift-JIS character (second bytes are 0x40 and up),
    // so the names between separators decode on their own: UTF-8 folders keep their text
    // above a Shift-JIS file.
    size_t start = 0;
    while (true) {
        size_t end = bytes.find('/', start);
        AppendName(out, bytes.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        out += '/';
        start = end + 1;
    }
    return out;
}

}  // namespace platform
