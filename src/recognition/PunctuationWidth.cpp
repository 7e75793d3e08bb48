#include "recognition/PunctuationWidth.hpp"

#include <algorithm>
#include <string>

#include "foundation/Unicode.hpp"

namespace velmora::StandardPass {

namespace {

// Brackets (or colons) measured on a page before its way of setting them
// is taken for the others.
constexpr int leastMeasured = 3;

char32_t only(const std::string& text) {
    const std::vector<char32_t> scalars = Unicode::scalars(text);
    return scalars.size() == 1 ? scalars.front() : 0;
}

// A kana or kanji: a character that fills its cell, unlike the marks.
bool fillsCell(char32_t c) { return c != 0 && LineText::isCJK(c) && !LineText::isWidePunctuation(c); }

std::vector<std::size_t> inkedSymbols(const Line& line) {
    std::vector<std::size_t> inked;
    for (std::size_t k = 0; k < line.symbolTexts.size() && k < line.symbolBoxes.size(); ++k) {
        if (!line.symbolBoxes[k].empty() && !LineText::isBlank(line.symbolTexts[k])) inked.push_back(k);
    }
    return inked;
}

int pitch(const Line& line, const std::vector<std::size_t>& inked) {
    std::vector<int> steps;
    for (std::size_t k = 1; k < inked.size(); ++k) {
        const std::size_t a = inked[k - 1], b = inked[k];
        if (!fillsCell(only(line.symbolTexts[a])) || !fillsCell(only(line.symbolTexts[b]))) continue;
        const PixelBox& p = line.symbolBoxes[a];
        const PixelBox& q = line.symbolBoxes[b];
        const int step = (q.left + q.right) / 2 - (p.left + p.right) / 2;
        const int size = std::max(p.height(), q.height());
        if (step > 0 && step * 2 <= size * 3) steps.push_back(step);
    }
    if (steps.size() < 3) return 0;
    return median(steps);
}

}  // namespace

int japanesePitch(const Line& line) { return pitch(line, inkedSymbols(line)); }

namespace {

// The mark's ink, found among the pieces whose middles stand inside its box
// and on the line's band (the box may take in some of a neighbour's ink): a
// bracket is the one piece there as tall as half the line's characters and
// narrow, a colon two small pieces one above the other. Empty when the
// pieces are not so.
PixelBox markInk(const PixelBox& box, const Line& line, const PageInk& ink, bool colon, int em) {
    const int h = line.textHeight();
    PixelBox out;
    int n = 0;
    for (const GreyPage::InkPiece& p : ink.pieces) {
        const int cx = p.x + p.width / 2, cy = p.y + p.height / 2;
        if (cx < box.left || cx >= box.right || cy < line.box.top || cy >= line.box.bottom) continue;
        const bool fits = colon ? p.height * 3 <= h : p.height * 2 >= h && p.width * 5 <= em * 2;
        if (!fits) continue;
        out.unite({p.x, p.y, p.x + p.width, p.y + p.height});
        n += 1;
    }
    return n == (colon ? 2 : 1) ? out : PixelBox{};
}

std::vector<LineText::Printed> printedWidths(const Line& line, const PageInk& ink) {
    std::vector<LineText::Printed> out(line.symbolTexts.size(), LineText::Printed::unknown);
    const std::vector<std::size_t> inked = inkedSymbols(line);
    const int em = pitch(line, inked);
    if (em <= 0) return out;
    for (std::size_t k = 0; k < inked.size(); ++k) {
        const std::size_t at = inked[k];
        const char32_t c = only(line.symbolTexts[at]);
        const bool opening = c == U'(' || c == U'（';
        const bool closing = c == U')' || c == U'）';
        const bool colon = c == U':' || c == U'：';
        if (!opening && !closing && !colon) continue;
        const PixelBox mark = markInk(line.symbolBoxes[at], line, ink, colon, em);
        if (mark.empty()) continue;
        // The blank on the mark's outer side, up to the next ink on the
        // line's band: before an opening bracket or a colon, after a closing
        // bracket. Another mark on that side leaves it unmeasured: its own
        // blank may stand there, and fonts and typesetters close up the
        // blanks of two marks that meet ("）。").
        int blank = -1;
        if (opening || colon) {
            if (k > 0 && LineText::isWidePunctuation(only(line.symbolTexts[inked[k - 1]]))) continue;
            for (int x = mark.left - 1; x >= 0 && mark.left - x <= em; --x) {
                if (ink.inColumn(x, line.box.top, line.box.bottom)) {
                    blank = mark.left - 1 - x;
                    break;
                }
            }
        } else {
            if (k + 1 < inked.size() && LineText::isWidePunctuation(only(line.symbolTexts[inked[k + 1]]))) continue;
            for (int x = mark.right; x < ink.width && x - mark.right < em; ++x) {
                if (ink.inColumn(x, line.box.top, line.box.bottom)) {
                    blank = x - mark.right;
                    break;
                }
            }
        }
        if (blank < 0) continue;
        // Half a cell of blank beside a bracket, a quarter beside a colon
        // (its cell's blank is shared by both sides).
        const bool full = colon ? blank * 4 >= em : blank * 20 >= em * 9;
        out[at] = full ? LineText::Printed::full : LineText::Printed::half;
    }
    // Brackets come in pairs of one width: one whose outer side tells
    // nothing (a closing bracket at a cell's or the line's end) is as wide as
    // its partner.
    for (std::size_t k = 0; k < inked.size(); ++k) {
        const char32_t c = only(line.symbolTexts[inked[k]]);
        if (c != U'(' && c != U'（') continue;
        for (std::size_t j = k + 1; j < inked.size(); ++j) {
            const char32_t d = only(line.symbolTexts[inked[j]]);
            if (d == U'(' || d == U'（') break;
            if (d != U')' && d != U'）') continue;
            LineText::Printed& open = out[inked[k]];
            LineText::Printed& close = out[inked[j]];
            if (open == LineText::Printed::unknown) open = close;
            if (close == LineText::Printed::unknown) close = open;
            break;
        }
    }
    return out;
}

}  // namespace

void readPunctuationWidths(std::vector<Line>& ls, const PageInk& ink) {
    std::vector<std::vector<LineText::Printed>> printed;
    // How many brackets, and how many colons, the page shows half-width and
    // full-width.
    int halfBrackets = 0, fullBrackets = 0, halfColons = 0, fullColons = 0;
    for (const Line& line : ls) {
        printed.push_back(line.horizontal ? printedWidths(line, ink) : std::vector<LineText::Printed>{});
        const std::vector<std::size_t> inked = inkedSymbols(line);
        for (std::size_t i = 0; i < inked.size() && !printed.back().empty(); ++i) {
            // Only marks beside Japanese count: among digits and Latin
            // letters every page sets them half-width.
            const bool beside = (i > 0 && fillsCell(only(line.symbolTexts[inked[i - 1]]))) ||
                                (i + 1 < inked.size() && fillsCell(only(line.symbolTexts[inked[i + 1]])));
            if (!beside) continue;
            const std::size_t k = inked[i];
            const bool colon = only(line.symbolTexts[k]) == U':' || only(line.symbolTexts[k]) == U'：';
            const LineText::Printed p = printed.back()[k];
            if (p == LineText::Printed::half) (colon ? halfColons : halfBrackets) += 1;
            if (p == LineText::Printed::full) (colon ? fullColons : fullBrackets) += 1;
        }
    }
    // A page sets its brackets (and its colons) beside Japanese one way:
    // where it shows nearly all of them half-width, the ones whose blank does not show are
    // half-width too.
    const auto mostlyHalf = [](int half, int full) { return half >= leastMeasured && half >= full * 4; };
    const bool bracketsHalf = mostlyHalf(halfBrackets, fullBrackets);
    const bool colonsHalf = mostlyHalf(halfColons, fullColons);
    for (std::size_t i = 0; i < ls.size(); ++i) {
        Line& line = ls[i];
        std::vector<LineText::Printed>& widths = printed[i];
        bool known = false;
        for (std::size_t k = 0; k < widths.size(); ++k) {
            const char32_t c = only(line.symbolTexts[k]);
            const bool colon = c == U':' || c == U'：';
            const bool bracket = c == U'(' || c == U'（' || c == U')' || c == U'）';
            if (widths[k] == LineText::Printed::unknown && ((colon && colonsHalf) || (bracket && bracketsHalf))) {
                widths[k] = LineText::Printed::half;
            }
            known = known || widths[k] != LineText::Printed::unknown;
        }
        if (known) assemble(line, widths);
    }
}

}  // namespace velmora::StandardPass
