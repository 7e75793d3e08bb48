#pragma once

#include <png.h>

#include <cstdint>
#include <vector>

#include "foundation/PixelBuffer.hpp"

namespace velmora::bench {

// Pixels of PNG bytes that differ from an opaque bitmap in the engine's
// layout (premultiplied BGRA); -1 when the PNG does not decode or its size
// differs.
inline int64_t mismatches(const std::vector<uint8_t>& encoded, const PixelBuffer& source) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, encoded.data(), encoded.size())) return -1;
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) return -1;
    if (image.width != source.width() || image.height != source.height()) return -1;
    int64_t differ = 0;
    for (int64_t y = 0; y < source.height(); ++y) {
        const uint8_t* s = source.row(y);
        const uint8_t* d = rgba.data() + y * source.width() * 4;
        for (int64_t x = 0; x < source.width(); ++x) {
            differ += d[x * 4] != s[x * 4 + 2] || d[x * 4 + 1] != s[x * 4 + 1] || d[x * 4 + 2] != s[x * 4] ||
                      d[x * 4 + 3] != s[x * 4 + 3];
        }
    }
    return differ;
}

}  // namespace velmora::bench
