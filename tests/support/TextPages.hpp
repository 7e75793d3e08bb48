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
    // Paragraphs flow down the first column, then the next; columns share
    // the width between the margins, columnGap pixels apart.
    int columns = 1;
    double columnGap = 0;
    std::string family = "Noto Sans CJK JP";  // Pango families, comma-separated
    // Paragraphs break between words where they can (English), not
    // anywhere.
    bool wrapWords = false;
    // renderLines and renderPlaced take each line as Pango markup: spans of
    // other faces or sizes, and OpenType features such as "halt", which sets
    // a full-width mark in half its cell as typesetting compresses
    // punctuation.
    bool markup = false;
    // Solid black rectangles drawn over the page (the rules of a table), in
    // pixels from the top-left corner.
    std::vector<Rect> rules = {};
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

// Text at given places, one line each: x is the left edge, or the right
// edge when alignRight; y is the top of the line.
struct PlacedText {
    std::string text;
    double x = 0;
    double y = 0;
    bool alignRight = false;
};
TextPage renderPlaced(const TextLayout& layout, const std::vector<PlacedText>& items);

// The image softened by a box blur of the radius (pixels), as a scan is.
RasterImage blurred(const RasterImage& image, int radius);
// The image turned about its centre by the angle (degrees, clockwise),
// corners filled with white, as a page laid slightly askew on a scanner.
RasterImage rotated(const RasterImage& image, double degrees);

// The image with salt and pepper noise, as a poor scan has it: the share of
// its pixels (chosen by the seed) turned black, and as many turned white.
RasterImage speckled(const RasterImage& image, double share, unsigned seed);
// The image saved as a JPEG of the quality (0 to 100) and decoded again.
RasterImage jpegged(const RasterImage& image, int quality);

// The edit distance between the two texts in Unicode scalars.
std::size_t editDistance(std::string_view expected, std::string_view actual);

// Character error rate: the edit distance between the two texts in Unicode
// scalars, over the length of the expected text.
double characterErrorRate(std::string_view expected, std::string_view actual);

}  // namespace velmora::test
