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

// The layout reads a page by its columns as it finds them, and may read a
// block at the page's top right (a form's number and date) after the blocks
// that stand below it at the left. Blank paper across the whole width of
// the page, two lines of text high, parts the page into bands, which are
// read top to bottom, each band's lines in the layout's order.
void orderBands(std::vector<Line>& ls);

// On a page set in two columns of text the layout reads the columns' blocks
// in turns, a block of the right column between two of the left. Where a
// gutter with lines of text on either side runs down the page, the lines
// between two lines that cross it are read column by column: the left
// column top to bottom, then the right one. Lines across the gutter (a
// title, an abstract, a page number) stay between the columns' runs, in
// the order they stand on the page.
void orderColumns(std::vector<Line>& ls);

// Two boxes side by side (an addressee's block and an issuer's, two framed
// cards on a slide) are laid out as one stack of lines, each row across
// both, as a table's are. Where a blank at least two lines of text wide
// runs down a stack between its lines' characters and the two sides are
// boxes rather than a table's columns (each framed or filled on its own,
// however light its frame, one running on past the other, or both columns
// of prose), the lines are cut at the blank and read box by box: the left
// one top to bottom, then the right one.
void readBoxesApart(std::vector<Line>& ls, const PageInk& ink);

}  // namespace velmora::StandardPass
