#pragma once

#include <functional>
#include <vector>

#include "recognition/page/GreyPage.hpp"
#include "recognition/standard/StandardPassLine.hpp"

namespace velmora::StandardPass {

// Large type set solid, a heading over two or three lines, may touch
// from row to row (most of all in a face whose Latin letters sit low and
// reach into the row below), and so may lines of text whose boxes the
// layout runs together. The layout then gives a line a box over two rows,
// or lines boxes that run into one another, and reads the rows mixed
// together: a row read as garbage, the last one left out. Where a line's
// ink reaches far below its baseline, its rows and those of the lines over
// it are cut apart where the ink thins (under those lines' baselines, or
// under every line's: a line whose box reaches up into the row above
// stands on its own row's baseline still), and each row is read as one
// line on an image of its own ink, a piece that runs into the next row cut
// at the row's edge. The rows' reading is taken when the model is surer of
// it than of the lines it replaces, or as sure of it and of each row when
// it holds more characters (a row the lines left out); of the two cuts,
// the surer.
//
// `skip` names lines not to look at (vertical columns).
void readStackedRows(std::vector<Line>& ls, Reader& reader, const GreyPage& page, const PageInk& ink,
                     const std::function<bool(const Line&)>& skip);

}  // namespace velmora::StandardPass
