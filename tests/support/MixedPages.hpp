#pragma once

#include <string>
#include <vector>

#include "foundation/Raster.hpp"
#include "support/TextPages.hpp"
#include "support/VerticalPages.hpp"

namespace velmora::test {

// A page of horizontal text on the left and a block of vertical columns on
// its right, side by side on one white page as tall as the taller part.
struct MixedPage {
    RasterImage image;
    TextPage horizontal;    // its lines' ink is in page pixels
    VerticalPage vertical;  // its columns' ink is in page pixels
};

MixedPage renderMixed(const TextLayout& horizontal, const std::vector<std::string>& paragraphs,
                      const VerticalLayout& vertical, const std::vector<std::string>& columns);

// The two parts as separate images placed side by side.
RasterImage sideBySide(const RasterImage& left, const RasterImage& right);

}  // namespace velmora::test
