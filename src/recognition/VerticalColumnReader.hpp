#pragma once

#include <vector>

#include "recognition/GreyPage.hpp"
#include "recognition/OCRSettings.hpp"
#include "recognition/VerticalResearch.hpp"

namespace velmora {

// Reads one vertical column with the recogniser's own vertical Japanese data
// (jpn_vert, one block of vertical text) on the column's pixels, and ties
// each line it reads to the glyph cells its box covers. One request per
// column, like the reflow strip.
namespace VerticalColumnReader {

// Pixels of margin around the column's cut-out, clipped to the page.
inline constexpr int margin = 8;

std::vector<VerticalResearch::ColumnPiece> read(const GreyPage& page, VerticalResearch::Run column,
                                                const std::vector<VerticalResearch::Run>& glyphs,
                                                const OCRSettings& settings, const VerticalResearch::Poll& poll);

}  // namespace VerticalColumnReader
}  // namespace velmora
