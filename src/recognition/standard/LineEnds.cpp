#include "recognition/standard/LineEnds.hpp"

#include <algorithm>
#include <cctype>

#include "foundation/Unicode.hpp"
#include "recognition/page/LineText.hpp"

namespace velmora::StandardPass {

namespace {

// Below this a stretch read on its own is taken for noise.
constexpr float leftOutLegible = 0.7f;

// Letters, digits, kana or kanji, not marks: a scan's specks are read as
// commas, dots and dashes, and a stroke as a long vowel mark or the kanji
// for one, surely now and then.
int wordSymbols(const Line& line) {
    int n = 0;
    for (const std::string& t : line.symbolTexts) {
        const std::vector<char32_t> c = Unicode::scalars(t);
        if (c.size() != 1 || c[0] == U'ー' || c[0] == U'一') continue;
        const bool latin = c[0] < 0x80 && std::isalnum(static_cast<int>(c[0]));
        n += latin || (LineText::isCJK(c[0]) && !LineText::isWidePunctuation(c[0])) ? 1 : 0;
    }
    return n;
}

// The reading put in among the line's symbols at `at`, set apart by a
// blank from what stands on either side, as a cell is; the line's
// confidence its characters' mean.
void insertApart(Line& line, std::size_t at, const Line& with) {
    const double weighted = static_cast<double>(line.confidence) * line.characters +
                            static_cast<double>(with.confidence) * with.characters;
    replaceSymbols(line, at, at, with);
    const std::size_t end = at + with.symbolTexts.size();
    std::size_t k = 0;
    for (LineText::Word& w : line.words) {
        if ((k == at && at > 0) || (k == end && end < line.symbolTexts.size())) w.blanksBefore = std::max(w.blanksBefore, 1);
        k += w.symbols.size();
    }
    assemble(line);
    if (line.characters > 0) line.confidence = static_cast<float>(weighted / line.characters);
}

// The stretch's ink read alone (a table's rules, taller than a line, left
// out), put before or after the line's symbols a blank apart when it is
// sure and mostly of letters, digits, kana or kanji: two of them at least,
// or one in a cell of its own (a rule beside it).
void readEnd(Line& line, Reader& reader, const GreyPage& page, const PageInk& ink, const PixelBox& strip,
             bool before) {
    bool ruled = false;
    for (int x = strip.left; x < strip.right && !ruled; ++x) ruled = ink.ruleColumn(x, line.box.top, line.box.bottom);
    const auto sure = [ruled](const std::vector<Line>& found) {
        if (found.size() != 1 || found.front().confidence < leftOutLegible) return false;
        const int words = wordSymbols(found.front());
        return words * 2 > found.front().characters && (words >= 2 || ruled);
    };
    std::vector<Line> found = reader.area(strip, tesseract::PSM_SINGLE_LINE, line.block);
    if (!sure(found)) {
        // Its ink alone, where a rule's stroke drags the reading down; a
        // lone character the line mode finds no line in, the word mode
        // reads.
        const int h = line.textHeight();
        int dx = 0, dy = 0;
        const GreyPage alone = inkAlone(line, page, ink, strip.left, strip.right, std::max(h / 2, 4), dx, dy);
        if (alone.width == 0) return;
        found = reader.image(alone, tesseract::PSM_SINGLE_LINE, line.block);
        if (found.empty()) found = reader.image(alone, tesseract::PSM_SINGLE_WORD, line.block);
        if (!sure(found)) return;
        for (PixelBox& b : found.front().symbolBoxes) b.shift(dx, dy);
        found.front().box.shift(dx, dy);
    }
    line.box.unite(found.front().box);
    insertApart(line, before ? 0 : line.symbolTexts.size(), found.front());
}

}  // namespace

void readLineEnds(std::vector<Line>& ls, Reader& reader, const GreyPage& page, const PageInk& ink,
                  const std::function<bool(const Line&)>& skip) {
    for (std::size_t i = 0; i < ls.size(); ++i) {
        Line& line = ls[i];
        if (skip(line)) continue;
        const int h = line.height();
        if (h < 6) continue;
        const int bandTop = line.box.top + h / 4;
        const int bandBottom = line.box.bottom - h / 4;
        // Ink of other lines on this row is theirs.
        std::vector<PixelBox> others;
        for (std::size_t j = 0; j < ls.size(); ++j) {
            if (j != i && ls[j].box.top < bandBottom && ls[j].box.bottom > bandTop) others.push_back(ls[j].box);
        }
        auto taken = [&](int x) {
            return std::any_of(others.begin(), others.end(),
                               [x](const PixelBox& b) { return x >= b.left && x < b.right; });
        };
        const int gap = h;
        int right = line.box.right - 1;
        for (int x = line.box.right; x < ink.width && x - right <= gap; ++x) {
            if (taken(x)) break;
            if (ink.inColumn(x, bandTop, bandBottom)) right = x;
        }
        int left = line.box.left;
        for (int x = line.box.left - 1; x >= 0 && left - x <= gap; --x) {
            if (taken(x)) break;
            if (ink.inColumn(x, bandTop, bandBottom)) left = x;
        }
        const int missing = (right + 1 - line.box.right) + (line.box.left - left);
        if (missing * 2 < h) continue;
        const PixelBox strip =
            ink.clipped({left - h / 2, line.box.top - h / 8, right + 1 + h / 2, line.box.bottom + h / 8});
        std::vector<Line> again = reader.area(strip, tesseract::PSM_SINGLE_LINE, line.block);
        if (again.size() == 1 && again.front().characters > line.characters &&
            again.front().confidence + 0.05f >= line.confidence) {
            line = std::move(again.front());
            continue;
        }
        // Read as one with the line, a stretch across a cell's border (an
        // amount before an address) may drag the whole reading down: each
        // end is then read on its own and joined to the line where it reads
        // surely.
        // Not where another line's box reaches in: on a page scanned
        // askew, the next line's start.
        const auto apart = [&](const PixelBox& end) {
            return std::none_of(ls.begin(), ls.end(), [&](const Line& l) {
                return &l != &line && l.box.left < end.right && l.box.right > end.left && l.box.top < end.bottom &&
                       l.box.bottom > end.top;
            });
        };
        const PixelBox before =
            ink.clipped({left - h / 2, line.box.top - h / 8, line.box.left, line.box.bottom + h / 8});
        const PixelBox after =
            ink.clipped({line.box.right, line.box.top - h / 8, right + 1 + h / 2, line.box.bottom + h / 8});
        if (line.box.left - left >= h / 2 && apart(before)) readEnd(line, reader, page, ink, before, true);
        if (right + 1 - line.box.right >= h / 2 && apart(after)) readEnd(line, reader, page, ink, after, false);
    }
}

namespace {

// A page holds only so many stretches the models could have left out;
// a picture breaks into many pieces of text size.
constexpr int mostLeftOutReads = 32;

}  // namespace

void readLeftOutInk(std::vector<Line>& ls, Reader& reader, const PageInk& ink,
                    const std::function<bool(const Line&)>& skip) {
    int reads = 0;
    for (std::size_t i = 0; i < ls.size() && reads < mostLeftOutReads; ++i) {
        Line& line = ls[i];
        if (skip(line) || !line.horizontal) continue;
        const int h = line.textHeight();
        if (h < 6) continue;
        std::vector<std::size_t> read;
        const auto readSymbols = [&] {
            read.clear();
            for (std::size_t k = 0; k < line.symbolBoxes.size(); ++k) {
                if (!line.symbolBoxes[k].empty() && !LineText::isBlank(line.symbolTexts[k])) read.push_back(k);
            }
        };
        readSymbols();
        if (read.size() < 2) continue;
        const auto covered = [&](const PixelBox& p) {
            const auto over = [&](const PixelBox& b) {
                return std::min(b.right, p.right) - std::max(b.left, p.left) > 0 && b.top < p.bottom && b.bottom > p.top;
            };
            for (const std::size_t k : read) {
                if (over(line.symbolBoxes[k])) return true;
            }
            for (std::size_t j = 0; j < ls.size(); ++j) {
                if (j != i && over(ls[j].box)) return true;
            }
            return false;
        };
        // Pieces of the line's size on its band, between its first symbol
        // and its last (past them is readLineEnds' part), that nothing read
        // covers; a rule's stroke is too thin to be one.
        const int from = line.symbolBoxes[read.front()].right, to = line.symbolBoxes[read.back()].left;
        std::vector<PixelBox> left;
        for (const GreyPage::InkPiece& p : ink.pieces) {
            const int cy = p.y + p.height / 2;
            if (p.x < from || p.x + p.width > to || cy < line.box.top || cy >= line.box.bottom) continue;
            if (p.height * 4 < h || p.height > 2 * h || (p.width * 4 < h && p.height > h)) continue;
            const PixelBox box{p.x, p.y, p.x + p.width, p.y + p.height};
            if (!covered(box)) left.push_back(box);
        }
        std::sort(left.begin(), left.end(), [](const PixelBox& a, const PixelBox& b) { return a.left < b.left; });
        std::vector<PixelBox> runs;
        for (const PixelBox& p : left) {
            if (!runs.empty() && p.left - runs.back().right <= h) {
                runs.back().unite(p);
            } else {
                runs.push_back(p);
            }
        }
        // Right to left: a stretch's place is among the symbols to its left.
        for (auto run = runs.rbegin(); run != runs.rend() && reads < mostLeftOutReads; ++run) {
            // A stretch narrower than a character and a half is a short
            // cell (a quantity, a unit) or a mark: taken when it reads
            // mostly as letters, digits, kana or kanji.
            const bool narrow = run->width() * 2 < 3 * h;
            // Between the symbols beside it, none of their ink in the image.
            std::size_t after = line.symbolBoxes.size();
            int leftEdge = run->left - h, rightEdge = run->right + h;
            for (const std::size_t k : read) {
                const PixelBox& b = line.symbolBoxes[k];
                if (b.right <= run->left) leftEdge = std::max(leftEdge, b.right);
                if (b.left >= run->right && after == line.symbolBoxes.size()) {
                    after = k;
                    rightEdge = std::min(rightEdge, b.left);
                }
            }
            // A stretch the models left out stands a cell's blank apart
            // from what they read; ink nearer is a symbol their box for it
            // missed (a digit's box strays).
            if (after == line.symbolBoxes.size() || run->left - leftEdge < h || rightEdge - run->right < h) continue;
            // Read inside its cell's borders: a rule beside a short cell is
            // read as a bar or a 1 with it.
            const int top = std::min(line.box.top, run->top), bottom = std::max(line.box.bottom, run->bottom);
            for (int x = run->left - 1; x > leftEdge; --x) {
                if (ink.ruleColumn(x, top, bottom)) leftEdge = x + 1;
                if (leftEdge == x + 1) break;
            }
            for (int x = run->right; x < rightEdge; ++x) {
                if (ink.ruleColumn(x, top, bottom)) rightEdge = x;
                if (rightEdge == x) break;
            }
            const PixelBox strip = ink.clipped({leftEdge, top - h / 8, rightEdge, bottom + h / 8});
            std::vector<Line> found = reader.area(strip, tesseract::PSM_SINGLE_LINE, line.block);
            reads += 1;
            if (found.size() != 1 || found.front().characters == 0 || found.front().confidence < leftOutLegible) continue;
            if (narrow && (wordSymbols(found.front()) == 0 || wordSymbols(found.front()) * 2 < found.front().characters)) {
                continue;
            }
            insertApart(line, after, found.front());
            readSymbols();
        }
    }
}

}  // namespace velmora::StandardPass
