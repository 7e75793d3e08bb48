#pragma once

#include <functional>
#include <vector>

#include "recognition/standard/StandardPassLine.hpp"

namespace velmora::StandardPass {

// Automatic layout sometimes ends a line before its last characters,
// line-final punctuation most of all. Where the ink of the line's row
// runs on past its box, the line is read again as one line over all of
// it; where that reads less surely, each end alone, joined to the line
// where it reads surely.
//
// `skip` names lines not to look at (vertical columns).
void readLineEnds(std::vector<Line>& ls, Reader& reader, const GreyPage& page, const PageInk& ink,
                  const std::function<bool(const Line&)>& skip);

// The models sometimes leave a stretch out of the middle of a line: a cell
// of a table's row that the layout took as one line, between wide blanks.
// Ink of the line's size on its band that no symbol's box covers, a
// character and a half wide or more and a character's blank from them, is
// read on its own and put in among the line's symbols where it stands,
// when it is read surely.
void readLeftOutInk(std::vector<Line>& ls, Reader& reader, const PageInk& ink,
                    const std::function<bool(const Line&)>& skip);

}  // namespace velmora::StandardPass
