#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <tesseract/baseapi.h>

#include "recognition/page/GreyPage.hpp"
#include "recognition/page/LineText.hpp"
#include "recognition/engine/TesseractEngines.hpp"

// The line the standard pass works on, as Tesseract reports it and as each
// of the pass's steps mends it, and the engine that reads the page and
// parts of it. Every step of the pass (its own file beside StandardPass.cpp)
// works on these lines; a step that changes a line's symbols assembles the
// line again, so that its text, its symbols and their ranges agree.
namespace velmora::StandardPass {

struct PixelBox {
    int left = 0, top = 0, right = 0, bottom = 0;

    bool empty() const { return right <= left || bottom <= top; }
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    void unite(const PixelBox& o) {
        if (o.empty()) return;
        if (empty()) {
            *this = o;
            return;
        }
        left = std::min(left, o.left);
        top = std::min(top, o.top);
        right = std::max(right, o.right);
        bottom = std::max(bottom, o.bottom);
    }
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    // Moved by (dx, dy): a box read on an image cut from the page, put back
    // where the image stands. An empty box stays empty.
    void shift(int dx, int dy) {
        if (empty()) return;
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
};

// The middle value (the upper one of an even count); the values are
// reordered. Not for an empty list.
inline int median(std::vector<int>& values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// One line as Tesseract reports it, in pixels of the prepared page.
struct Line {
    int block = 0;
    // Laid out upright and left to right by the recogniser.
    bool horizontal = true;
    float confidence = 0;
    PixelBox box;
    bool hasBaseline = false;
    int baseline[4] = {0, 0, 0, 0};
    std::vector<LineText::Word> words;
    // Per symbol of all words, in order.
    std::vector<std::string> symbolTexts;
    std::vector<PixelBox> symbolBoxes;
    std::vector<float> symbolConfidences;
    LineText::Assembled assembled;
    int characters = 0;  // not counting spaces

    int height() const { return box.height(); }
    // The height its characters stand: the median of their boxes. The
    // layout sometimes stretches one character's box, and with it the
    // line's, down into the gap below the row (a digit "1" of a cell), which
    // makes a row of a table look taller than the short cells beside it.
    int textHeight() const {
        std::vector<int> heights;
        for (std::size_t k = 0; k < symbolBoxes.size() && k < symbolTexts.size(); ++k) {
            if (!symbolBoxes[k].empty() && !LineText::isBlank(symbolTexts[k])) heights.push_back(symbolBoxes[k].height());
        }
        if (heights.empty()) return height();
        return std::min(median(heights), height());
    }
    // Where the baseline crosses the middle of the line.
    double baselineY() const {
        if (!hasBaseline || baseline[2] == baseline[0]) return box.bottom;
        const double middle = (box.left + box.right) / 2.0;
        const double t = (middle - baseline[0]) / static_cast<double>(baseline[2] - baseline[0]);
        return baseline[1] + t * (baseline[3] - baseline[1]);
    }
};

// Confidence as Tesseract gives it (percent), as a fraction.
float fraction(float percent);

// Puts the line's words together into its text (see LineText), the symbols'
// own texts following their words'; false when the line holds no text.
// `printed` tells how wide its brackets and colons are printed, one entry
// per symbol, where that has been measured.
bool assemble(Line& line, const std::vector<LineText::Printed>& printed = {});

// The page's ink as the pass's steps look at it: one byte per pixel, 1 for
// ink, and its connected pieces.
struct PageInk {
    const std::vector<uint8_t>& mask;
    const std::vector<GreyPage::InkPiece>& pieces;
    int width = 0;
    int height = 0;
    // The page's grey levels (0 black), for edges finer than a pixel; none
    // where the mask alone is given.
    const std::vector<uint8_t>* grey = nullptr;

    bool at(int x, int y) const { return mask[static_cast<std::size_t>(y) * width + x] != 0; }
    // The box cut to the page.
    PixelBox clipped(PixelBox b) const {
        b.left = std::clamp(b.left, 0, width);
        b.right = std::clamp(b.right, 0, width);
        b.top = std::clamp(b.top, 0, height);
        b.bottom = std::clamp(b.bottom, 0, height);
        return b;
    }
    // Whether any pixel of the column between the rows is ink.
    bool inColumn(int x, int top, int bottom) const {
        for (int y = std::max(top, 0); y < std::min(bottom, height); ++y) {
            if (at(x, y)) return true;
        }
        return false;
    }
    // Whether every pixel of the column between the rows is ink: a table's
    // rule running down through them.
    bool ruleColumn(int x, int top, int bottom) const {
        for (int y = std::max(top, 0); y < std::min(bottom, height); ++y) {
            if (!at(x, y)) return false;
        }
        return true;
    }
};

// The lines of the engine's last run, in its reading order. Block numbers
// count from firstBlock.
std::vector<Line> lines(tesseract::TessBaseAPI& api, int firstBlock = 0);

int characters(const std::vector<Line>& ls);
// Mean confidence per character; 0 for no text.
float confidence(const std::vector<Line>& ls);

// The symbol at the index of all the line's symbols, in its word.
std::string& wordSymbol(Line& line, std::size_t index, std::size_t* word = nullptr, std::size_t* within = nullptr);
void replaceSymbol(Line& line, std::size_t index, const std::string& text);
// Before the symbol at the index, or after the last one.
void insertSymbol(Line& line, std::size_t index, const std::string& text, const PixelBox& box);
// The symbols from `from` up to (not including) `to` replaced by all the
// symbols of the other line, in its words. The first of them starts a word
// as the first replaced one did (with its blanks) or, where that one was
// inside a word, with no blank; the symbol after them starts a word of its
// own, with the blanks it had if it started one. The line is not
// assembled.
void replaceSymbols(Line& line, std::size_t from, std::size_t to, const Line& with);

// The first line's words, then the second's, as one line; the second's
// first word keeps a blank before it.
Line joined(Line first, Line second);

// The line's ink between two columns of the page alone on white, with a
// margin about it, for a part of the line to be read on an image of its own
// (no stroke of its neighbours read into it): the pieces on the line's band
// (their middle on it or a little below, an underscore's; none taller than
// two lines) most of which stand between the columns (the models' boxes
// stray by a stroke or two). `dx` and `dy` tell where the image stands on
// the page; an empty image where no such ink is.
GreyPage inkAlone(const Line& line, const GreyPage& page, const PageInk& ink, int from, int to, int margin, int& dx,
                  int& dy);

// An engine holding the page, set back to automatic layout and emptied
// whatever happens, since it reads the next page too.
class Reader {
public:
    Reader(const GreyPage& page, const TesseractEngines::Configuration& configuration);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    std::vector<Line> page(tesseract::PageSegMode mode);
    std::vector<Line> area(const PixelBox& box, tesseract::PageSegMode mode, int block);
    // Another image, read by the same engine; the page is set back
    // afterwards. Its lines are in the image's pixels.
    std::vector<Line> image(const GreyPage& other, tesseract::PageSegMode mode, int block);

private:
    void run();
    void hold(const GreyPage& page);
    tesseract::TessBaseAPI& api_;
    const GreyPage& page_;
};

}  // namespace velmora::StandardPass
