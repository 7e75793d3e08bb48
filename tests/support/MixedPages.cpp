#include "support/MixedPages.hpp"

#include <algorithm>
#include <cstring>

namespace velmora::test {

namespace {

// The image as tightly packed RGB rows.
std::vector<uint8_t> rgb(const RasterImage& image) {
    const int w = image.width(), h = image.height(), n = image.channels();
    std::vector<uint8_t> out(std::size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = image.pixels() + std::ptrdiff_t(image.rowStride()) * y;
        for (int x = 0; x < w; ++x) std::memcpy(&out[(std::size_t(y) * w + x) * 3], row + x * n, 3);
    }
    return out;
}

}  // namespace

RasterImage sideBySide(const RasterImage& left, const RasterImage& right) {
    const int width = left.width() + right.width();
    const int height = std::max(left.height(), right.height());
    std::vector<uint8_t> pixels(std::size_t(width) * height * 3, 255);
    const auto place = [&](const RasterImage& part, int offset) {
        const std::vector<uint8_t> p = rgb(part);
        for (int y = 0; y < part.height(); ++y) {
            std::memcpy(&pixels[(std::size_t(y) * width + offset) * 3], &p[std::size_t(y) * part.width() * 3],
                        std::size_t(part.width()) * 3);
        }
    };
    place(left, 0);
    place(right, left.width());
    return RasterImage::fromPixels(width, height, 3, pixels);
}

MixedPage renderMixed(const TextLayout& horizontal, const std::vector<std::string>& paragraphs,
                      const VerticalLayout& vertical, const std::vector<std::string>& columns) {
    MixedPage page;
    page.horizontal = renderParagraphs(horizontal, paragraphs);
    page.vertical = renderColumns(vertical, columns);
    page.image = sideBySide(page.horizontal.image, page.vertical.image);
    for (DrawnColumn& c : page.vertical.columns) c.ink.x += horizontal.width;
    return page;
}

}  // namespace velmora::test
