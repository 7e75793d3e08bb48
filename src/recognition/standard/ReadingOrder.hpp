#pragma once

#include <vector>

#include "recognition/standard/StandardPassLine.hpp"

// The order in which the page's lines are read, where the layout's own
// order departs from the printed one.
namespace velmora::StandardPass {

// On a page set in two columns the layout cuts a line that runs across the
// page (an abstract above the columns) where the gutter runs below it, and
// reads the left pieces of a paragraph's lines before the right ones. Two
// lines on one row, of one size, the second starting at most a character
// after the first ends (the blank a comma leaves), are one printed line and
// are read as one.
void joinSplitRows(std::vector<Line>& ls);

// On a page set in two columns of text the layout reads the columns' blocks
// in turns, a block of the right column between two of the left. Where a
// gutter with lines of text on either side runs down the page, the lines
// between two lines that cross it are read column by column: the left
// column top to bottom, then the right one. Lines across the gutter (a
// title, an abstract, a page number) stay between the columns' runs, in
// the order they stand on the page.
void orderColumns(std::vector<Line>& ls);

}  // namespace velmora::StandardPass
