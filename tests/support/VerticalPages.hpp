#pragma once

#include <string>
#include <vector>

#include <cairo.h>

#include "foundation/Geometry.hpp"
#include "foundation/Raster.hpp"

namespace velmora::test {

// Pages of vertical Japanese drawn with Pango in vertical gravity: columns
// run top to bottom and follow one another from right to left, kana and
// kanji upright, Latin letters and half-width digits set sideways, and the
// font's vertical forms for punctuation, the long-vowel mark and small kana.
struct VerticalLayout {
    int width = 1000;
    int height = 800;
    double pixelSize = 48;       // font size in pixels
    double right = 40;           // margin from the right edge to the first column
    double top = 40;             // margin above (and, for paragraphs, below) the columns
    double columnAdvance = 1.6;  // column pitch in font sizes
    std::string family = "Noto Sans CJK JP";
};

struct DrawnColumn {
    std::string text;
    Rect ink;  // pixels, top-left origin
};

struct VerticalPage {
    RasterImage image;
    std::vector<DrawnColumn> columns;  // right to left
};

// One column per entry, black on white.
VerticalPage renderColumns(const VerticalLayout& layout, const std::vector<std::string>& columns);

// The same columns drawn on a cairo context (a PDF page), with the layout's
// sizes in the context's units.
void drawColumns(cairo_t* cr, const VerticalLayout& layout, const std::vector<std::string>& columns);

// Paragraphs wrapped into columns of the page's height between the margins;
// a paragraph starts a new column. Stops at the left margin (`right` from the
// left edge). Returns the columns as drawn.
VerticalPage renderVerticalParagraphs(const VerticalLayout& layout, const std::vector<std::string>& paragraphs);

// The darker of the two pages, pixel by pixel (both RGB, the same size).
RasterImage overlaid(const RasterImage& a, const RasterImage& b);

}  // namespace velmora::test
