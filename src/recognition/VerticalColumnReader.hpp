#pragma once

#include <vector>

#include "recognition/GreyPage.hpp"
#include "recognition/OCRSettings.hpp"
#include "recognition/VerticalResearch.hpp"

namespace velmora {

// Reads one vertical column with the recogniser's own vertical Japanese data
// (jpn_vert): the column's pixels, turned a quarter anticlockwise, are read
// as one line, and the text is tied to the glyph cells its characters cover.
// One request per column, like the reflow strip.
namespace VerticalColumnReader {

// Pixels of margin around the column's cut-out, clipped to the page.
inline constexpr int margin = 8;
// The height in pixels a taller line (the column's width and its margins)
// is brought down to before it is read: measured on pages of 10 to 12 point
// type at 150 to 300 dpi, the vertical model misreads fewer characters at
// this size than at the page's own, and reads a little faster.
inline constexpr int readingHeight = 28;
// The height a line is brought to for the horizontal model, which reads the
// sideways half-width characters of a column: it reads them surer at this
// size than at the vertical model's.
inline constexpr int sidewaysHeight = 40;

// The column [top, bottom) with its margin, turned a quarter anticlockwise
// into a line: the column's top at the line's left, its right edge at the
// line's top.
GreyPage lineOf(const GreyPage& page, VerticalResearch::Run column, int top, int bottom);

std::vector<VerticalResearch::ColumnPiece> read(const GreyPage& page, VerticalResearch::Run column,
                                                const std::vector<VerticalResearch::Run>& glyphs,
                                                const OCRSettings& settings, const VerticalResearch::Poll& poll);

}  // namespace VerticalColumnReader
}  // namespace velmora
