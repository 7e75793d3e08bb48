#pragma once

#include <vector>

#include "recognition/standard/StandardPassLine.hpp"

namespace velmora::StandardPass {

// Arrows across ("0.42% → 0.08%", "←キー") the Japanese model reads as "ー",
// "一", "っ", "、" or "〜", a different one for each small change of the
// page's pixels. Their ink tells them: one piece, a thin straight shaft
// along half its length at least and a head at one end, a third of a
// character tall, widening steadily from its point. A symbol whose ink is
// such a piece is the arrow pointing to its head's end. Arrows up and down
// are left as read: at a line's size a t, an f or a 4 has such a shape.
void readArrows(std::vector<Line>& ls, const PageInk& ink);

}  // namespace velmora::StandardPass
