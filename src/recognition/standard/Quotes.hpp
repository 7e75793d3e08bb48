#pragma once

#include <vector>

#include "recognition/standard/StandardPassLine.hpp"

namespace velmora::StandardPass {

// Double quotation marks as the page prints them. The models know the
// straight quote (") best and read curly ones (” “) as it, or one curly
// quote as the other; neither a line's words nor its face tells which a
// page prints (manuals put curly quotes around typewriter text, and
// typewriter text holds straight ones), but the ink does. Each mark of a
// curly quote is a comma-like stroke that leans or curls: a closing one (”)
// has its head at the top and its tail running down to the left, an
// opening one (“) the same turned over, its head at the bottom; a straight
// quote's marks are upright strokes or wedges, symmetric about the
// vertical. A quote whose ink does not show its shape keeps what the model
// read, and one the model read again over the marks of the quote just
// before it is left out.
void readQuotes(std::vector<Line>& ls, const PageInk& ink);

}  // namespace velmora::StandardPass
