#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "foundation/Geometry.hpp"
#include "foundation/Raster.hpp"

namespace velmora::test {

// Pages of real text drawn with Pango and cairo in the Noto CJK font, for
// recognition on known input.
struct TextLayout {
    int width = 1000;
    int height = 400;
    double pixelSize = 32;  // font size in pixels
    double left = 40;
    double top = 40;
    double lineAdvance = 2.0;  // line pitch in font sizes
    bool transparent = false;  // RGBA on a transparent background instead of RGB on white
    std::string family = "Noto Sans CJK JP";
};

struct DrawnLine {
    std::string text;
    Rect ink;  // pixels, top-left origin: the rectangle the glyphs cover
};

struct TextPage {
    RasterImage image;
    std::vector<DrawnLine> lines;
};

// One line of text per entry, black, one below the other.
TextPage renderLines(const TextLayout& layout, const std::vector<std::string>& lines);

// Paragraphs wrapped to the width between the margins (left on both sides),
// as on a printed page; returns the page and the text as drawn, one line per
// wrapped line.
TextPage renderParagraphs(const TextLayout& layout, const std::vector<std::string>& paragraphs);

// Character error rate: the edit distance between the two texts in Unicode
// scalars, over the length of the expected text.
double characterErrorRate(std::string_view expected, std::string_view actual);

}  // namespace velmora::test
