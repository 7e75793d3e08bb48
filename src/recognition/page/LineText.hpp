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

// The wave dash of a range ("9:00〜17:00"), which neither model knows; of
// the two characters printed alike for it, the one of the Japanese
// character set (U+301C), which Japanese input writes, not the full-width
// tilde of a Windows code page.
inline constexpr const char* waveDash = "〜";

// How wide a bracket, colon, comma or full stop is printed, where the page
// shows it: a full-width one takes a whole character cell, a half-width one
// about half.
enum class Printed { unknown, half, full };

// The recogniser prints the full-width brackets, colon, comma and full stop
// of Japanese text in their half-width forms, which it does not tell apart.
// What the page shows decides: a mark printed half-width is the half-width
// form, one printed full-width the full-width form, whatever stands beside
// them (typeset manuals bracket Japanese with half-width parentheses, and
// some set a full-width comma between Latin words). A mark whose width the
// page does not show is the full-width form when set among Japanese
// characters: a pair of brackets holding Japanese, a bracket left open or
// closed beside Japanese, a colon, comma or full stop after a Japanese
// character. Marks among digits and Latin letters (a year in English text,
// a time, a URL, a number's decimal point) keep their forms. `printed`
// holds one entry per symbol of every word, in order (none: nothing known).
// The symbols are changed in place, each keeping its place in its word.
void widenPunctuation(std::vector<Word>& words, const std::vector<Printed>& printed = {});

// Symbols of a word are written together. Between two words there is one
// space when the recogniser saw a blank there, unless both neighbouring
// characters are CJK or either is wide punctuation; before a word that
// starts a cell there is a tab, whatever the characters.
Assembled join(const std::vector<Word>& words);

}  // namespace LineText
}  // namespace velmora
