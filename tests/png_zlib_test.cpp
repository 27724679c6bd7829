// The PNG writer that builds without libpng use, read back with libpng.
#include <gtest/gtest.h>

#include "pict/pict.h"
#include "tests/support/png_read.h"

namespace {

TEST(PngWithoutLibpng, ReadsBackAsItsPixels) {
    for (const auto &[w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{301, 97}}) {
        pict::Image img;
        img.width = w;
        img.height = h;
        for (int i = 0; i < 4 * w * h; ++i) img.rgba.push_back(static_cast<uint8_t>(i * 7 + i / 5));
        EXPECT_EQ(testing_support::png_pixels(pict::encode_png(img)), img.rgba) << w << "x" << h;
    }
    // two colours, one bit a pixel, rows that end inside a byte
    pict::Image two{13, 3, {}, false};
    for (int i = 0; i < 39; ++i) two.rgba.insert(two.rgba.end(), {0, 0, 0, static_cast<uint8_t>(i % 3 == 0 ? 255 : 0)});
    EXPECT_EQ(testing_support::png_pixels(pict::encode_png(two)), two.rgba);
    EXPECT_EQ(pict::encode_png(pict::Image{}), "");
}

}  // namespace
