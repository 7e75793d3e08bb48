#pragma once

#include <string>
#include <vector>

#include "foundation/Raster.hpp"

namespace velmora::test {

// Pages with known text for measuring how well the standard pass reads:
// prose in one and two columns, English technical prose, Japanese mixed
// with English, tables, forms, a receipt, single short lines in small images
// and a two-line page, drawn with Pango and Noto CJK at 150, 200 and
// 300 dpi, each also softened and turned slightly askew.
struct EvaluationPage {
    std::string kind;     // "prose", "two-column", "english", "mixed", "table", "form", "receipt", "short", "two-line"
    std::string variant;  // "clean", "blur", "rotated"
    int dpi = 0;          // 0 for the short lines, which are sized in pixels
    std::string name;     // unique within the set
    RasterImage image;
    // The text in reading order, one drawn line per entry (a table row is
    // one line, its cells left to right).
    std::vector<std::string> lines;

    std::string truth() const;
};

struct EvaluationFilter {
    std::vector<std::string> kinds;    // empty: every kind
    std::vector<int> dpis;             // empty: 150, 200 and 300
    std::vector<std::string> variants; // empty: every variant
};

std::vector<EvaluationPage> evaluationSet(const EvaluationFilter& filter = {});

// Pages drawn on their own, for tests.
// "請求書の合計金額を確認してください。" / "支払期限は来月末日までとします。" on an
// A4 page at the resolution.
EvaluationPage twoLinePage(int dpi);
// "資料を添付しましたので、ご確認ください。" / "よろしくお願いいたします。" in
// 32-pixel type on a 1000 × 400 image: the automatic layout ends the first
// line before "い。".
EvaluationPage lineEndPage();
// The fifteen single short lines (1 to 5 characters) in small images.
std::vector<EvaluationPage> shortLines();
// A notice with a two-column table: row numbers 1 to 17 and item texts.
EvaluationPage tablePage(int dpi);
// A form of three columns: labels, values, and notes of a label and a value.
EvaluationPage formPage(int dpi);
// Two columns of Japanese prose, the left one read first.
EvaluationPage twoColumnPage(int dpi);
// Paragraphs of English technical prose.
EvaluationPage englishPage(int dpi);
// Japanese paragraphs and English paragraphs in turn.
EvaluationPage mixedPage(int dpi);

// The text without white space, for error rates that ignore layout.
std::string withoutWhiteSpace(const std::string& text);
// The character error rate ignoring order: the characters missing from or
// added to the expected multiset, over the expected length (white space
// removed from both).
double orderFreeErrorRate(const std::string& expected, const std::string& actual);
// Only the Han and kana characters of a text, or only its ASCII letters and
// digits: the Japanese and the English part of a mixed page.
std::string japanesePart(const std::string& text);
std::string latinPart(const std::string& text);

}  // namespace velmora::test
