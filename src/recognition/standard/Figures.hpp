#pragma once

#include <vector>

#include "recognition/standard/StandardPassLine.hpp"

namespace velmora::StandardPass {

// Figures among Japanese: amounts, dates, times, telephone and item
// numbers. The Japanese model's character set has no yen sign "¥": it reads
// one as the backslash, which Japanese faces long drew in the yen sign's
// shape; and it reads a zero with a slash or a dot inside as a 9, 6 or 8.
// The English model knows both, but reads only the lines of Latin and the
// Latin runs of mixed lines (see OtherLanguage, LatinRuns), which figures
// are not. So each figure (from a digit, a yen sign or a mark
// that may be a 1, through digits and the marks among them) is read again
// with the English model on an image of its ink alone, and the two
// readings are aligned symbol by symbol: the English yen sign is taken for
// the backslash (or added where the Japanese model took it into the first
// digit), half-width or full-width as its advance shows, and the English
// digits where they differ, where the readings agree on how many digits
// stand where (a digit the Japanese model left out, between two of its
// symbols with room for it, counts as agreeing, and so does a comma or full
// stop between two of its digits that one of their boxes holds; a lone
// digit, which the English model reads poorly on an image of its own, does
// not). A symbol the English reading leaves out that stands half over its
// neighbour's, or a comma or full stop beside another, is one glyph read
// twice. The marks between digits stay the Japanese model's: the English
// one reads "42.195" as "42,195" as readily as the other way round (see
// readFigureMarks).
//
// `english` is the English model's configuration (its engine reads each
// figure on an image of its own).
void readFigures(std::vector<Line>& ls, const GreyPage& page, const PageInk& ink,
                 const TesseractEngines::Configuration& english);

// The wave dash of a range ("9:00〜17:00", "10月〜12月", "DN-1105〜DN-1132")
// is in neither model's character set: they read it as a hyphen, a long
// vowel mark, a tilde, a kana (こ, て) or nothing. Its ink tells it: one
// stroke about a character long, set in the line's middle, as high as a
// quarter of a character or so and curved, so filling little of its box,
// where a hyphen, a long vowel mark and the kanji 一 are straight bars. Such
// ink between a number (or a date's month or day) and a number or a code,
// on a line with Japanese, read as one of those, as a kana set between two
// digits, or not read, is the wave dash.
void readWaveDashes(std::vector<Line>& ls, const PageInk& ink);

// A comma and a full stop between digits differ in their ink, which the
// models read wrongly at small sizes ("¥1.082,000"): a comma is taller than
// wide and hangs below the digits' baseline, a full stop is about as wide as
// tall and sits on it (the digits' ink tells the baseline and their size:
// the model's boxes stray). A mark whose ink shows one of them is read as
// it.
void readFigureMarks(std::vector<Line>& ls, const PageInk& ink);

// The slash between two numbers ("3 / 7", "1/1" at a page's foot) the
// Japanese model reads as a 7 now and then. Its ink tells it: one stroke
// from bottom left to top right, a stroke wide at its top and bottom, where
// a 7's top is its bar. A 7 between two digits whose ink is such a stroke is
// the slash.
void readSlashes(std::vector<Line>& ls, const PageInk& ink);

// A zero marked inside, by a dot or a slash (as fixed-pitch faces draw it),
// the models read as a 6, an 8, a 9 or an at sign now and then, the English
// one too on a page whose letters have no grey edges. Its ink tells it:
// across its middle, the ring's two sides and the mark between them stand
// apart, where an 8 crosses its middle once or twice, a 6 or a 9 twice and
// an at sign four times. Such a symbol beside a digit (an at sign not beside
// a letter) is the zero.
void readMarkedZeros(std::vector<Line>& ls, const PageInk& ink);

// A yen sign the English reading did not give (one set without digits, as
// a column's unit "単位：¥", or before a figure it read otherwise) stays
// the Japanese model's backslash. Its ink tells them apart in most faces: a
// backslash is one stroke from top left to bottom right, where a yen sign's
// top is its two arms at both sides and its foot its stem in the middle.
// But faces made for Japanese since JIS X 0201 draw the backslash as a yen
// sign, and set it so in paths and escapes ("C:\Users", "\n"): one
// beside a Latin letter or mark stays a backslash. Such a symbol is the
// yen sign, full-width where its advance to the next digit is as
// readFigures judges it, or, with no digit after it, in the width the
// page's other yen signs take (their neighbours' blanks, spaces and colons
// among them, do not tell it).
void readYenSigns(std::vector<Line>& ls, const PageInk& ink);

}  // namespace velmora::StandardPass
