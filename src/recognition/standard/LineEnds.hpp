#pragma once

#include <functional>
#include <vector>

#include "recognition/standard/StandardPassLine.hpp"

namespace velmora::StandardPass {

// Automatic layout sometimes ends a line before its last characters,
// line-final punctuation most of all. Where the ink of the line's row
// runs on past its box, the line is read again as one line over all of
// it.
//
// `skip` names lines not to look at (vertical columns).
void readLineEnds(std::vector<Line>& ls, Reader& reader, const PageInk& ink,
                  const std::function<bool(const Line&)>& skip);

}  // namespace velmora::StandardPass
