#pragma once

#include <cstdint>
#include <vector>

#include "foundation/Raster.hpp"

namespace velmora::test {

// A white page on which tests paint exact grey rectangles, for recognisers
// whose rules are stated in pixels.
class InkPage {
public:
    InkPage(int width, int height) : width_(width), height_(height), grey_(std::size_t(width) * height, 255) {}

    // Paints [x, x + w) × [y, y + h), clipped to the page.
    InkPage& fill(int x, int y, int w, int h, uint8_t grey = 0) {
        for (int r = std::max(y, 0); r < std::min(y + h, height_); ++r) {
            for (int c = std::max(x, 0); c < std::min(x + w, width_); ++c) grey_[std::size_t(r) * width_ + c] = grey;
        }
        return *this;
    }

    RasterImage image() const {
        std::vector<uint8_t> rgb(grey_.size() * 3);
        for (std::size_t i = 0; i < grey_.size(); ++i) rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = grey_[i];
        return RasterImage::fromPixels(width_, height_, 3, rgb);
    }

private:
    int width_;
    int height_;
    std::vector<uint8_t> grey_;
};

}  // namespace velmora::test
