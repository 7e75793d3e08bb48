#pragma once

#include <vector>

#include "recognition/page/LineText.hpp"
#include "recognition/standard/StandardPassLine.hpp"

namespace velmora::StandardPass {

// How wide the brackets, colons, commas and full stops of each line are
// printed, measured on the page's ink, and the lines' texts put together
// again by it (see LineText::widenPunctuation). The models read full-width
// and half-width marks alike (，．：（）［］ as ,.:()[]); their neighbours do
// not tell them apart either (manuals set half-width brackets around
// Japanese, notices full-width ones around digits), but the print does. A
// full-width bracket takes a whole character cell with its ink at the cell's
// inner side, so a blank of about half a character stands on its outer side;
// a half-width one stands close to what it follows or precedes (at most the
// quarter of a character, stretched, that typesetting puts between Japanese
// and Latin). A full-width comma or full stop stands at its cell's start,
// the rest of the cell blank after it; a full-width colon in the middle of
// its cell. The mark's ink is found among the pieces of ink in and about the
// box the model gives it (that box often takes in blank or a neighbour's
// ink, so the blank is measured on the ink, specks of a poor scan left
// out); the character's size is the pitch of the line's ink. A mark whose
// outer side is a line end, a wide gap or another mark tells nothing
// (typesetting sets two marks that meet in half a cell each): a bracket so
// left is as wide as its partner; a mark is half-width on a page that shows
// nearly all its measured marks of that kind beside Japanese half-width; a
// comma or full stop after Latin with a full-width blank after it is
// full-width on a page that sets those after Japanese full-width; the rest
// is left to the neighbours (a comma or full stop after a Japanese
// character is the Japanese one). A bracket whose ink is two straight
// strokes meeting in a point is an angle bracket (⟨ ⟩ of placeholders), not
// a parenthesis. Where a line sets its Latin at a fixed step of half a
// character (its steps beside narrow letters as long as the others), a word
// space is as wide as the blank of a full-width bracket: a bracket that
// shows that blank beside a Latin word is set as the page sets the brackets
// whose blank tells (half-width where none does), one around Latin alone is
// left to its neighbours. The character's size is that of the Japanese, not
// the repeat of half-width Latin letters beside them.
void readPunctuationWidths(std::vector<Line>& ls, const PageInk& ink);

// The models read an em dash (—) as the kanji 一, a bar of the same length.
// A bar set apart from both its neighbours by a word space or more, or
// between two Latin letters or digits, is the dash: the kanji stands among
// Japanese set solid.
void readDashes(std::vector<Line>& ls, const PageInk& ink);

// The pitch of the line's Japanese characters (their size, set solid): the
// median distance between the middles of two kana or kanji that follow one
// another; 0 when fewer than three such pairs tell it.
int japanesePitch(const Line& line);

// The pitch of the line's characters as its ink shows it (Japanese set solid
// repeats every character, so the ink down the pixel columns of the line's
// band is most like itself shifted by one character), or where its Latin
// hides the repeat, japanesePitch; 0 when neither tells.
int characterPitch(const Line& line, const PageInk& ink);

}  // namespace velmora::StandardPass
