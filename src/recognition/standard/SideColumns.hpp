#pragma once

#include <vector>

#include "recognition/standard/StandardPassLine.hpp"

namespace velmora::StandardPass {

// A table of contents or a numbered list may set its numbers ("2.1.",
// "3.") in a narrow column of their own, one beside each entry, and the
// layout sometimes takes that column for lines of vertical text. Lines laid
// out vertically that stand just left of three horizontal lines or more,
// over their rows, are read again as one block of horizontal lines; where
// every line of that reading stands on the row of one of those lines, each
// is put at the start of its line and the vertical ones are dropped.
void readSideColumns(std::vector<Line>& ls, Reader& reader, const PageInk& ink);

}  // namespace velmora::StandardPass
