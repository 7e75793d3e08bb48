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

// Symbols of a word are written together. Between two words there is one
// space when the recogniser saw a blank there, unless both neighbouring
// characters are CJK or either is wide punctuation; before a word that
// starts a cell there is a tab, whatever the characters.
Assembled join(const std::vector<Word>& words);

}  // namespace LineText
}  // namespace velmora
