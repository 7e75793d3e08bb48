#pragma once

#include <vector>

#include "recognition/standard/StandardPassLine.hpp"

namespace velmora::StandardPass {

// The marks of list items. The models read a bullet "•" as "・", "=", "m"
// or leave it out, and an en dash "–" set as a bullet as the prolonged
// sound mark "ー"; no context tells them apart, but their shapes do. At the
// start of a line (or up to two characters before it), with a blank after it, a piece of ink that is round, as
// wide as tall, about a quarter to three fifths of the line's characters high,
// solid (a disc fills about four fifths of its box) and standing in the
// middle of the line, with a blank after it of more than half a character,
// is a bullet; the middle dot "・" of Japanese, as large in some faces, has
// less blank on its side, that of its own cell; a ring so placed, its
// middle blank, is the white bullet "◦" of a nested item (read as "s", "o"
// or "°"). A solid bar there, thin, about half a character long and
// in the middle of the line is the en dash; "ー" runs nearly a whole
// character. The mark is put in place of the symbol read over it or, where
// none was, before the line's first symbol.
void readBullets(std::vector<Line>& ls, const PageInk& ink);

// The rules of a ruled table and the frame of a boxed listing are lines, not
// text, but the models read their upright strokes as "|" (or "l", "I", "1").
// A symbol whose ink is all of a piece that stands taller than the line, and
// none of the text's own, is such a stroke and is left out; a "|" of the
// text is a piece of its own, as tall as the line.
void dropRules(std::vector<Line>& ls, const PageInk& ink);

}  // namespace velmora::StandardPass
