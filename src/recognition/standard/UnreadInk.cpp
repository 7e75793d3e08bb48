#include "recognition/standard/UnreadInk.hpp"

#include <algorithm>
#include <numeric>

namespace velmora::StandardPass {

namespace {

// Below this a reading of ink the layout did not read is taken for
// noise.
constexpr float legible = 0.6f;
// Figures the Japanese model reads less surely (a Mincho's yen sign as a
// kana, as a backslash): a reading mostly of digits is taken this sure;
// the English model reads figures again later.
constexpr float legibleFigures = 0.3f;
constexpr int mostUnreadRows = 48;
// A line read this unsurely, to under a quarter of the characters its
// box would hold, is no reading of its ink.
constexpr float hollowConfidence = 0.2f;
// A page read as nearly empty takes a reading only this sure; a short
// line alone in a small image is often read with little confidence.
constexpr float faint = 0.3f;
// The most characters of a column the layout makes of specks, of a mark or
// two it could not place, or of a scan's grain.
constexpr int speckColumnMost = 2;

int medianHeight(const std::vector<Line>& ls) {
    std::vector<int> heights;
    for (const Line& l : ls) {
        if (l.height() <= 2 * l.box.width()) heights.push_back(l.height());
    }
    if (heights.empty()) return 0;
    return median(heights);
}

// A line laid out as vertical text often starts or ends a few
// characters into its column, the rest of which no line covers: those
// characters, one below the other, run on from it up or down the
// column. Its box grown over them, piece by piece. The column's width
// is its characters' size; a punctuation mark is too small to count as
// a piece, so the gap it leaves may reach one and a half characters.
PixelBox columnOf(PixelBox column, const std::vector<PixelBox>& pieces, int h) {
    const int reach = std::max(h, column.width() * 3 / 2);
    for (bool grew = true; grew;) {
        grew = false;
        for (const PixelBox& p : pieces) {
            const int across = std::min(column.right, p.right) - std::max(column.left, p.left);
            const int gap = std::max(p.top - column.bottom, column.top - p.bottom);
            if (across * 2 < std::min(column.width(), p.width()) || gap > reach) continue;
            if (p.top >= column.top && p.bottom <= column.bottom) continue;
            column.unite(p);
            grew = true;
        }
    }
    return column;
}

// Characters set solid one below the other where no line is: pieces of
// ink that follow one another down the page, each across at least half
// the narrower one's width from the next and less than half a
// character from it, three or more, together at least two and a half
// times as tall as wide. Lines of horizontal text stand a good part of
// a character apart, and the cells of a table's column further.
std::vector<PixelBox> unreadColumns(std::vector<PixelBox> pieces) {
    std::sort(pieces.begin(), pieces.end(), [](const PixelBox& a, const PixelBox& b) { return a.left < b.left; });
    std::vector<std::size_t> parent(pieces.size());
    std::iota(parent.begin(), parent.end(), std::size_t{0});
    const auto root = [&](std::size_t i) {
        while (parent[i] != i) i = parent[i] = parent[parent[i]];
        return i;
    };
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const PixelBox& a = pieces[i];
        for (std::size_t j = i + 1; j < pieces.size() && pieces[j].left < a.right; ++j) {
            const PixelBox& b = pieces[j];
            const int across = std::min(a.right, b.right) - std::max(a.left, b.left);
            if (across * 2 < std::min(a.width(), b.width())) continue;
            const int gap = std::max(b.top - a.bottom, a.top - b.bottom);
            const int size = std::max({a.width(), a.height(), b.width(), b.height()});
            if (gap * 2 >= size) continue;
            parent[root(j)] = root(i);
        }
    }
    std::vector<PixelBox> boxes(pieces.size());
    std::vector<int> counts(pieces.size(), 0);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        boxes[root(i)].unite(pieces[i]);
        counts[root(i)] += 1;
    }
    std::vector<PixelBox> columns;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (counts[i] >= 3 && boxes[i].height() * 2 >= boxes[i].width() * 5) columns.push_back(boxes[i]);
    }
    return columns;
}

}  // namespace

std::vector<Line> rescueEmpty(std::vector<Line> ls, Reader& reader, const PageInk& ink) {
    // Specks a few pixels across are dust, not text, however alone
    // they stand on the page.
    int pieces = 0;
    for (const GreyPage::InkPiece& p : ink.pieces) {
        if (std::max(p.height, p.width) >= 5) pieces += 1;
    }
    // A Japanese character is one to a few pieces of ink, a Latin letter
    // one: a reading with fewer characters than a quarter of the pieces
    // has missed most of the page.
    if (pieces == 0 || characters(ls) * 4 >= pieces) return ls;
    auto better = [&](const std::vector<Line>& again) {
        const float floor = std::max(confidence(ls), faint);
        return characters(again) > characters(ls) && confidence(again) >= floor;
    };
    std::vector<Line> block = reader.page(tesseract::PSM_SINGLE_BLOCK);
    if (better(block)) ls = std::move(block);
    if (characters(ls) * 4 >= pieces) return ls;
    // A few pieces of blurred ink may not even make a block: the last
    // try is one line.
    std::vector<Line> line = reader.page(tesseract::PSM_SINGLE_LINE);
    if (better(line)) ls = std::move(line);
    return ls;
}

void dropHollowLines(std::vector<Line>& ls) {
    // Japanese typesetting never begins a line with a full stop or a comma:
    // a line of nothing else is a shape or a speck read.
    const auto stops = [](const Line& l) {
        return std::all_of(l.symbolTexts.begin(), l.symbolTexts.end(), [](const std::string& t) {
            return LineText::isBlank(t) || t == "。" || t == "、" || t == "．" || t == "，";
        });
    };
    std::erase_if(ls, [&](const Line& l) {
        if (l.characters > 0 && stops(l)) return true;
        if (!l.horizontal) return l.characters <= speckColumnMost;
        const int h = std::max(l.textHeight(), 1);
        return l.confidence < hollowConfidence && l.characters * h * 4 < l.box.width();
    });
}

void readUnreadInk(std::vector<Line>& ls, Reader& reader, const PageInk& ink, bool horizontalLinesOnly) {
    const int h = medianHeight(ls);
    if (h < 6) return;
    // A row two fifths as tall as the page's characters may be text: a
    // lone digit (a page number) stands lower than a kanji, a line's box
    // is taller than its characters, and a slide sets its foot's page
    // number small beside type set large (at half their height, a page
    // number came and went with a pixel's shift).
    std::vector<int> heights;
    for (const Line& l : ls) heights.push_back(l.textHeight());
    const int glyphs = median(heights);
    // A title may stand up to four times as tall as the lines the layout
    // read (a slide's footer, read where its title was not); a picture's
    // large pieces seldom stand in a row of three of a size.
    std::vector<PixelBox> sized;
    for (const GreyPage::InkPiece& p : ink.pieces) {
        if (p.height * 4 < h || p.height > 4 * h || p.width > 3 * std::max(h, p.height)) continue;
        sized.push_back({p.x, p.y, p.x + p.width, p.y + p.height});
    }
    std::vector<PixelBox> covering;
    for (const Line& l : ls) covering.push_back(l.box);
    if (horizontalLinesOnly) {
        for (std::size_t i = 0; i < ls.size(); ++i) {
            if (!ls[i].horizontal) covering[i] = columnOf(ls[i].box, sized, h);
        }
    }
    const auto uncovered = [&] {
        std::vector<PixelBox> out;
        for (const PixelBox& b : sized) {
            const int x = (b.left + b.right) / 2, y = (b.top + b.bottom) / 2;
            const bool covered = std::any_of(covering.begin(), covering.end(), [&](const PixelBox& c) {
                const PixelBox grown{c.left - h / 4, c.top - h / 4, c.right + h / 4, c.bottom + h / 4};
                return grown.contains(x, y);
            });
            if (!covered) out.push_back(b);
        }
        return out;
    };
    std::vector<PixelBox> pieces = uncovered();
    if (horizontalLinesOnly) {
        // The layout may also leave whole columns of vertical text out.
        for (const PixelBox& column : unreadColumns(pieces)) covering.push_back(columnOf(column, sized, h));
        pieces = uncovered();
    }
    if (pieces.empty()) return;
    // Rows: pieces beside one another on a shared band, at most a
    // character's height apart.
    std::sort(pieces.begin(), pieces.end(), [](const PixelBox& a, const PixelBox& b) { return a.left < b.left; });
    struct Row {
        PixelBox box;
        int pieces = 1;
    };
    std::vector<Row> rows;
    for (const PixelBox& p : pieces) {
        bool joined = false;
        for (Row& r : rows) {
            const int overlap = std::min(r.box.bottom, p.bottom) - std::max(r.box.top, p.top);
            const int gap = p.left - r.box.right;
            if (overlap * 2 >= std::min(r.box.height(), p.height()) && gap <= h) {
                r.box.unite(p);
                r.pieces += 1;
                joined = true;
                break;
            }
        }
        if (!joined) rows.push_back({p});
    }
    // Top to bottom, so that each row finds the rows read before it
    // above it.
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return a.box.top != b.box.top ? a.box.top < b.box.top : a.box.left < b.box.left;
    });
    int reads = 0;
    for (const Row& r : rows) {
        const PixelBox& row = r.box;
        if (row.height() > 2 * h && r.pieces < 3) continue;
        if (row.height() * 5 < glyphs * 2) continue;
        // A picture breaks into many pieces of text size; a page holds
        // only so many lines the layout could have missed.
        if (reads >= mostUnreadRows) break;
        // Ink that runs on from a line on its row is that line's end.
        const bool lineEnd = std::any_of(ls.begin(), ls.end(), [&](const Line& l) {
            const int overlap = std::min(l.box.bottom, row.bottom) - std::max(l.box.top, row.top);
            const int gap = std::max(row.left - l.box.right, l.box.left - row.right);
            return overlap * 2 >= row.height() && gap <= h;
        });
        if (lineEnd) continue;
        const PixelBox strip = ink.clipped({row.left - h / 2, row.top - h / 4, row.right + h / 2, row.bottom + h / 4});
        const int block = ls.empty() ? 0 : std::max_element(ls.begin(), ls.end(), [](const Line& a, const Line& b) {
                                               return a.block < b.block;
                                           })->block + 1;
        std::vector<Line> found = reader.area(strip, tesseract::PSM_SINGLE_LINE, block);
        reads += 1;
        if (found.size() != 1 || found.front().confidence < legibleFigures) continue;
        if (found.front().confidence < legible) {
            int digits = 0;
            for (const std::string& t : found.front().symbolTexts) digits += t.size() == 1 && t[0] >= '0' && t[0] <= '9';
            if (digits < 2 || digits * 2 < found.front().characters) continue;
        }
        // In reading order before the first line below it that shares
        // its columns, else before the first line below it. A line on its
        // row to its left (a table's first cells) is read before it, one to
        // its right (a total's amount after its label) after it.
        auto below = [&](const Line& l, bool sameColumns) {
            const bool columns = l.box.left < row.right && l.box.right > row.left;
            const int shared = std::min(l.box.bottom, row.bottom) - std::max(l.box.top, row.top);
            const bool beside = shared * 2 >= std::min(l.height(), row.height());
            if (beside && l.box.right <= row.left) return false;
            if (beside && l.box.left >= row.right) return true;
            return l.box.top >= row.top && (columns || !sameColumns);
        };
        auto at = std::find_if(ls.begin(), ls.end(), [&](const Line& l) { return below(l, true); });
        if (at == ls.end()) at = std::find_if(ls.begin(), ls.end(), [&](const Line& l) { return below(l, false); });
        ls.insert(at, std::move(found.front()));
    }
}

}  // namespace velmora::StandardPass
