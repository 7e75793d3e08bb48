#pragma once

#include <vector>

#include "recognition/standard/StandardPassLine.hpp"

namespace velmora::StandardPass {

// Some typewriter faces give the small l a tail to the right at its foot,
// and the models read it as a capital L. A capital L's foot runs on for
// half its height or more; an "L" whose ink is narrower than two fifths of
// its height is the small l.
void readLetterShapes(std::vector<Line>& ls, const PageInk& ink);

}  // namespace velmora::StandardPass
