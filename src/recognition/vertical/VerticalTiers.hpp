#pragma once

#include <vector>

#include "recognition/page/GreyPage.hpp"
#include "recognition/vertical/VerticalResearch.hpp"

namespace velmora {

// A page set in tiers (段組) holds its columns in bands one above the other,
// with a blank band across the whole page between them: the upper tier's
// columns are read right to left, then the lower tier's. The columns of
// two tiers stand on one grid, so the ink of a column of the upper tier
// lines up with the one below it, and a column found over the whole page's
// height would join them. Within one tier the rows are never blank across
// the whole page for long: the blank between two characters of a column,
// or before a paragraph's first, is at most about a character. Stateless.
namespace VerticalTiers {

// The blank band across the page that parts two tiers is taller than this
// many text column widths.
inline constexpr double tierGap = 0.8;

// A tier holds columns of at least this many text column widths. Ink in
// a band less tall (a page number, a running head, specks of noise in the
// margin) is apart from the tiers' columns, one band with the short bands
// next to it; on a page without a band this tall (a line of marks, lines of
// horizontal text) the bands are one.
inline constexpr double shortestTier = 4;

// The bands of rows holding ink, top to bottom, parted where the page is
// blank across its whole width for more than tierGap × columnWidth rows
// (and more than the blank bridged within a column of glyphs). One band
// for a page of one tier without ink apart; none for a page without ink.
std::vector<VerticalResearch::Run> tiers(const GreyPage& page, int columnWidth);

// The rows [rows.start, rows.end) of the page alone, as a page of its own.
GreyPage band(const GreyPage& page, VerticalResearch::Run rows);

}  // namespace VerticalTiers
}  // namespace velmora
