#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Text in this system is UTF-8; counts the user sees are grapheme clusters and
// ranges into result text are UTF-16 code units. ICU answers all three.
namespace Unicode {

std::string nfc(std::string_view utf8);

// Byte offsets of every grapheme-cluster boundary, 0 and size() included.
std::vector<std::size_t> graphemeBoundaries(std::string_view utf8);
std::size_t graphemeCount(std::string_view utf8);
// The longest prefix of whole grapheme clusters of at most maxBytes bytes.
std::string_view truncateGraphemes(std::string_view utf8, std::size_t maxBytes);
// The first n grapheme clusters.
std::string_view prefixGraphemes(std::string_view utf8, std::size_t n);
// The text cut at `end` bytes (a grapheme boundary, as the two above give),
// moved back to where a word ends so that no word is cut in two: a word
// boundary (ICU's, with its dictionary for Japanese; inside a run of
// katakana there is none, since words the dictionary does not know fall
// apart into single kana there), else a change of the kind of character
// (the letters of one script, digits, anything else). Either is taken only
// when it keeps at least half of `end`; otherwise the cut stays at `end`.
// Separators the cut leaves at the end (white space, "_", dashes, "、",
// "・", ":", ",", ".") go as well, unless nothing would be left. The whole
// text when `end` is at or past its size.
std::string_view cutAtWord(std::string_view utf8, std::size_t end);

// Grapheme-cluster boundaries of UTF-16 text, as UTF-16 offsets, 0 and
// size() included.
std::vector<std::size_t> graphemeBoundaries16(std::u16string_view utf16);

std::u16string toUTF16(std::string_view utf8);
std::string fromUTF16(std::u16string_view utf16);
std::size_t utf16Length(std::string_view utf8);

// Decodes the scalars of valid UTF-8; invalid sequences come back as U+FFFD.
std::vector<char32_t> scalars(std::string_view utf8);
void appendScalar(std::string& out, char32_t scalar);

// General categories Cc and Cf.
bool isControlOrFormat(char32_t scalar);

// Full upper-casing (the root locale's), which may change the length: "ß"
// becomes "SS".
std::string uppercased(std::string_view utf8);
// Full lower-casing (the root locale's).
std::string lowercased(std::string_view utf8);
// The general categories L (letters; kana and kanji among them).
bool isLetter(char32_t scalar);
// The general categories P, or the White_Space property (line breaks too).
bool isPunctuationOrWhiteSpace(char32_t scalar);

}  // namespace Unicode
}  // namespace velmora
