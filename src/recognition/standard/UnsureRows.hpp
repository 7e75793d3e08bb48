#pragma once

#include <functional>
#include <vector>

#include "recognition/standard/StandardPassLine.hpp"

namespace velmora::StandardPass {

// The layout may cut a row of small print (a slide's footer, a caption)
// into pieces, or begin a line's box inside a character, and the pieces
// then read poorly, with little confidence: a change of a pixel at the
// glyphs' edges decides where. A row the layout read unsurely is read
// again whole, as one line; the reading stands where it is surer and
// leaves out no character the layout read. A large glyph read in fragments, as
// lines much shorter than the row's beside it (a letter-spaced heading's
// kanji), and a slice of a line read again as a line inside its box, are
// read again with their row too: that reading stands where it reads the
// rest of the row as the layout did and the fragments as fewer characters.
//
// `skip` names lines not to look at (vertical columns).
void readUnsureRows(std::vector<Line>& ls, Reader& reader, const PageInk& ink,
                    const std::function<bool(const Line&)>& skip);

}  // namespace velmora::StandardPass
