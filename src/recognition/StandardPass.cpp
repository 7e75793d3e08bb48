#include "recognition/StandardPass.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <numeric>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include "foundation/Unicode.hpp"
#include "recognition/Bullets.hpp"
#include "recognition/LatinRuns.hpp"
#include "recognition/LineText.hpp"
#include "recognition/PunctuationWidth.hpp"
#include "recognition/Quotes.hpp"
#include "recognition/StandardPassLine.hpp"

namespace velmora::StandardPass {

namespace {

class Pass {
public:
    Pass(const GreyPage& page, const Models& models) : page_(page), models_(models), first_(page, models.first) {}

    std::vector<Line> run(OCREngine::Reading reading) {
        std::vector<Line> ls = first_.page(tesseract::PSM_AUTO);
        if (reading == OCREngine::Reading::layoutOnly) return ls;
        mask_ = page_.inkMask();
        pieces_ = page_.inkPieces();
        ls = rescueEmpty(std::move(ls));
        dropHollowLines(ls);
        readUnreadInk(ls);
        ls = readTables(std::move(ls));
        readLineEnds(ls);
        placeMarginNotes(ls);
        if (models_.second) readOtherLanguage(ls);
        // The runs are read on images of their own, by the same engine.
        second_.reset();
        if (models_.second && models_.firstIsJapanese) {
            readLatinRuns(ls, page_, {mask_, pieces_, page_.width, page_.height}, *models_.second,
                          [this](const Line& line) { return verticalColumn(line); });
        }
        readSolidSquares(ls);
        readBullets(ls, {mask_, pieces_, page_.width, page_.height});
        dropRules(ls, {mask_, pieces_, page_.width, page_.height});
        markCells(ls);
        readQuotes(ls, {mask_, pieces_, page_.width, page_.height, &page_.pixels});
        readPunctuationWidths(ls, {mask_, pieces_, page_.width, page_.height, &page_.pixels});
        return ls;
    }

private:
    PixelBox clipped(PixelBox b) const {
        b.left = std::clamp(b.left, 0, page_.width);
        b.right = std::clamp(b.right, 0, page_.width);
        b.top = std::clamp(b.top, 0, page_.height);
        b.bottom = std::clamp(b.bottom, 0, page_.height);
        return b;
    }

    bool inkAt(int x, int y) const { return mask_[static_cast<std::size_t>(y) * page_.width + x] != 0; }

    bool columnHasInk(int x, int top, int bottom) const {
        for (int y = top; y < bottom; ++y) {
            if (inkAt(x, y)) return true;
        }
        return false;
    }

    // Automatic layout drops whole small images of a short line, and
    // sometimes all of a sparse page, as if they held no text. Where the
    // ink says otherwise the page is read as one block.
    std::vector<Line> rescueEmpty(std::vector<Line> ls) {
        // Specks a few pixels across are dust, not text, however alone
        // they stand on the page.
        int pieces = 0;
        for (const GreyPage::InkPiece& p : pieces_) {
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
        std::vector<Line> block = first_.page(tesseract::PSM_SINGLE_BLOCK);
        if (better(block)) ls = std::move(block);
        if (characters(ls) * 4 >= pieces) return ls;
        // A few pieces of blurred ink may not even make a block: the last
        // try is one line.
        std::vector<Line> line = first_.page(tesseract::PSM_SINGLE_LINE);
        if (better(line)) ls = std::move(line);
        return ls;
    }

    static int medianHeight(const std::vector<Line>& ls) {
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
    static PixelBox columnOf(PixelBox column, const std::vector<PixelBox>& pieces, int h) {
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
    static std::vector<PixelBox> unreadColumns(std::vector<PixelBox> pieces) {
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

    // The layout sometimes gives a line of text a box two rows tall and
    // reads next to nothing in it, with no confidence (a lone digit over a
    // whole line's width), and the line's own ink is then taken for read.
    // Such a line is no reading: it is dropped, and its row is read as ink
    // that no line covers.
    void dropHollowLines(std::vector<Line>& ls) const {
        std::erase_if(ls, [](const Line& l) {
            const int h = std::max(l.textHeight(), 1);
            return l.horizontal && l.confidence < hollowConfidence && l.characters * h * 4 < l.box.width();
        });
    }

    // Automatic layout also leaves out parts of a page that it reads: a
    // heading, a column of short labels. Ink of the size of the page's text
    // that no line covers, and that does not just run on from a line (line
    // ends are mended below), is gathered into rows and each row is read
    // as one line.
    void readUnreadInk(std::vector<Line>& ls) {
        const int h = medianHeight(ls);
        if (h < 6) return;
        std::vector<PixelBox> sized;
        for (const GreyPage::InkPiece& p : pieces_) {
            if (p.height * 4 < h || p.height > 2 * h || p.width > 3 * h) continue;
            sized.push_back({p.x, p.y, p.x + p.width, p.y + p.height});
        }
        std::vector<PixelBox> covering;
        for (const Line& l : ls) covering.push_back(l.box);
        if (models_.horizontalLinesOnly) {
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
        if (models_.horizontalLinesOnly) {
            // The layout may also leave whole columns of vertical text out.
            for (const PixelBox& column : unreadColumns(pieces)) covering.push_back(columnOf(column, sized, h));
            pieces = uncovered();
        }
        if (pieces.empty()) return;
        // Rows: pieces beside one another on a shared band, at most a
        // character's height apart.
        std::sort(pieces.begin(), pieces.end(), [](const PixelBox& a, const PixelBox& b) { return a.left < b.left; });
        std::vector<PixelBox> rows;
        for (const PixelBox& p : pieces) {
            bool joined = false;
            for (PixelBox& r : rows) {
                const int overlap = std::min(r.bottom, p.bottom) - std::max(r.top, p.top);
                const int gap = p.left - r.right;
                if (overlap * 2 >= std::min(r.height(), p.height()) && gap <= h) {
                    r.unite(p);
                    joined = true;
                    break;
                }
            }
            if (!joined) rows.push_back(p);
        }
        // Top to bottom, so that each row finds the rows read before it
        // above it.
        std::sort(rows.begin(), rows.end(), [](const PixelBox& a, const PixelBox& b) {
            return a.top != b.top ? a.top < b.top : a.left < b.left;
        });
        int reads = 0;
        for (const PixelBox& row : rows) {
            if (row.height() * 2 < h) continue;
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
            const PixelBox strip = clipped({row.left - h / 2, row.top - h / 4, row.right + h / 2, row.bottom + h / 4});
            const int block = ls.empty() ? 0 : std::max_element(ls.begin(), ls.end(), [](const Line& a, const Line& b) {
                                                   return a.block < b.block;
                                               })->block + 1;
            std::vector<Line> found = first_.area(strip, tesseract::PSM_SINGLE_LINE, block);
            reads += 1;
            if (found.size() != 1 || found.front().confidence < legible) continue;
            // In reading order before the first line below it that shares
            // its columns, else before the first line below it.
            auto below = [&](const Line& l, bool sameColumns) {
                const bool columns = l.box.left < row.right && l.box.right > row.left;
                return l.box.top >= row.top && (columns || !sameColumns);
            };
            auto at = std::find_if(ls.begin(), ls.end(), [&](const Line& l) { return below(l, true); });
            if (at == ls.end()) at = std::find_if(ls.begin(), ls.end(), [&](const Line& l) { return below(l, false); });
            ls.insert(at, std::move(found.front()));
        }
    }

    // A column of prose: most of its lines hold many characters, or most
    // of its lines run to its right edge. Columns of prose stand side by side
    // with their lines on shared baselines as often as the columns of a
    // table do, and are read column by column.
    static bool proseLike(const std::vector<const Line*>& block, const PixelBox& box) {
        std::vector<int> heights;
        for (const Line* l : block) heights.push_back(l->height());
        const int h = std::max(1, median(heights));
        std::size_t long_ = 0;
        for (const Line* l : block) {
            if (l->box.width() >= 12 * h) long_ += 1;
        }
        if (long_ * 2 >= block.size()) return true;
        if (block.size() < 3 || box.width() < 6 * h) return false;
        std::size_t full = 0;
        for (const Line* l : block) {
            if (l->box.right >= box.right - h) full += 1;
        }
        return full * 10 >= block.size() * 7;
    }

    // A narrow column of short cells (row numbers) is sometimes taken for a
    // line of vertical text running down the column.
    static bool standsUpright(const Line& line, const Line& beside) {
        return line.height() > 2 * line.box.width() && line.height() > 2 * beside.height();
    }

    static bool sameRow(const Line& a, const Line& b) {
        if (standsUpright(a, b) || standsUpright(b, a)) {
            const Line& column = standsUpright(a, b) ? a : b;
            const Line& row = standsUpright(a, b) ? b : a;
            const int middle = (row.box.top + row.box.bottom) / 2;
            const bool apart = column.box.right <= row.box.left || row.box.right <= column.box.left;
            return apart && middle > column.box.top && middle < column.box.bottom;
        }
        const int h = std::max(a.textHeight(), b.textHeight());
        const bool apart = a.box.right <= b.box.left + h / 4 || b.box.right <= a.box.left + h / 4;
        return apart && std::abs(a.baselineY() - b.baselineY()) <= 0.35 * h &&
               std::min(a.textHeight(), b.textHeight()) * 2 >= h;
    }

    // Whether two characters of the line stand a line's height apart or
    // more, as cells do and the characters and words of prose do not.
    static bool widelySpaced(const Line& line, int h) {
        std::vector<PixelBox> boxes;
        for (std::size_t k = 0; k < line.symbolBoxes.size(); ++k) {
            if (line.symbolBoxes[k].empty() || LineText::isBlank(line.symbolTexts[k])) continue;
            boxes.push_back(line.symbolBoxes[k]);
        }
        std::sort(boxes.begin(), boxes.end(), [](const PixelBox& a, const PixelBox& b) { return a.left < b.left; });
        int right = -1;
        for (const PixelBox& b : boxes) {
            if (right >= 0 && b.left - right >= h) return true;
            right = std::max(right, b.right);
        }
        return false;
    }

    // Two cells of one row of a table. The baselines of short cells say
    // little (the layout sometimes gives a cell of one character the box of
    // one stroke of it, and a line of a digit and a name a slanting
    // baseline), but the rows of a table stand apart: cells side by side
    // whose boxes share most of the smaller one's height, or the middle of a
    // small one, are on one row.
    static bool cellOfRow(const Line& a, const Line& b) {
        if (sameRow(a, b)) return true;
        if (standsUpright(a, b) || standsUpright(b, a)) return false;
        const bool apart = a.box.right <= b.box.left || b.box.right <= a.box.left;
        if (!apart) return false;
        const Line& small = a.height() < b.height() ? a : b;
        const Line& tall = a.height() < b.height() ? b : a;
        const int shared = std::min(a.box.bottom, b.box.bottom) - std::max(a.box.top, b.box.top);
        if (shared * 3 >= small.height() * 2) return true;
        const int middle = (small.box.top + small.box.bottom) / 2;
        return small.height() * 2 <= tall.textHeight() && middle > tall.box.top && middle < tall.box.bottom;
    }

    // The lines of a table's cells as its rows: the cells standing on one
    // row joined left to right into one line, a tab before each cell after
    // the first, rows top to bottom. Read as one block, a table sometimes
    // comes out less surely than its cells did one by one; their own
    // readings are then kept, in the table's order.
    static std::vector<Line> byRows(std::vector<Line> cells, int block) {
        std::stable_sort(cells.begin(), cells.end(),
                         [](const Line& a, const Line& b) { return a.box.top < b.box.top; });
        std::vector<std::vector<Line>> rows;
        for (Line& cell : cells) {
            const auto row = std::find_if(rows.begin(), rows.end(), [&](const std::vector<Line>& r) {
                return std::any_of(r.begin(), r.end(), [&](const Line& l) { return cellOfRow(l, cell); });
            });
            if (row == rows.end()) {
                rows.push_back({std::move(cell)});
            } else {
                row->push_back(std::move(cell));
            }
        }
        std::vector<Line> out;
        for (std::vector<Line>& row : rows) {
            std::stable_sort(row.begin(), row.end(),
                             [](const Line& a, const Line& b) { return a.box.left < b.box.left; });
            Line joined = std::move(row.front());
            joined.block = block;
            double weighted = static_cast<double>(joined.confidence) * joined.characters;
            for (std::size_t k = 1; k < row.size(); ++k) {
                Line& next = row[k];
                weighted += static_cast<double>(next.confidence) * next.characters;
                // The layout may cut one cell in two; only a gap as wide as
                // the gaps between cells starts a new one.
                const int h = std::max(joined.height(), next.height());
                if (!next.words.empty() && (next.box.left - joined.box.right) * 2 >= h) {
                    next.words.front().startsCell = true;
                }
                for (LineText::Word& w : next.words) joined.words.push_back(std::move(w));
                for (std::string& t : next.symbolTexts) joined.symbolTexts.push_back(std::move(t));
                joined.symbolBoxes.insert(joined.symbolBoxes.end(), next.symbolBoxes.begin(), next.symbolBoxes.end());
                joined.symbolConfidences.insert(joined.symbolConfidences.end(), next.symbolConfidences.begin(),
                                                next.symbolConfidences.end());
                joined.box.unite(next.box);
                joined.hasBaseline = joined.hasBaseline && next.hasBaseline;
                if (joined.hasBaseline) {
                    joined.baseline[2] = next.baseline[2];
                    joined.baseline[3] = next.baseline[3];
                }
            }
            assemble(joined);
            if (joined.characters > 0) joined.confidence = static_cast<float>(weighted / joined.characters);
            out.push_back(std::move(joined));
        }
        return out;
    }

    // The cells put in rows lack those the layout dropped (a mark, a day of
    // one character). Each row is read again as one line across the table,
    // between the rows above and below it; the reading is kept when it
    // holds at least the cells' characters and is nearly as sure.
    std::vector<Line> readRows(std::vector<Line> rows, const PixelBox& region, int h) {
        for (std::size_t k = 0; k < rows.size(); ++k) {
            Line& row = rows[k];
            if (row.characters == 0) continue;
            int top = row.box.top - h / 4, bottom = row.box.bottom + h / 4;
            for (std::size_t o = 0; o < rows.size(); ++o) {
                if (o == k) continue;
                const PixelBox& b = rows[o].box;
                if (b.bottom <= row.box.top) top = std::max(top, (b.bottom + row.box.top) / 2);
                if (b.top >= row.box.bottom) bottom = std::min(bottom, (row.box.bottom + b.top) / 2);
            }
            const PixelBox band = clipped({region.left - h, top, region.right + h, bottom});
            if (band.empty()) continue;
            std::vector<Line> again = first_.area(band, tesseract::PSM_SINGLE_LINE, row.block);
            if (again.size() != 1 || again.front().characters < row.characters) continue;
            if (again.front().confidence + tableConfidenceGiven < row.confidence) continue;
            row = std::move(again.front());
        }
        return rows;
    }

    // The layout may make a block of its own of a table's first or last
    // row, its cells too few to tell from prose or a line of prose cut in
    // two, and leave it out of the table. Two lines or more that stand on
    // one row next to the table, no further from it than its rows stand
    // from one another, are such a row, and the table takes it in; a
    // heading or a footnote is one line on its row.
    static void growTables(const std::vector<Line>& ls, std::vector<int>& member, std::vector<PixelBox>& regions) {
        for (std::size_t g = 0; g < regions.size(); ++g) {
            std::vector<const Line*> rows;
            std::vector<int> heights;
            for (std::size_t i = 0; i < ls.size(); ++i) {
                if (member[i] != static_cast<int>(g)) continue;
                rows.push_back(&ls[i]);
                heights.push_back(ls[i].textHeight());
            }
            if (rows.size() < leastRows) continue;
            const int h = std::max(1, median(heights));
            // The step from one row to the next: the median of the steps
            // between the tops of the table's lines, lines on one row
            // counting once.
            std::vector<int> tops;
            for (const Line* l : rows) tops.push_back(l->box.top);
            std::sort(tops.begin(), tops.end());
            std::vector<int> steps;
            for (std::size_t k = 1; k < tops.size(); ++k) {
                if (tops[k] - tops[k - 1] > h / 2) steps.push_back(tops[k] - tops[k - 1]);
            }
            if (steps.empty()) continue;
            const int step = median(steps);
            const auto candidate = [&](const Line& l) {
                // A cell of one narrow character stands taller than wide,
                // but no taller than the table's text.
                if (!l.horizontal || (l.height() > l.box.width() && l.height() * 2 > h * 3)) return false;
                if (l.box.width() >= 12 * h && !widelySpaced(l, h)) return false;
                const PixelBox& region = regions[g];
                return l.box.left < region.right && l.box.right > region.left;
            };
            for (bool grew = true; grew;) {
                grew = false;
                for (std::size_t i = 0; i < ls.size(); ++i) {
                    if (member[i] >= 0 || !candidate(ls[i])) continue;
                    for (std::size_t j = 0; j < ls.size(); ++j) {
                        if (j == i || member[j] >= 0 || !candidate(ls[j]) || !sameRow(ls[i], ls[j])) continue;
                        PixelBox row = ls[i].box;
                        row.unite(ls[j].box);
                        const PixelBox& region = regions[g];
                        if (std::max(row.top - region.bottom, region.top - row.bottom) > step) continue;
                        member[i] = member[j] = static_cast<int>(g);
                        regions[g].unite(row);
                        grew = true;
                        break;
                    }
                }
            }
        }
    }

    // A cell of one character that the layout gave the box of one stroke
    // finds no line on its row by their baselines, and is left out of its
    // table: a short line standing on a row of a table, beside one of its
    // cells, is a cell of it.
    static void takeLoneCells(const std::vector<Line>& ls, std::vector<int>& member) {
        for (std::size_t i = 0; i < ls.size(); ++i) {
            const Line& l = ls[i];
            if (member[i] >= 0 || !l.horizontal || l.characters == 0 || l.characters > 2) continue;
            for (std::size_t j = 0; j < ls.size(); ++j) {
                if (member[j] < 0 || !cellOfRow(ls[j], l)) continue;
                member[i] = member[j];
                break;
            }
        }
    }

    // Automatic layout reads the columns of a table one after another, and
    // drops short cells (row numbers, amounts) as noise. Blocks that stand
    // side by side with lines on shared baselines are read again together
    // as one block, which gives one line per visual row, cells left to
    // right.
    std::vector<Line> readTables(std::vector<Line> ls) {
        if (ls.size() < 4) return ls;
        int blockCount = 0;
        for (const Line& l : ls) blockCount = std::max(blockCount, l.block + 1);
        std::vector<std::vector<const Line*>> blocks(static_cast<std::size_t>(blockCount));
        std::vector<PixelBox> boxes(static_cast<std::size_t>(blockCount));
        for (const Line& l : ls) {
            blocks[static_cast<std::size_t>(l.block)].push_back(&l);
            boxes[static_cast<std::size_t>(l.block)].unite(l.box);
        }
        std::vector<bool> cells(static_cast<std::size_t>(blockCount), false);
        for (int b = 0; b < blockCount; ++b) {
            const auto i = static_cast<std::size_t>(b);
            cells[i] = !blocks[i].empty() && !proseLike(blocks[i], boxes[i]);
        }
        // A column of cells as wide as one another looks like a column of
        // prose, and so does a block the layout already read as rows of
        // several cells. Such a block is the table's own when nearly every
        // line of it stands on a row with a cell of another block, both laid
        // out as horizontal lines: the lines of prose beside a table do not
        // keep pace with its rows, columns of prose side by side are both
        // prose, and columns of vertical text beside a paragraph are no
        // cells.
        std::vector<bool> joins(static_cast<std::size_t>(blockCount), false);
        for (int b = 0; b < blockCount; ++b) {
            const auto i = static_cast<std::size_t>(b);
            if (cells[i] || blocks[i].size() < leastRows) continue;
            std::vector<int> heights;
            for (const Line* l : blocks[i]) heights.push_back(l->height());
            const int h = std::max(1, median(heights));
            std::size_t paired = 0;
            for (const Line* l : blocks[i]) {
                // A long line is a row of cells only with a cell's gap in it.
                if (l->box.width() >= 12 * h && !widelySpaced(*l, h)) continue;
                const bool onRow = l->horizontal && std::any_of(ls.begin(), ls.end(), [&](const Line& other) {
                    return other.block != b && other.horizontal && cells[static_cast<std::size_t>(other.block)] &&
                           sameRow(*l, other);
                });
                paired += onRow ? 1 : 0;
            }
            joins[i] = paired * 4 >= blocks[i].size() * 3;
        }
        for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = cells[i] || joins[i];
        // Blocks joined by shared rows, and how many rows they share.
        std::vector<int> group(static_cast<std::size_t>(blockCount));
        std::iota(group.begin(), group.end(), 0);
        auto root = [&](int b) {
            while (group[static_cast<std::size_t>(b)] != b) b = group[static_cast<std::size_t>(b)];
            return b;
        };
        std::vector<int> shared(static_cast<std::size_t>(blockCount), 0);
        std::vector<std::pair<std::size_t, std::size_t>> rows;
        for (std::size_t i = 0; i < ls.size(); ++i) {
            if (!cells[static_cast<std::size_t>(ls[i].block)]) continue;
            for (std::size_t j = i + 1; j < ls.size(); ++j) {
                if (ls[j].block == ls[i].block || !cells[static_cast<std::size_t>(ls[j].block)]) continue;
                if (!sameRow(ls[i], ls[j])) continue;
                const int a = root(ls[i].block), b = root(ls[j].block);
                group[static_cast<std::size_t>(std::max(a, b))] = std::min(a, b);
                rows.emplace_back(i, j);
            }
        }
        for (const auto& [i, j] : rows) shared[static_cast<std::size_t>(root(ls[i].block))] += 1;
        // Each table's region, and the lines it takes in: those of its
        // blocks and any other line standing inside it.
        std::vector<PixelBox> regions(static_cast<std::size_t>(blockCount));
        for (const Line& l : ls) {
            const int g = root(l.block);
            if (shared[static_cast<std::size_t>(g)] >= 2) regions[static_cast<std::size_t>(g)].unite(l.box);
        }
        std::vector<int> member(ls.size(), -1);
        for (std::size_t i = 0; i < ls.size(); ++i) {
            const int g = root(ls[i].block);
            if (shared[static_cast<std::size_t>(g)] >= 2) {
                member[i] = g;
                continue;
            }
            const int x = (ls[i].box.left + ls[i].box.right) / 2, y = (ls[i].box.top + ls[i].box.bottom) / 2;
            for (int r = 0; r < blockCount; ++r) {
                if (shared[static_cast<std::size_t>(r)] >= 2 && regions[static_cast<std::size_t>(r)].contains(x, y)) {
                    member[i] = r;
                    break;
                }
            }
        }
        growTables(ls, member, regions);
        takeLoneCells(ls, member);
        std::vector<Line> out;
        std::vector<bool> done(static_cast<std::size_t>(blockCount), false);
        for (std::size_t i = 0; i < ls.size(); ++i) {
            const int g = member[i];
            if (g < 0) {
                out.push_back(std::move(ls[i]));
                continue;
            }
            if (done[static_cast<std::size_t>(g)]) continue;
            done[static_cast<std::size_t>(g)] = true;
            // The region grows to hold every line it takes in.
            PixelBox region;
            std::vector<Line> before;
            int h = 0;
            for (std::size_t j = 0; j < ls.size(); ++j) {
                if (member[j] != g) continue;
                region.unite(ls[j].box);
                h = std::max(h, std::min(ls[j].height(), ls[j].box.width()));
                before.push_back(ls[j]);
            }
            // Columns of vertical text side by side share rows too. When
            // only lines laid out horizontally are wanted, a "table" of
            // nothing but lines laid out otherwise is such a block: read
            // as one block it would come back as rows across its columns,
            // horizontal lines of the wrong characters in the wrong order.
            if (models_.horizontalLinesOnly &&
                std::none_of(before.begin(), before.end(), [](const Line& l) { return l.horizontal; })) {
                for (Line& l : before) out.push_back(std::move(l));
                continue;
            }
            const PixelBox padded =
                clipped({region.left - h, region.top - h / 2, region.right + h, region.bottom + h / 2});
            std::vector<Line> rows = first_.area(padded, tesseract::PSM_SINGLE_BLOCK, ls[i].block);
            // A column misread as vertical text stands over several rows; a
            // cell of one narrow character ("1", "8") stands as tall and as
            // narrow, but on one row, and is a cell like the others.
            std::vector<int> heights;
            for (const Line& l : before) heights.push_back(l.textHeight());
            const int rowHeight = std::max(1, median(heights));
            const auto standing = [&](const Line& l) {
                return (!l.horizontal || l.height() > 2 * l.box.width()) && l.height() * 2 > rowHeight * 3;
            };
            // Upright "lines" are a column misread as vertical text: what
            // they hold is no reading to keep.
            int across = 0;
            for (const Line& l : before) {
                if (!standing(l)) across += l.characters;
            }
            // Both readings are in the table's order: the block's, and the
            // cells' own put in rows, each row read again across the table.
            // The block's is kept unless it is much less sure or lost cells:
            // read as one block, a table keeps the cells the layout dropped
            // and reads each row as one line, but comes out a little less
            // sure than its cells one by one, by how much depending on the
            // resolution and the noise. A column misread upright is no cell
            // of a row; its rows read again hold what it covers.
            const int read = characters(rows);
            const float sureness = confidence(rows), cellsSureness = confidence(before);
            const bool complete = read * 20 >= across * 19;
            const bool nearly = sureness + tableConfidenceGiven >= cellsSureness;
            const bool holds = complete && nearly;
            if (!holds) {
                std::erase_if(before, standing);
                before = readRows(byRows(std::move(before), ls[i].block), region, h);
            }
            for (Line& l : holds ? rows : before) out.push_back(std::move(l));
        }
        return out;
    }

    // When only horizontal lines are wanted, a line laid out vertically
    // and standing taller than wide is a column of vertical text, to be
    // left out: read again as one line it would come back as a horizontal
    // line of garbage. One lying wider than tall is horizontal text the
    // layout misjudged (a short line in a small image) and is mended.
    bool verticalColumn(const Line& line) const {
        return models_.horizontalLinesOnly && !line.horizontal && line.height() > line.box.width();
    }

    // Documented sources and reference manuals print a name in the left
    // margin beside the first line of the paragraph that describes it (a
    // macro's name, a term). The layout makes a block of the margin and
    // reads it before the text, every name away from its paragraph. A short
    // line standing wholly left of where the page's lines of text begin, on
    // the row of one of them, is read just before that line.
    void placeMarginNotes(std::vector<Line>& ls) const {
        // Where the text begins: the leftmost edge that three long lines or
        // more share (paragraphs are indented, code is set further in).
        std::vector<int> lefts;
        int widest = 0;
        for (const Line& l : ls) {
            if (!l.horizontal) continue;
            const int h = std::max(l.textHeight(), 1);
            if (l.box.width() >= 12 * h) lefts.push_back(l.box.left);
            widest = std::max(widest, l.box.width());
        }
        std::sort(lefts.begin(), lefts.end());
        int textLeft = -1;
        for (std::size_t i = 0; i < lefts.size() && textLeft < 0; ++i) {
            std::size_t j = i;
            while (j < lefts.size() && lefts[j] - lefts[i] <= marginTolerance) ++j;
            if (j - i >= leastRows) textLeft = lefts[i];
        }
        if (textLeft < 0) return;
        for (std::size_t i = 0; i < ls.size(); ++i) {
            const Line& note = ls[i];
            if (!note.horizontal || note.box.right > textLeft || note.box.width() * 3 > widest) continue;
            // The line of text on its row.
            std::size_t beside = ls.size();
            for (std::size_t j = 0; j < ls.size(); ++j) {
                const Line& l = ls[j];
                if (j == i || !l.horizontal || l.box.left < textLeft - marginTolerance) continue;
                const int shared = std::min(l.box.bottom, note.box.bottom) - std::max(l.box.top, note.box.top);
                if (shared * 2 < std::min(l.height(), note.height())) continue;
                beside = j;
                break;
            }
            if (beside == ls.size() || beside == i + 1) continue;
            Line moved = std::move(ls[i]);
            ls.erase(ls.begin() + static_cast<std::ptrdiff_t>(i));
            const std::size_t at = beside > i ? beside - 1 : beside;
            ls.insert(ls.begin() + static_cast<std::ptrdiff_t>(at), std::move(moved));
            // The line now at i has not been looked at.
            if (beside > i) i -= 1;
        }
    }

    // Automatic layout sometimes ends a line before its last characters,
    // line-final punctuation most of all. Where the ink of the line's row
    // runs on past its box, the line is read again as one line over all of
    // it.
    void readLineEnds(std::vector<Line>& ls) {
        for (std::size_t i = 0; i < ls.size(); ++i) {
            Line& line = ls[i];
            if (verticalColumn(line)) continue;
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
            for (int x = line.box.right; x < page_.width && x - right <= gap; ++x) {
                if (taken(x)) break;
                if (columnHasInk(x, bandTop, bandBottom)) right = x;
            }
            int left = line.box.left;
            for (int x = line.box.left - 1; x >= 0 && left - x <= gap; --x) {
                if (taken(x)) break;
                if (columnHasInk(x, bandTop, bandBottom)) left = x;
            }
            const int missing = (right + 1 - line.box.right) + (line.box.left - left);
            if (missing * 2 < h) continue;
            const PixelBox strip =
                clipped({left - h / 2, line.box.top - h / 8, right + 1 + h / 2, line.box.bottom + h / 8});
            std::vector<Line> again = first_.area(strip, tesseract::PSM_SINGLE_LINE, line.block);
            if (again.size() != 1) continue;
            if (again.front().characters > line.characters && again.front().confidence + 0.05f >= line.confidence) {
                line = std::move(again.front());
            }
        }
    }

    // The models know no black square "■" (a heading's mark in notices):
    // they read it as the densest kanji they know, or leave it out. No
    // character of any script is a square of solid ink: a piece of ink
    // about as wide as tall, the size of the line's characters and nearly
    // all ink is the square, put in place of the symbol read over it or,
    // where none was, among the line's symbols where it stands.
    void readSolidSquares(std::vector<Line>& ls) const {
        std::vector<PixelBox> squares;
        for (const GreyPage::InkPiece& p : pieces_) {
            if (std::min(p.width, p.height) < 4 || p.width * 4 < p.height * 3 || p.height * 4 < p.width * 3) continue;
            long ink = 0;
            for (int y = p.y; y < p.y + p.height; ++y) {
                for (int x = p.x; x < p.x + p.width; ++x) ink += inkAt(x, y) ? 1 : 0;
            }
            if (ink * 100 >= static_cast<long>(p.width) * p.height * solidSquare) {
                squares.push_back({p.x, p.y, p.x + p.width, p.y + p.height});
            }
        }
        if (squares.empty()) return;
        for (Line& line : ls) {
            if (verticalColumn(line) || !line.horizontal) continue;
            const int h = line.textHeight();
            bool changed = false;
            for (const PixelBox& square : squares) {
                const int size = std::max(square.width(), square.height());
                const int cx = (square.left + square.right) / 2, cy = (square.top + square.bottom) / 2;
                if (size * 2 < h || size * 2 > h * 3) continue;
                const PixelBox& b = line.box;
                if (!PixelBox{b.left - h, b.top, b.right + h, b.bottom}.contains(cx, cy)) continue;
                // The symbol read over it, else the first one to its right.
                std::size_t over = line.symbolBoxes.size(), after = line.symbolBoxes.size();
                for (std::size_t k = 0; k < line.symbolBoxes.size(); ++k) {
                    const PixelBox& sb = line.symbolBoxes[k];
                    if (sb.empty() || LineText::isBlank(line.symbolTexts[k])) continue;
                    const int across = std::min(sb.right, square.right) - std::max(sb.left, square.left);
                    if (across * 2 >= square.width()) {
                        over = k;
                        break;
                    }
                    if (after == line.symbolBoxes.size() && (sb.left + sb.right) / 2 > cx) after = k;
                }
                if (over < line.symbolBoxes.size()) {
                    if (line.symbolTexts[over] == "■") continue;
                    replaceSymbol(line, over, "■");
                } else {
                    insertSymbol(line, after, "■", square);
                }
                changed = true;
            }
            if (changed) assemble(line);
        }
    }

    // Whether the line came out in the script the first model does not
    // read as its own, or uncertain with some of that script in it.
    bool foreign(const Line& line) const {
        int latin = 0, cjk = 0, all = 0;
        for (char32_t c : Unicode::scalars(line.assembled.text)) {
            if (c == ' ') continue;
            all += 1;
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) latin += 1;
            if (LineText::isCJK(c)) cjk += 1;
        }
        const int other = models_.firstIsJapanese ? latin : cjk;
        if (other * 2 > all) return true;
        return line.confidence < uncertain && (other > 0 || !models_.firstIsJapanese);
    }

    // The engine of the other language's model over the page, loaded on
    // first use.
    Reader& second() {
        if (!second_) second_ = std::make_unique<Reader>(page_, *models_.second);
        return *second_;
    }

    void readOtherLanguage(std::vector<Line>& ls) {
        for (Line& line : ls) {
            if (verticalColumn(line)) continue;
            if (!foreign(line) || surelyMixed(line)) continue;
            const int h = line.height();
            const PixelBox strip =
                clipped({line.box.left - h / 2, line.box.top - h / 4, line.box.right + h / 2, line.box.bottom + h / 4});
            std::vector<Line> again = second().area(strip, tesseract::PSM_SINGLE_LINE, line.block);
            if (again.size() != 1) continue;
            // The reading whose characters are surer is kept: in a line's
            // confidence a word a model cannot read at all weighs as much
            // as a long one it reads well.
            const bool surer = symbolConfidence(again.front()) > symbolConfidence(line);
            if (surer) line = std::move(again.front());
        }
    }

    // A line with a phrase of Japanese the Japanese model is sure of (three
    // kana or kanji in a row) is a mixed line, whose Latin runs are read
    // again on their own (see LatinRuns); read whole with the other model it
    // would lose them. Italic Latin the Japanese model garbles comes out as
    // a kanji or two among letters and digits, not as phrases.
    bool surelyMixed(const Line& line) const {
        if (!models_.firstIsJapanese) return false;
        int run = 0;
        for (std::size_t k = 0; k < line.symbolTexts.size() && k < line.symbolConfidences.size(); ++k) {
            if (LineText::isBlank(line.symbolTexts[k])) continue;
            const std::vector<char32_t> c = Unicode::scalars(line.symbolTexts[k]);
            const bool japanese = c.size() == 1 && LineText::isCJK(c[0]) && !LineText::isWidePunctuation(c[0]);
            run = japanese && line.symbolConfidences[k] >= sureJapanese ? run + 1 : 0;
            if (run >= sureRun) return true;
        }
        return false;
    }

    // The mean confidence of the line's characters.
    static float symbolConfidence(const Line& line) {
        double sum = 0;
        int n = 0;
        for (std::size_t k = 0; k < line.symbolTexts.size() && k < line.symbolConfidences.size(); ++k) {
            if (LineText::isBlank(line.symbolTexts[k])) continue;
            sum += line.symbolConfidences[k];
            n += 1;
        }
        return n > 0 ? static_cast<float>(sum / n) : line.confidence;
    }

    // A table set with tab stops and no rules reads as lines of cells with
    // wide gaps between them. Its cells stand in columns: across the stacked
    // lines a gutter runs down the page between two columns, where (nearly)
    // no line has ink. A gap of at least half a line's height within a line
    // that crosses such a gutter separates two cells, and is written as a
    // tab. The words of prose stand closer, and its lines leave no gutter
    // inside them.
    void markCells(std::vector<Line>& ls) const {
        // The lines stacked one below the other, each within about a line's
        // height of the next and sharing some of its width, whatever blocks
        // the layout made of them (it may make each row a block of its own);
        // and the lines of one block, however widely spaced: a table read
        // again as one block is one stack, though rows of digits stand
        // lower than a line's spacing apart.
        std::vector<std::size_t> lines;
        for (std::size_t i = 0; i < ls.size(); ++i) {
            if (ls[i].horizontal && ls[i].height() <= ls[i].box.width()) lines.push_back(i);
        }
        std::vector<std::size_t> parent(ls.size());
        std::iota(parent.begin(), parent.end(), std::size_t{0});
        const auto root = [&](std::size_t i) {
            while (parent[i] != i) i = parent[i] = parent[parent[i]];
            return i;
        };
        for (std::size_t a = 0; a < lines.size(); ++a) {
            for (std::size_t b = a + 1; b < lines.size(); ++b) {
                const PixelBox& p = ls[lines[a]].box;
                const PixelBox& q = ls[lines[b]].box;
                const int gap = std::max(q.top - p.bottom, p.top - q.bottom);
                const bool sharing = std::min(p.right, q.right) > std::max(p.left, q.left);
                const bool near = gap <= std::max(p.height(), q.height()) || ls[lines[a]].block == ls[lines[b]].block;
                if (sharing && near) parent[root(lines[b])] = root(lines[a]);
            }
        }
        std::map<std::size_t, std::vector<std::size_t>> stacks;
        for (std::size_t i : lines) stacks[root(i)].push_back(i);
        // A table's rows may stand further apart than a line's height, and
        // the layout may make a block of its own of the header row: a line
        // alone above or below a stack of rows, no further from it than its
        // rows stand from one another, is one of its rows.
        std::vector<std::pair<std::size_t, std::size_t>> taken;
        for (const auto& stacked : stacks) {
            const std::vector<std::size_t>& members = stacked.second;
            if (members.size() < leastRows) continue;
            std::vector<std::size_t> order = members;
            std::sort(order.begin(), order.end(),
                      [&](std::size_t a, std::size_t b) { return ls[a].box.top < ls[b].box.top; });
            std::vector<int> gaps;
            PixelBox region;
            for (std::size_t k = 0; k < order.size(); ++k) {
                region.unite(ls[order[k]].box);
                if (k > 0) gaps.push_back(std::max(0, ls[order[k]].box.top - ls[order[k - 1]].box.bottom));
            }
            const int reach = median(gaps) * 5 / 4 + 1;
            for (const auto& other : stacks) {
                if (other.second.size() != 1) continue;
                const PixelBox& b = ls[other.second.front()].box;
                const int gap = std::max(b.top - region.bottom, region.top - b.bottom);
                const bool sharing = std::min(b.right, region.right) > std::max(b.left, region.left);
                if (sharing && gap >= 0 && gap <= reach) taken.emplace_back(other.first, stacked.first);
            }
        }
        for (const auto& [line, stack] : taken) {
            auto found = stacks.find(line);
            if (found == stacks.end() || found->second.size() != 1) continue;
            stacks[stack].push_back(line);
            stacks.erase(found);
        }
        for (const auto& stacked : stacks) {
            // A reference of its own, not a structured binding: the lambdas
            // below capture it, which clang before 16 refuses.
            const std::vector<std::size_t>& members = stacked.second;
            if (members.size() < leastRows) continue;
            std::vector<int> heights;
            PixelBox region;
            for (std::size_t i : members) {
                heights.push_back(ls[i].height());
                region.unite(ls[i].box);
            }
            const int h = std::max(median(heights), 1);
            // How many lines have ink at each x of the block.
            std::vector<int> inked(static_cast<std::size_t>(region.width()), 0);
            for (std::size_t i : members) {
                std::vector<bool> row(inked.size(), false);
                for (const PixelBox& b : ls[i].symbolBoxes) {
                    if (b.empty()) continue;
                    for (int x = std::max(b.left, region.left); x < std::min(b.right, region.right); ++x) {
                        row[static_cast<std::size_t>(x - region.left)] = true;
                    }
                }
                for (std::size_t x = 0; x < row.size(); ++x) inked[x] += row[x] ? 1 : 0;
            }
            // A gutter has a column of cells on its right: the cell after the
            // gap begins where the ink of two lines or more stands, as the
            // cells of a column stand one below the other. A gap that only
            // one line's characters run on beyond, such as the space a small
            // kana leaves in the longest cell of a column, is no gutter.
            const auto gutter = [&](int from, int to) {
                int open = 0;
                for (int x = std::max(from, region.left); x < std::min(to, region.right); ++x) {
                    const int n = inked[static_cast<std::size_t>(x - region.left)];
                    if (n * gutterShare <= static_cast<int>(members.size())) open += 1;
                }
                int column = 0;
                for (int x = std::max(to, region.left); x < std::min(to + h, region.right); ++x) {
                    column = std::max(column, inked[static_cast<std::size_t>(x - region.left)]);
                }
                return open * 3 >= h && column >= 2;
            };
            for (std::size_t i : members) {
                Line& line = ls[i];
                bool changed = false;
                int previousRight = -1;
                std::size_t symbol = 0;
                for (LineText::Word& word : line.words) {
                    int first = -1, last = -1;
                    for (std::size_t k = 0; k < word.symbols.size(); ++k, ++symbol) {
                        const PixelBox& b = line.symbolBoxes[symbol];
                        if (b.empty() || LineText::isBlank(word.symbols[k])) continue;
                        if (first < 0) first = b.left;
                        last = std::max(last, b.right);
                    }
                    if (first < 0) continue;
                    if (previousRight >= 0 && (first - previousRight) * 2 >= h && gutter(previousRight, first)) {
                        word.startsCell = true;
                        changed = true;
                    }
                    previousRight = last;
                }
                if (changed) {
                    withoutLoneMarks(line);
                    assemble(line);
                }
            }
        }
    }

    // Read as one block, the wide gap between two cells sometimes comes out
    // as a full stop or a comma of its own. A cell that holds nothing but
    // such a mark is no cell of a table, and is left out.
    static void withoutLoneMarks(Line& line) {
        static const std::vector<std::string> marks{"。", "、", ".", ",", "・"};
        const auto content = [](const LineText::Word& w) {
            return std::any_of(w.symbols.begin(), w.symbols.end(),
                               [](const std::string& t) { return !LineText::isBlank(t); });
        };
        std::vector<std::size_t> firstSymbol;
        std::size_t count = 0;
        for (const LineText::Word& w : line.words) {
            firstSymbol.push_back(count);
            count += w.symbols.size();
        }
        for (std::size_t i = 0; i < line.words.size(); ++i) {
            LineText::Word& word = line.words[i];
            if (!word.startsCell || !content(word)) continue;
            std::size_t next = i + 1;
            while (next < line.words.size() && !content(line.words[next])) ++next;
            if (next < line.words.size() && !line.words[next].startsCell) continue;
            const bool lone = std::all_of(word.symbols.begin(), word.symbols.end(), [&](const std::string& t) {
                return LineText::isBlank(t) || std::find(marks.begin(), marks.end(), t) != marks.end();
            });
            if (!lone) continue;
            for (std::size_t k = 0; k < word.symbols.size(); ++k) {
                word.symbols[k].clear();
                if (firstSymbol[i] + k < line.symbolTexts.size()) line.symbolTexts[firstSymbol[i] + k].clear();
            }
        }
    }

    // The share of its box, in percent, that a black square's ink fills
    // (97 to 100 on scanned and 150-dpi pages); dense kanji set small, their
    // strokes run together, fill up to about 90.
    static constexpr long solidSquare = 94;
    static constexpr float tableConfidenceGiven = 0.1f;
    static constexpr std::size_t leastRows = 3;
    // A gutter may be crossed by this share of the lines (a cell running on
    // into the next column's space).
    static constexpr int gutterShare = 8;
    static constexpr float uncertain = 0.75f;
    // The Japanese model reads real kana and kanji this surely or more; its
    // kana read from Latin strokes it is less sure of.
    static constexpr float sureJapanese = 0.9f;
    static constexpr int sureRun = 3;
    // Below this a reading of ink the layout did not read is taken for
    // noise.
    static constexpr float legible = 0.6f;
    static constexpr int mostUnreadRows = 48;
    // Pixels by which the left edges of the page's lines of text may differ.
    static constexpr int marginTolerance = 8;
    // A line read this unsurely, to under a quarter of the characters its
    // box would hold, is no reading of its ink.
    static constexpr float hollowConfidence = 0.2f;
    // A page read as nearly empty takes a reading only this sure; a short
    // line alone in a small image is often read with little confidence.
    static constexpr float faint = 0.3f;

    const GreyPage& page_;
    const Models& models_;
    Reader first_;
    std::unique_ptr<Reader> second_;
    std::vector<uint8_t> mask_;
    std::vector<GreyPage::InkPiece> pieces_;
};

struct Normaliser {
    double width;
    double height;

    OCRSourceBox box(const PixelBox& b) const {
        return {b.left / width, 1 - b.bottom / height, (b.right - b.left) / width, (b.bottom - b.top) / height};
    }
    RecognizedTextObservation::Point point(double x, double y) const { return {x / width, 1 - y / height}; }
};

RecognizedTextObservation observation(const Line& line, const Normaliser& n) {
    RecognizedTextObservation o;
    o.text = line.assembled.text;
    o.confidence = line.confidence;
    const PixelBox box = line.box;
    o.boundingBox = n.box(box);

    double x1 = box.left, y1 = box.bottom, x2 = box.right, y2 = box.bottom;
    if (line.hasBaseline && line.baseline[2] != line.baseline[0]) {
        x1 = line.baseline[0];
        y1 = line.baseline[1];
        x2 = line.baseline[2];
        y2 = line.baseline[3];
    }
    o.baselineStart = n.point(x1, y1);
    o.baselineEnd = n.point(x2, y2);
    // The top edge has the baseline's slope and touches the box's top.
    const double slope = (o.baselineEnd.y - o.baselineStart.y) / (o.baselineEnd.x - o.baselineStart.x);
    const double left = o.boundingBox.x;
    const double right = o.boundingBox.x + o.boundingBox.width;
    const double top = o.boundingBox.y + o.boundingBox.height;
    const double rise = slope * (right - left);
    o.topLeft = {left, rise > 0 ? top - rise : top};
    o.topRight = {right, rise > 0 ? top : top + rise};

    for (std::size_t i = 0; i < line.assembled.symbolRanges.size(); ++i) {
        const TextRange range = line.assembled.symbolRanges[i];
        if (range.length == 0) continue;
        RecognizedCharacter c;
        c.range = range;
        c.text = line.symbolTexts[i];
        c.box = n.box(line.symbolBoxes[i]);
        c.confidence = line.symbolConfidences[i];
        o.characters.push_back(std::move(c));
    }
    return o;
}

}  // namespace

std::vector<RecognizedTextObservation> read(const GreyPage& page, const Models& models, OCREngine::Reading reading) {
    Pass pass(page, models);
    const std::vector<Line> ls = pass.run(reading);
    const Normaliser n{double(page.width), double(page.height)};
    std::vector<RecognizedTextObservation> out;
    out.reserve(ls.size());
    for (const Line& line : ls) {
        if (models.horizontalLinesOnly && !line.horizontal) continue;
        out.push_back(observation(line, n));
    }
    return out;
}

}  // namespace velmora::StandardPass
