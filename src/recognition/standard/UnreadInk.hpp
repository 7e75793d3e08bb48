#pragma once

#include <vector>

#include "recognition/standard/StandardPassLine.hpp"

// What automatic layout reads as no text, though the page's ink says there is
// text: pages and parts of pages it leaves out, lines it reads as nothing.
namespace velmora::StandardPass {

// Automatic layout drops whole small images of a short line, and
// sometimes all of a sparse page, as if they held no text. Where the
// ink says otherwise the page is read as one block.
std::vector<Line> rescueEmpty(std::vector<Line> ls, Reader& reader, const PageInk& ink);

// The layout sometimes gives a line of text a box two rows tall and
// reads next to nothing in it, with no confidence (a lone digit over a
// whole line's width), and the line's own ink is then taken for read.
// Such a line is no reading: it is dropped, and its row is read as ink
// that no line covers. So is a column of vertical text a character or two
// tall: read for horizontal lines, a page has none so short (the layout
// makes them of specks and of marks it could not place), and a page read
// by the automatic mode's horizontal pass leaves every column out.
void dropHollowLines(std::vector<Line>& ls);

// Automatic layout also leaves out parts of a page that it reads: a
// heading, a column of short labels. Ink of the size of the page's text
// that no line covers, and that does not just run on from a line (line
// ends are mended below), is gathered into rows and each row is read
// as one line.
//
// `horizontalLinesOnly`: vertical columns the layout read, and those it left
// out, are no ink to read as rows (see Models::horizontalLinesOnly).
void readUnreadInk(std::vector<Line>& ls, Reader& reader, const PageInk& ink, bool horizontalLinesOnly);

}  // namespace velmora::StandardPass
