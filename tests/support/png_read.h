// The RGBA pixels of a PNG file, read with libpng; empty when it is no PNG.
#pragma once

#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

inline std::vector<uint8_t> png_pixels(const std::string &png) {
    png_image read{};
    read.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&read, png.data(), png.size())) return {};
    read.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(read));
    if (!png_image_finish_read(&read, nullptr, pixels.data(), 0, nullptr)) return {};
    return pixels;
}

}  // namespace testing_support
