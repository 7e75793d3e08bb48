#pragma once

#include <vector>

#include "recognition/page/GreyPage.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "recognition/vertical/VerticalResearch.hpp"

namespace velmora {

// Reads one vertical column with the recogniser's own vertical Japanese data
// (jpn_vert): the column's pixels, turned a quarter anticlockwise, are read
// as one line, and the text is tied to the glyph cells its characters cover.
// One request per column, like the reflow strip.
namespace VerticalColumnReader {

// Pixels of margin around the column's cut-out, clipped to the page.
inline constexpr int margin = 8;
// The vertical model's network reads lines this many pixels high, and it
// reads a column best with blank of this much of the column's width on
// either side of its ink: measured on pages of 10 to 12 point type at 150 to
// 300 dpi in seven typefaces, it misreads no more characters than with the
// recogniser's own guess of the line's height, and at the smaller size its
// network runs over a sixth fewer steps along the column.
inline constexpr int readingHeight = 48;
inline constexpr double blankAcross = 0.35;
// A column that holds sideways characters or a black square, placed by the
// model's boxes, is read on a line of the column and its margins brought
// down to this height, the vertical model's layout finding the line in it:
// its boxes keep closest to the ink so, and, measured on the same pages, its
// characters are fewest misread.
inline constexpr int layoutHeight = 28;
// The height a line is brought to for the horizontal model, which reads the
// sideways half-width characters of a column: it reads them surer at this
// size than at the vertical model's.
inline constexpr int sidewaysHeight = 40;

// The column [top, bottom) with its margin, turned a quarter anticlockwise
// into a line: the column's top at the line's left, its right edge at the
// line's top.
GreyPage lineOf(const GreyPage& page, VerticalResearch::Run column, int top, int bottom);

// What the columns of a page read so far tell the next one: how many were
// read, and how many of them held sideways characters.
struct PageSoFar {
    int columns = 0;
    int sideways = 0;
};

// bodyWidth is the usual width of the page's columns: a column narrower than
// that (of only bars or marks) is read at the size of the others. soFar is
// the page's columns before this one, and counts it too.
std::vector<VerticalResearch::ColumnPiece> read(const GreyPage& page, VerticalResearch::Run column, int bodyWidth,
                                                const std::vector<VerticalResearch::Run>& glyphs,
                                                const OCRSettings& settings, const VerticalResearch::Poll& poll,
                                                PageSoFar& soFar);

}  // namespace VerticalColumnReader
}  // namespace velmora
