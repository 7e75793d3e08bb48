#pragma once

#include <vector>

#include "recognition/LineText.hpp"
#include "recognition/StandardPassLine.hpp"

namespace velmora::StandardPass {

// How wide the brackets and colons of each line are printed, measured on
// the page's ink, and the lines' texts put together again by it (see
// LineText::widenPunctuation). The models read full-width and half-width
// brackets and colons alike; their neighbours do not tell them apart either
// (manuals set half-width brackets around Japanese, notices full-width ones
// around digits), but the print does. A full-width bracket takes a whole
// character cell with its ink at the cell's inner side, so a blank of about
// half a character stands on its outer side; a half-width one stands close
// to what it follows or precedes (at most the quarter of a character that
// typesetting puts between Japanese and Latin). A full-width colon stands
// in the middle of its cell, a half-width one close after its character.
// The mark's own ink is found among the pieces of ink inside the box the
// model gives it (that box often takes in blank or a neighbour's ink, so the
// blank is measured on the ink); the character's size is the pitch of the line's
// Japanese characters. A line without enough of them, and a mark whose
// outer side is a line end, a wide gap or another mark, tells nothing; a
// bracket so left is as wide as its partner, or half-width on a page that
// shows nearly all its measured brackets half-width (colons likewise).
void readPunctuationWidths(std::vector<Line>& ls, const PageInk& ink);

// The pitch of the line's Japanese characters (their size, set solid): the
// median distance between the middles of two kana or kanji that follow one
// another; 0 when fewer than three such pairs tell it.
int japanesePitch(const Line& line);

}  // namespace velmora::StandardPass
