// How paths read in the check list: UTF-8 as is, Shift-JIS decoded, the rest escaped.
#include <gtest/gtest.h>

#include "app/NameDisplay.h"

namespace {

TEST(NameDisplay, PathsReadAsUtf8ShiftJisOrEscapes) {
    const struct {
        std::string bytes;
        const char* shown;
    } cases[] = {
        {"/home/ann/song.mp3", "/home/ann/song.mp3"},
        {"/音楽/曲.mp3", "/音楽/曲.mp3"},
        {"", ""},
        {"/", "/"},
        // Shift-JIS: 音楽 and 曲; a second byte 0x5C (ソ, 表) is part of the character.
        {"/x/\x89\xb9\x8a\x79.mp3", "/x/音楽.mp3"},
        {"/\x83\x5c\x95\x5c.wav", "/ソ表.wav"},
        // Half-width katakana and the code page's own rows (circled digits, IBM kanji).
        {"/\xb1\xb2.mid", "/ｱｲ.mid"},
        {"/\x87\x40\xed\x40.jpg", "/①纊.jpg"},
        // A UTF-8 folder above a Shift-JIS file: each name is read on its own.
        {"/音楽/\x8b\xc8.mp3", "/音楽/曲.mp3"},
        {"/\x8b\xc8/音楽.mp3", "/曲/音楽.mp3"},
        // Neither: every byte that is not UTF-8 shows as an escape, UTF-8 runs as they are.
        {"/a/bad\xff.mp3", "/a/bad\\xFF.mp3"},
        {"/a/\x82", "/a/\\x82"},                       // a first byte with nothing after it
        {"/a/\x85\x40.mp3", "/a/\\x85@.mp3"},          // an unassigned Shift-JIS code
        {"/a/曲\xff\xfe.mp3", "/a/曲\\xFF\\xFE.mp3"},
        {"/a/\xc0\xaf\xff.mp3", "/a/\\xC0\\xAF\\xFF.mp3"},  // an overlong "/" is no separator
        {"/a/\xed\xa0\x80.mp3", "/a/\\xED\\xA0\\x80.mp3"},  // a UTF-16 surrogate
        // Characters that hide or reorder text show escaped in every kind of name.
        {"/a/x\ny.mp3", "/a/x\\x0Ay.mp3"},
        {"/a/\x1b[31mred.mp3", "/a/\\x1B[31mred.mp3"},
        {"/a/evil\u202Egpj.exe", "/a/evil\\u202Egpj.exe"},
        {"/a/\u2066x\u2069\u200F.mp3", "/a/\\u2066x\\u2069\\u200F.mp3"},
        {"/a/\xc2\x85.mp3", "/a/\\x85.mp3"},  // a C1 control in UTF-8
    };
    for (const auto& c : cases) EXPECT_EQ(platform::DisplayPath(c.bytes), c.shown) << c.bytes;
}

TEST(NameDisplay, Cp932DecodingIsStrict) {
    std::string out;
    EXPECT_TRUE(platform::DecodeCp932("\x83\x65\x83\x58\x83\x67", out));
    EXPECT_EQ(out, "テスト");
    for (const char* bad : {"\x82", "\x80", "\xa0", "\xfd", "\x85\x40", "a\x81"}) {
        EXPECT_FALSE(platform::DecodeCp932(bad, out)) << bad;
        EXPECT_TRUE(out.empty());
    }
}

}  // namespace
