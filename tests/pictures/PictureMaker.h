#pragma once
// Real pictures that the tests make themselves: metafiles written record by record, and
// JPEGs through libjpeg, among them decompression bombs.
#include <gtest/gtest.h>

#include <QColor>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <initializer_list>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

namespace picturemaker {

inline void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
inline std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
// Colours equal within what JPEG compression changes.
inline bool Near(QColor a, QColor b, int tolerance = 24) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

inline std::string Le16(int v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
inline std::string Le32(long v) { return Le16(static_cast<int>(v & 0xFFFF)) + Le16(static_cast<int>((v >> 16) & 0xFFFF)); }

// A placeable Windows metafile: one filled rectangle over the whole picture.
inline std::string RedWmf() {
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
inline std::string BlueEmf() {
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

// A one-colour greyscale JPEG of any size: a few kilobytes on disk.
inline void WriteFlatJpeg(const std::string& path, int width, int height) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(width), 200);
    JSAMPROW r = row.data();
    while (c.next_scanline < c.image_height) jpeg_write_scanlines(&c, &r, 1);
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}


// A progressive JPEG of noise (so that every scan carries data), greyscale, with
// `refinements` + 1 passes over each of the 63 AC coefficients and over DC: 64 x (that)
// scans in all; six refinements make 448. With -1, libjpeg's own script of six scans, as
// encoders write them.
inline void WriteProgressiveJpeg(const std::string& path, int width, int height, int refinements) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    std::vector<jpeg_scan_info> scans;
    for (int al = refinements; al >= 0; --al) {
        const int ah = al == refinements ? 0 : al + 1;
        scans.push_back({1, {0, 0, 0, 0}, 0, 0, ah, al});
        for (int k = 1; k < 64; ++k) scans.push_back({1, {0, 0, 0, 0}, k, k, ah, al});
    }
    if (refinements < 0) {
        jpeg_simple_progression(&c);
    } else {
        c.scan_info = scans.data();
        c.num_scans = static_cast<int>(scans.size());
    }
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(width));
    unsigned seed = 12345;
    JSAMPROW r = row.data();
    while (c.next_scanline < c.image_height) {
        for (JSAMPLE& s : row) s = static_cast<JSAMPLE>((seed = seed * 1103515245u + 12345u) >> 24);
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

// Sets the size that a JPEG's frame header declares, the data left as it is.
inline std::string WithDeclaredSize(std::string jpeg, int width, int height) {
    for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
        const unsigned char m = static_cast<unsigned char>(jpeg[i + 1]);
        if (static_cast<unsigned char>(jpeg[i]) == 0xFF && (m == 0xC0 || m == 0xC1 || m == 0xC2)) {
            jpeg[i + 5] = static_cast<char>(height >> 8);
            jpeg[i + 6] = static_cast<char>(height & 0xFF);
            jpeg[i + 7] = static_cast<char>(width >> 8);
            jpeg[i + 8] = static_cast<char>(width & 0xFF);
            return jpeg;
        }
    }
    ADD_FAILURE() << "no frame header";
    return jpeg;
}

// A Windows metafile of about a kilobyte that stretches a 65535 x 65535 run-length coded
// bitmap over the picture: gigabytes once the bitmap is unpacked.
inline std::string BitmapBombWmf() {
    std::string dib = Le32(40) + Le32(65535) + Le32(65535) + Le16(1) + Le16(8) + Le32(1 /* BI_RLE8 */) + Le32(2) + Le32(0) +
                      Le32(0) + Le32(2) + Le32(0);
    dib += Le32(0x000000FF) + Le32(0x00FF0000);  // two colours
    dib += std::string("\xFF\x01", 2);             // one long run of colour 1 ...
    dib += std::string("\x00\x01", 2);             // ... and the end of the bitmap
    std::string records;
    auto rec = [&records](int function, const std::string& params) {
        records += Le32(3 + static_cast<long>(params.size() / 2)) + Le16(function) + params;
    };
    rec(0x020B, Le16(0) + Le16(0));      // window origin
    rec(0x020C, Le16(100) + Le16(200));  // window extent: 200 x 100
    // StretchDIBits: raster operation SRCCOPY, colours from the table, source 65535 x 65535,
    // destination the whole picture.
    rec(0x0F43, Le32(0x00CC0020) + Le16(0) + Le16(65535) + Le16(65535) + Le16(0) + Le16(0) + Le16(100) + Le16(200) +
                    Le16(0) + Le16(0) + dib);
    rec(0x0000, "");
    const long words = 9 + static_cast<long>(records.size()) / 2;
    std::string header = Le16(1) + Le16(9) + Le16(0x0300) + Le32(words) + Le16(1) + Le32(static_cast<long>(records.size()) / 2) + Le16(0);
    std::string placeable = Le32(0x9AC6CDD7L) + Le16(0) + Le16(0) + Le16(0) + Le16(200) + Le16(100) + Le16(96) + Le32(0);
    int sum = 0;
    for (size_t i = 0; i < 20; i += 2) sum ^= static_cast<unsigned char>(placeable[i]) | static_cast<unsigned char>(placeable[i + 1]) << 8;
    return placeable + Le16(sum) + header + records;
}

// A run-length coded bitmap of two colours, `width` x `height`, of a few dozen bytes.
inline std::string TwoColourRleBmp(int width, int height) {
    const std::string bits = std::string("\x00\x01", 2);  // the end of the bitmap at once
    const long offset = 14 + 40 + 8;
    const std::string info = Le32(40) + Le32(width) + Le32(height) + Le16(1) + Le16(8) + Le32(1 /* BI_RLE8 */) +
                             Le32(static_cast<long>(bits.size())) + Le32(0) + Le32(0) + Le32(2) + Le32(0);
    return "BM" + Le32(offset + static_cast<long>(bits.size())) + Le32(0) + Le32(offset) + info + Le32(0x00FF0000) +
           Le32(0x000000FF) + bits;
}

}  // namespace picturemaker
