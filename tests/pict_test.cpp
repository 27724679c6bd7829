// The picture reader on pictures made by the builder: each opcode family,
// skipped opcodes, damaged and truncated pictures; the SVG and PNG writers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pict/bands.h"
#include "pict/pict.h"
#include "tests/support/pict_builder.h"
#include "tests/support/png_read.h"

namespace {

using testing_support::PictBuilder;
using namespace std::string_literals;

struct Recorder : pict::Listener {
    pict::Rect frame;
    std::vector<pict::Rect> clips;
    struct Line { pict::Point a, b, pen; pict::Ink ink; };
    std::vector<Line> lines;
    struct Drawn { pict::Shape shape; pict::Verb verb; pict::Ink ink; };
    std::vector<Drawn> shapes;
    struct Text { pict::Point at; std::string text; pict::TextStyle style; };
    std::vector<Text> texts;
    std::vector<std::pair<pict::Image, pict::Rect>> images;

    void begin(const pict::Rect &f) override { frame = f; }
    void clip(const pict::Rect &r) override { clips.push_back(r); }
    void line(pict::Point a, pict::Point b, pict::Point pen, const pict::Ink &ink) override { lines.push_back({a, b, pen, ink}); }
    void shape(const pict::Shape &s, pict::Verb v, pict::Point, const pict::Ink &ink) override { shapes.push_back({s, v, ink}); }
    void text(pict::Point at, const std::string &t, const pict::TextStyle &st, const pict::Ink &) override { texts.push_back({at, t, st}); }
    void image(const pict::Image &i, const pict::Rect &d) override { images.emplace_back(i, d); }
};

pict::Result play(const std::string &bytes, Recorder &rec) {
    return pict::read(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), rec);
}

std::string svg_of(const std::string &bytes) {
    return pict::to_svg(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

bool same_rect(const pict::Rect &r, int t, int l, int b, int rt) {
    return r.top == t && r.left == l && r.bottom == b && r.right == rt;
}

TEST(PictReader, ShapesOfEveryFamilyWithTheirVerbsAndTheSameOpcodes) {
    for (int version : {1, 2}) {
        PictBuilder b(version, 0, 0, 100, 200);
        b.rect_op(0x30, 1, 2, 11, 12).op(0x38)                     // frame rect, frame same rect
            .op(0x0B).point(6, 8).rect_op(0x41, 20, 20, 40, 60)  // paint round rect
            .rect_op(0x52, 5, 5, 25, 45)                          // erase oval
            .rect_op(0x63, 0, 0, 50, 50).u16(90).u16(45)          // invert arc
            .op(0x6C).u16(10).u16(20)                             // fill same arc, new angles
            .op(0x71).u16(22).rect(0, 0, 30, 30).point(0, 0).point(30, 0).point(30, 30);  // paint polygon
        Recorder rec;
        const pict::Result r = play(b.build(), rec);
        EXPECT_EQ(r.outcome, pict::Outcome::Complete);
        EXPECT_EQ(r.version, version);
        ASSERT_EQ(rec.shapes.size(), 7u);
        EXPECT_EQ(rec.shapes[1].shape.kind, pict::ShapeKind::Rect);
        EXPECT_TRUE(same_rect(rec.shapes[1].shape.bounds, 1, 2, 11, 12));
        EXPECT_EQ(rec.shapes[2].shape.kind, pict::ShapeKind::RoundRect);
        EXPECT_EQ(rec.shapes[2].shape.corner.h, 8);
        EXPECT_EQ(rec.shapes[3].verb, pict::Verb::Erase);
        EXPECT_EQ(rec.shapes[3].ink.colour, (pict::Rgb{255, 255, 255}));
        EXPECT_EQ(rec.shapes[4].verb, pict::Verb::Invert);
        EXPECT_EQ(rec.shapes[4].shape.start_angle, 90);
        EXPECT_EQ(rec.shapes[5].shape.arc_angle, 20);
        EXPECT_TRUE(same_rect(rec.shapes[5].shape.bounds, 0, 0, 50, 50));
        ASSERT_EQ(rec.shapes[6].shape.points.size(), 3u);
        EXPECT_EQ(rec.shapes[6].shape.points[2].h, 30);
    }
}

TEST(PictReader, LinesFollowThePenAndItsSize) {
    PictBuilder b(1, 0, 0, 100, 100);
    b.pen_size(2, 3).op(0x20).point(10, 10).point(20, 30)  // line
        .op(0x21).point(50, 50)                              // line from
        .op(0x22).point(0, 0).u8(5).u8(0xFE)                 // short line: dh 5, dv -2
        .op(0x23).u8(0xFF).u8(4);                            // short line from: dh -1, dv 4
    Recorder rec;
    play(b.build(), rec);
    ASSERT_EQ(rec.lines.size(), 4u);
    EXPECT_EQ(rec.lines[0].pen.h, 3);
    EXPECT_EQ(rec.lines[1].a.h, 30);
    EXPECT_EQ(rec.lines[1].b.v, 50);
    EXPECT_EQ(rec.lines[2].b.v, -2);
    EXPECT_EQ(rec.lines[2].b.h, 5);
    EXPECT_EQ(rec.lines[3].b.v, 2);
    EXPECT_EQ(rec.lines[3].b.h, 4);
}

TEST(PictReader, GreyPatternsAreTintsAndTransparentModesAreOpacity) {
    PictBuilder b(1, 0, 0, 100, 100);
    b.pattern(0x09, 0xAA).rect_op(0x31, 0, 0, 10, 10)   // pen 50% grey, copy
        .op(0x08).u16(9).rect_op(0x31, 0, 0, 10, 10)     // pattern or
        .pattern(0x0A, 0x88).rect_op(0x34, 0, 0, 10, 10) // fill 25%
        .op(0x1A).u16(0xFFFF).u16(0).u16(0).pattern(0x0A, 0xFF).rect_op(0x34, 0, 0, 10, 10);  // red
    Recorder rec;
    play(b.build(), rec);
    ASSERT_EQ(rec.shapes.size(), 4u);
    EXPECT_EQ(rec.shapes[0].ink.colour, (pict::Rgb{127, 127, 127}));
    EXPECT_EQ(rec.shapes[0].ink.opacity, 1.0);
    EXPECT_EQ(rec.shapes[1].ink.colour, (pict::Rgb{0, 0, 0}));
    EXPECT_EQ(rec.shapes[1].ink.opacity, 0.5);
    EXPECT_EQ(rec.shapes[2].ink.colour, (pict::Rgb{191, 191, 191}));
    EXPECT_EQ(rec.shapes[3].ink.colour, (pict::Rgb{255, 0, 0}));
}

TEST(PictReader, RegionsBecomeTheirRectangles) {
    PictBuilder b(1, 0, 0, 100, 100);
    // An L shape: columns 0-20 from row 0, columns 0-10 from row 10, nothing from row 30.
    b.op(0x81).region(0, 0, 30, 20, {0, 0, 20, 0x7FFF, 10, 10, 20, 0x7FFF, 30, 0, 10, 0x7FFF, 0x7FFF});
    b.op(0x01).region(5, 5, 50, 60, {});
    Recorder rec;
    play(b.build(), rec);
    ASSERT_EQ(rec.shapes.size(), 1u);
    const auto &bands = rec.shapes[0].shape.bands;
    ASSERT_EQ(bands.size(), 2u);
    EXPECT_TRUE(same_rect(bands[0], 0, 0, 10, 20));
    EXPECT_TRUE(same_rect(bands[1], 10, 0, 30, 10));
    ASSERT_EQ(rec.clips.size(), 2u);
    EXPECT_TRUE(same_rect(rec.clips[1], 5, 5, 50, 60));
}

TEST(PictReader, TextKeepsFontSizeFacePositionAndMacCharacters) {
    PictBuilder b(2, 0, 0, 100, 200);
    b.op(0x2C).u16(8).u16(300).u8(5).raw("Tanga").op(0x03).u16(300).op(0x0D).u16(18).op(0x04).u8(3);
    b.long_text(40, 10, "Caf\x8E").op(0x29).u8(30).u8(2).raw("ok").op(0x2B).u8(5).u8(12).u8(1).raw("&");
    Recorder rec;
    EXPECT_EQ(play(b.build(), rec).outcome, pict::Outcome::Complete);
    ASSERT_EQ(rec.texts.size(), 3u);
    EXPECT_EQ(rec.texts[0].text, "Caf\xC3\xA9");
    EXPECT_EQ(rec.texts[0].style.font_name, "Tanga");
    EXPECT_EQ(rec.texts[0].style.size, 18);
    EXPECT_EQ(rec.texts[0].style.face, 3);
    EXPECT_EQ(rec.texts[1].at.h, 40);
    EXPECT_EQ(rec.texts[2].at.h, 45);
    EXPECT_EQ(rec.texts[2].at.v, 52);
    const std::string svg = svg_of(b.build());
    EXPECT_NE(svg.find("font-family=\"'Tanga', sans-serif\" font-size=\"18\" font-weight=\"bold\" font-style=\"italic\""),
              std::string::npos);
    EXPECT_NE(svg.find(">&amp;</text>"), std::string::npos);
}

TEST(PictReader, BitmapsOfEveryKindDecodeToTheirPixels) {
    PictBuilder b(2, 0, 0, 100, 100);
    b.bits(false, 2, 10, {std::string("\x80\x40", 2), std::string("\x00\x40", 2)}, 10, 20);     // BitsRect
    b.bits(true, 8, 64, {std::string("\xFF\0\0\0\0\0\0\x01", 8)}, 30, 0, 1);                   // PackBitsRect, srcOr
    b.pixmap8({std::string("\x00\x01", 2)}, 2, {0xFFFFFF, 0x0000FF}, 40, 0);                     // 8-bit colour
    b.direct32({{0x112233, 0x445566}}, 50, 0);                                                   // 32-bit direct
    Recorder rec;
    EXPECT_EQ(play(b.build(), rec).outcome, pict::Outcome::Complete);
    ASSERT_EQ(rec.images.size(), 4u);
    const auto &one = rec.images[0].first;
    EXPECT_EQ(one.width, 10);
    EXPECT_TRUE(same_rect(rec.images[0].second, 10, 20, 12, 30));
    EXPECT_EQ(one.rgba[0], 0);        // set bit: black
    EXPECT_EQ(one.rgba[4], 255);      // clear bit: white
    EXPECT_EQ(one.rgba[4 * 11], 255); // row 1, column 1
    EXPECT_EQ(one.rgba[4 * 19], 0);   // row 1, column 9
    const auto &packed = rec.images[1].first;
    EXPECT_EQ(packed.rgba[3], 255);
    EXPECT_EQ(packed.rgba[4 * 8 + 3], 0);   // srcOr: clear bits let through
    EXPECT_EQ(packed.rgba[4 * 63], 0);
    const auto &colour = rec.images[2].first;
    EXPECT_EQ(colour.rgba[4], 0);
    EXPECT_EQ(colour.rgba[6], 255);
    const auto &direct = rec.images[3].first;
    EXPECT_EQ(direct.rgba[0], 0x11);
    EXPECT_EQ(direct.rgba[5], 0x55);
}

// What a one-bit map's set and clear bits lay down under each transfer mode
// (red foreground, blue background), what a pixel map's white and black
// pixels lay down under srcBic, and how the SVG inverts for the xor modes:
// by difference over a white page of its own.
TEST(PictReader, TransferModesDecideWhatEachBitLaysDown) {
    PictBuilder b(1, 0, 0, 20, 20);
    b.op(0x0E).u32(205).op(0x0F).u32(409);   // red on blue
    for (int mode = 0; mode < 8; ++mode) b.bits(false, 2, 2, {"\x80\x00"s}, mode, 0, mode);
    b.pixmap8({"\x00\x01"s}, 2, {0xFFFFFF, 0x000000}, 10, 0, 3);
    b.op(0x08).u16(10).rect_op(0x31, 12, 0, 14, 4);   // patXor
    Recorder rec;
    play(b.build(), rec);
    ASSERT_EQ(rec.images.size(), 9u);
    auto ink = [](const pict::Image &img, int x) -> std::string {
        const uint8_t *p = img.rgba.data() + 4 * x;
        if (p[3] == 0) return "none";
        const pict::Rgb c{p[0], p[1], p[2]};
        const std::string name = c == pict::Rgb{221, 8, 6} ? "red" : c == pict::Rgb{0, 0, 212} ? "blue"
                                 : c == pict::Rgb{255, 255, 255} ? "white" : "other";
        return (img.inverts ? "invert " : "") + name;
    };
    const char *want[8][2] = {{"red", "blue"}, {"red", "none"}, {"invert white", "none"}, {"blue", "none"},
                              {"blue", "red"}, {"none", "red"}, {"none", "invert white"}, {"none", "blue"}};
    for (int mode = 0; mode < 8; ++mode) {
        EXPECT_EQ(ink(rec.images[static_cast<size_t>(mode)].first, 0), want[mode][0]) << "mode " << mode;
        EXPECT_EQ(ink(rec.images[static_cast<size_t>(mode)].first, 1), want[mode][1]) << "mode " << mode;
    }
    EXPECT_EQ(ink(rec.images[8].first, 0), "none");
    EXPECT_EQ(ink(rec.images[8].first, 1), "blue");
    ASSERT_EQ(rec.shapes.size(), 1u);
    EXPECT_TRUE(rec.shapes[0].ink.inverts);
    EXPECT_EQ(rec.shapes[0].ink.colour, (pict::Rgb{255, 255, 255}));

    const std::string svg = svg_of(b.build());
    const size_t body = svg.find('\n') + 1;
    EXPECT_EQ(svg.compare(body, 57, "<rect x=\"0\" y=\"0\" width=\"20\" height=\"20\" fill=\"#ffffff\"/>"), 0) << svg;
    EXPECT_NE(svg.find("style=\"mix-blend-mode:difference;image-rendering:pixelated\""), std::string::npos);
    EXPECT_NE(svg.find("<rect x=\"0\" y=\"12\" width=\"4\" height=\"2\" fill=\"#ffffff\" style=\"mix-blend-mode:difference\"/>"),
              std::string::npos);
    // No backdrop where nothing inverts.
    EXPECT_EQ(svg_of(PictBuilder(1, 0, 0, 20, 20).bits(false, 2, 2, {"\x80\x00"s}, 0, 0, 1).build()).find("<rect"),
              std::string::npos);
}

// The picture of a screen shot as the application stores it: the area is
// cleared by a bitmap of set bits drawn with srcBic, then the shot is ORed
// onto it; a srcXor map inverts what lies below it.
TEST(PictRaster, EachBitmapIsLaidOverTheLastByItsTransferMode) {
    PictBuilder b(1, 0, 0, 2, 64);
    b.bits(true, 8, 64, {std::string(8, '\xFF'), std::string(8, '\xFF')}, 0, 0, 3);
    b.bits(true, 8, 64, {"\xF0\0\0\0\0\0\0\0"s, std::string(8, '\0')}, 0, 0, 1);
    b.bits(true, 8, 64, {"\x88\0\0\0\0\0\0\0"s, std::string(8, '\0')}, 0, 0, 2);
    const std::string pict = b.build();
    const auto px = testing_support::png_pixels(pict::to_png(reinterpret_cast<const uint8_t *>(pict.data()), pict.size()));
    ASSERT_EQ(px.size(), 2u * 64 * 4);
    auto grey = [&](int row, int x) { return px[(static_cast<size_t>(row) * 64 + static_cast<size_t>(x)) * 4]; };
    EXPECT_EQ(grey(0, 0), 255);   // shot black, inverted
    EXPECT_EQ(grey(0, 1), 0);     // shot black
    EXPECT_EQ(grey(0, 4), 0);     // cleared white, inverted
    EXPECT_EQ(grey(0, 5), 255);   // cleared
    EXPECT_EQ(grey(1, 0), 255);
    EXPECT_EQ(grey(1, 63), 255);
}

TEST(PictReader, OpcodesItDoesNotDrawAreSkippedByTheirLengths) {
    PictBuilder b(2, 0, 0, 100, 100);
    b.op(0x00A1).u16(100).u16(3).raw("abc")   // long comment, odd length
        .op(0x00A0).u16(7)                    // short comment
        .op(0x0024).u16(2).u16(0)             // reserved, counted
        .op(0x0092).u16(1).u8(0)
        .op(0x00B5)                           // reserved, empty
        .op(0x00D0).u32(3).raw("xyz")
        .op(0x0200).u32(0)                    // reserved, 2 bytes per high byte
        .op(0x8001)
        .op(0x8200).u32(1).u8(9)
        .rect_op(0x31, 0, 0, 5, 5);
    Recorder rec;
    EXPECT_EQ(play(b.build(), rec).outcome, pict::Outcome::Complete);
    EXPECT_EQ(rec.shapes.size(), 1u);
}

TEST(PictReader, AnUnknownOpcodeEndsTheDrawingKeepingWhatWasDrawn) {
    PictBuilder b(1, 0, 0, 100, 100);
    b.rect_op(0x31, 0, 0, 5, 5).op(0xC3).rect_op(0x31, 0, 0, 9, 9);
    Recorder rec;
    EXPECT_EQ(play(b.build(), rec).outcome, pict::Outcome::UnknownOpcode);
    EXPECT_EQ(rec.shapes.size(), 1u);
    const std::string svg = svg_of(b.build());
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
}

// Every prefix of a picture using every family, and every single-byte
// change of it, plays without reading outside its bytes (the sanitizer
// build checks) and yields balanced SVG.
TEST(PictReader, TruncatedAndDamagedPicturesEndCleanly) {
    PictBuilder b(2, 0, 0, 60, 80);
    b.op(0x01).region(0, 0, 60, 80, {}).pen_size(2, 2).pattern(0x09, 0x55).rect_op(0x30, 1, 1, 9, 9);
    b.op(0x71).u16(18).rect(0, 0, 9, 9).point(0, 0).point(9, 9);
    b.op(0x81).region(0, 0, 30, 20, {0, 0, 20, 0x7FFF, 30, 0, 20, 0x7FFF, 0x7FFF});
    b.long_text(20, 5, "Hi").bits(true, 8, 64, {std::string(8, '\x0F')}, 30, 0);
    b.pixmap8({std::string("\x00\x01", 2)}, 2, {0xFFFFFF, 0x0000FF}, 40, 0).direct32({{0x112233}}, 50, 0);
    const std::string whole = b.build();
    auto balanced = [](const std::string &svg) {
        size_t open = 0, close = 0;
        for (size_t p = svg.find("<svg"); p != std::string::npos; p = svg.find("<svg", p + 1)) ++open;
        for (size_t p = svg.find("</svg>"); p != std::string::npos; p = svg.find("</svg>", p + 1)) ++close;
        return open == close;
    };
    for (size_t n = 0; n < whole.size(); ++n) {
        const std::string svg = svg_of(whole.substr(0, n));
        EXPECT_TRUE(svg.empty() || balanced(svg)) << n;
    }
    for (size_t i = 2; i < whole.size(); ++i) {
        for (uint8_t v : {0x00, 0x7F, 0x80, 0xFF}) {
            std::string damaged = whole;
            damaged[i] = static_cast<char>(v);
            const std::string svg = svg_of(damaged);
            EXPECT_TRUE(svg.empty() || balanced(svg)) << i;
        }
    }
}

TEST(PictSvg, ViewBoxIsTheFrameAndClipsNestInside) {
    PictBuilder b(1, 10, 20, 110, 220);
    b.op(0x01).region(30, 40, 50, 60, {}).rect_op(0x31, 30, 40, 50, 60);
    const std::string svg = svg_of(b.build());
    EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"200\" height=\"100\" "
                        "viewBox=\"20 10 200 100\">", 0), 0u);
    EXPECT_NE(svg.find("<svg x=\"40\" y=\"30\" width=\"20\" height=\"20\" viewBox=\"40 30 20 20\""), std::string::npos);
    EXPECT_TRUE(svg_of(std::string("\0\x0a\0\0\0\0\0\0\0\0\x11\x01", 12)).empty());   // empty frame: no picture
}

// A bitmap copied in bands reaches the outputs as one image, its rows in
// order; a band that does not continue the last (other columns) is its own.
TEST(PictSvg, BandsOfOneBitmapAreOneImage) {
    PictBuilder b(1, 0, 0, 20, 20);
    b.bits(false, 2, 16, {std::string("\xFF\xFF", 2), std::string("\x00\x00", 2)}, 0, 0);
    b.bits(false, 2, 16, {std::string("\x80\x00", 2)}, 2, 0);
    b.bits(false, 2, 16, {std::string("\x80\x00", 2)}, 3, 2);
    Recorder rec;
    pict::JoinedBands bands(rec);
    EXPECT_EQ(pict::read(reinterpret_cast<const uint8_t *>(b.build().data()), b.build().size(), bands).outcome,
              pict::Outcome::Complete);
    bands.flush();
    ASSERT_EQ(rec.images.size(), 2u);
    const pict::Image &joined = rec.images[0].first;
    EXPECT_EQ(joined.height, 3);
    EXPECT_TRUE(same_rect(rec.images[0].second, 0, 0, 3, 16));
    EXPECT_EQ(joined.rgba[0], 0);                  // row 0: set
    EXPECT_EQ(joined.rgba[4 * 16], 255);           // row 1: clear
    EXPECT_EQ(joined.rgba[4 * 32], 0);             // row 2, column 0: set
    EXPECT_EQ(joined.rgba[4 * 33], 255);
    EXPECT_TRUE(same_rect(rec.images[1].second, 3, 2, 4, 18));
}

// Bands that would join past a bound start an image of their own, so that
// a picture of endless bands is never held whole.
TEST(PictSvg, JoinedBandsStopGrowingAtABound) {
    Recorder rec;
    pict::JoinedBands bands(rec);
    pict::Image band;
    band.width = 4096;
    band.height = 512;
    band.rgba.assign(static_cast<size_t>(band.width) * band.height * 4, 0);
    for (int top = 0; top < 3 * band.height; top += band.height) bands.image(band, {top, 0, top + band.height, band.width});
    bands.flush();
    ASSERT_EQ(rec.images.size(), 2u);
    EXPECT_EQ(rec.images[0].first.height, 1024);
    EXPECT_TRUE(same_rect(rec.images[1].second, 1024, 0, 1536, 4096));
}

TEST(PictSvg, PngOfAnImageReadsBack) {
    pict::Image img;
    img.width = 3;
    img.height = 2;
    img.rgba = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 0, 0, 0, 0, 1, 2, 3, 255, 9, 9, 9, 128};
    EXPECT_EQ(testing_support::png_pixels(pict::encode_png(img)), img.rgba);
    // two colours, one bit a pixel, rows that end inside a byte
    img.width = 13;
    img.height = 3;
    img.rgba.clear();
    for (int i = 0; i < 39; ++i) img.rgba.insert(img.rgba.end(), {0, 0, 0, static_cast<uint8_t>(i % 3 == 0 ? 255 : 0)});
    EXPECT_EQ(testing_support::png_pixels(pict::encode_png(img)), img.rgba);
    const std::string file = pict::to_pict_file(reinterpret_cast<const uint8_t *>("ab"), 2);
    EXPECT_EQ(file, std::string(512, '\0') + "ab");
}

}  // namespace
