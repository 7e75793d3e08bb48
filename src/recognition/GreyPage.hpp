#pragma once

#include <cstdint>
#include <vector>

#include "foundation/Raster.hpp"

namespace velmora {

// A page as the recogniser reads it: 8-bit grey, rows top to bottom, no
// padding.
struct GreyPage {
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;

    // Luma of the image composited onto white: straight alpha over paper,
    // so a transparent background is not read as black ink.
    static GreyPage from(const RasterImage& image);

    // The grey level that best separates ink from paper (Otsu's method).
    uint8_t inkThreshold() const;

    // The median height in pixels of the connected pieces of ink (8-connected,
    // at the ink threshold), leaving out specks under 3 pixels and anything
    // as tall or wide as half the page (frames, rules, pictures); 0 when
    // fewer than 3 pieces remain.
    int medianInkHeight() const;

    // Shrunk by the factor (0 < factor ≤ 1) by area averaging.
    GreyPage scaled(double factor) const;

    // Tesseract reads text best at a modest size: its layout analysis takes
    // the long straight strokes of large kanji for ruled lines, erases them
    // and splits the line. A page whose ink pieces are taller than this is
    // shrunk until they are this tall; the network scales every line to its
    // own height anyway, so nothing it reads is lost.
    static constexpr int largestInkHeight = 16;

    // The page to recognise: this one, or a shrunk copy.
    GreyPage forRecognition() const;
};

}  // namespace velmora
