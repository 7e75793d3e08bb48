#pragma once

#include <string>
#include <vector>

#include "foundation/TextRange.hpp"

namespace velmora {

// How one recognised line becomes text. The recogniser reports words of
// symbols and how many blanks it saw before each word; Japanese is written
// without spaces, and a word boundary the recogniser finds between two
// Japanese characters (it finds many) is no space at all.
namespace LineText {

// Han, kana and every wide or full-width character (CJK punctuation,
// full-width letters and digits).
bool isCJK(char32_t c);
// Wide punctuation carries its own white space in the glyph ("。", "、",
// "「", "）"), so no space is put beside it either.
bool isWidePunctuation(char32_t c);
// Empty, or only white space and control or format characters.
bool isBlank(const std::string& s);

struct Word {
    std::vector<std::string> symbols;
    int blanksBefore = 0;
    // The first word of a table's cell other than the row's first: a tab
    // stands before it instead of a space.
    bool startsCell = false;
};

struct Assembled {
    std::string text;
    // One range per symbol of every word, in order; a symbol that is empty or
    // white space contributes nothing and gets an empty range.
    std::vector<TextRange> symbolRanges;
};

// The recogniser prints the full-width brackets and colon of Japanese text
// in their half-width forms, which it does not tell apart. Set among
// Japanese characters they are the full-width ones: a pair of brackets
// holding Japanese, a bracket left open or closed beside Japanese, a colon
// after a Japanese character. Brackets and colons among digits and Latin
// letters (a year in English text, a time, a URL) keep their forms. The
// symbols are changed in place, each keeping its place in its word.
//
// The wave dash of a range ("9:30～16:00", "6月12日（月）～6月18日") is
// read as a tilde or as a character it resembles: the prolonged sound mark
// ー, the kanji 一, the kana て. None of those stands between a digit or a
// closing bracket and a digit in Japanese (ー follows kana, 一 is not
// written among Arabic numerals), so there it is the wave dash. A hyphen
// between digits stays: phone numbers and ranges are written with it.
void widenPunctuation(std::vector<Word>& words);

// Symbols of a word are written together. Between two words there is one
// space when the recogniser saw a blank there, unless both neighbouring
// characters are CJK or either is wide punctuation; before a word that
// starts a cell there is a tab, whatever the characters.
Assembled join(const std::vector<Word>& words);

}  // namespace LineText
}  // namespace velmora
