#pragma once

#include <vector>

#include "recognition/page/GreyPage.hpp"
#include "recognition/vertical/VerticalResearch.hpp"

namespace velmora {

// Ruby (furigana): small kana printed beside a word of a vertical column
// as a reading aid, not text of the column. It stands in a narrow line of
// its own right beside its base characters, at about half their size, so
// the page's columns show it as a column about half as wide as the text's,
// lying alongside a text column and within that column's rows. Stateless.
namespace VerticalRuby {

// A column of ink at most this share of the text's column width may be
// ruby, and at least this share: a column of only dashes or dots of
// leaders is narrower.
inline constexpr double widest = 0.65;
inline constexpr double narrowest = 0.25;
// The most blank between ruby and its base column, in text column widths.
inline constexpr double besideGap = 0.5;

// A column with the rows its ink spans.
struct Extent {
    VerticalResearch::Run across;
    VerticalResearch::Run rows;
};

// For each column of the page (in any order along the page), whether it is
// ruby beside another column. bodyWidth is the usual width of the page's
// text columns.
std::vector<bool> rubyColumns(const std::vector<Extent>& columns, int bodyWidth);

// Ruby set close to its base can join it in one column of ink, where a
// stroke of the base reaches over the narrow blank between them. The column
// [column.start, column.end) of the page without the ruby on either side:
// a side part beyond a stretch of pixel columns nearly blank (dark in fewer
// rows than a quarter of a text column's width) that is ruby beside the
// rest. The column unchanged when it holds none.
VerticalResearch::Run withoutRuby(const GreyPage& page, VerticalResearch::Run column, int bodyWidth);

}  // namespace VerticalRuby
}  // namespace velmora
