#include "recognition/standard/Tables.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <string>

namespace velmora::StandardPass {

namespace {

constexpr float tableConfidenceGiven = 0.1f;
constexpr std::size_t leastRows = 3;
// A gutter may be crossed by this share of the lines (a cell running on
// into the next column's space).
constexpr int gutterShare = 8;

// A column of prose: most of its lines hold many characters, or most
// of its lines run to its right edge. Columns of prose stand side by side
// with their lines on shared baselines as often as the columns of a
// table do, and are read column by column.
bool proseLike(const std::vector<const Line*>& block, const PixelBox& box) {
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
bool standsUpright(const Line& line, const Line& beside) {
    return line.height() > 2 * line.box.width() && line.height() > 2 * beside.height();
}

bool sameRow(const Line& a, const Line& b) {
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
bool widelySpaced(const Line& line, int h) {
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
bool cellOfRow(const Line& a, const Line& b) {
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

// The lines given joined into one, in their order: a tab before each
// line that starts a cell, a cell's own lines run on without one.
Line joinedInOrder(std::vector<Line>& row, const std::vector<bool>& startsCell, int block) {
    Line joined = std::move(row.front());
    joined.block = block;
    double weighted = static_cast<double>(joined.confidence) * joined.characters;
    for (std::size_t k = 1; k < row.size(); ++k) {
        Line& next = row[k];
        weighted += static_cast<double>(next.confidence) * next.characters;
        if (!next.words.empty() && startsCell[k]) next.words.front().startsCell = true;
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
    return joined;
}

// The lines of a table's cells as its rows: the cells standing on one
// row joined left to right into one line, a tab before each cell after
// the first, rows top to bottom. Read as one block, a table sometimes
// comes out less surely than its cells did one by one; their own
// readings are then kept, in the table's order.
std::vector<Line> byRows(std::vector<Line> cells, int block) {
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
        std::vector<bool> starts(row.size(), false);
        for (std::size_t k = 1; k < row.size(); ++k) {
            // The layout may cut one cell in two; only a gap as wide as
            // the gaps between cells starts a new one.
            const int h = std::max(row[k - 1].height(), row[k].height());
            starts[k] = (row[k].box.left - row[k - 1].box.right) * 2 >= h;
        }
        out.push_back(joinedInOrder(row, starts, block));
    }
    return out;
}

// The cells put in rows lack those the layout dropped (a mark, a day of
// one character). Each row is read again as one line across the table,
// between the rows above and below it; the reading is kept when it
// holds at least the cells' characters and is nearly as sure.
std::vector<Line> readRows(std::vector<Line> rows, const PixelBox& region, int h, Reader& reader, const PageInk& ink) {
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
        const PixelBox band = ink.clipped({region.left - h, top, region.right + h, bottom});
        if (band.empty()) continue;
        std::vector<Line> again = reader.area(band, tesseract::PSM_SINGLE_LINE, row.block);
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
void growTables(const std::vector<Line>& ls, std::vector<int>& member, std::vector<PixelBox>& regions) {
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
void takeLoneCells(const std::vector<Line>& ls, std::vector<int>& member) {
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

// Read as one block, the wide gap between two cells sometimes comes out
// as a full stop or a comma of its own. A cell that holds nothing but
// such a mark is no cell of a table, and is left out.
void withoutLoneMarks(Line& line) {
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

}  // namespace

std::vector<Line> readTables(std::vector<Line> ls, Reader& reader, const PageInk& ink, bool horizontalLinesOnly) {
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
        if (horizontalLinesOnly &&
            std::none_of(before.begin(), before.end(), [](const Line& l) { return l.horizontal; })) {
            for (Line& l : before) out.push_back(std::move(l));
            continue;
        }
        const PixelBox padded =
            ink.clipped({region.left - h, region.top - h / 2, region.right + h, region.bottom + h / 2});
        std::vector<Line> rows = reader.area(padded, tesseract::PSM_SINGLE_BLOCK, ls[i].block);
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
            before = readRows(byRows(std::move(before), ls[i].block), region, h, reader, ink);
        }
        for (Line& l : holds ? rows : before) out.push_back(std::move(l));
    }
    return out;
}

void markCells(std::vector<Line>& ls) {
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


namespace {

// The columns of a region: the stretches of its width with ink, between
// blanks running down the whole region at least `gutter` wide.
std::vector<std::pair<int, int>> inkColumns(const PixelBox& region, int gutter, const PageInk& ink) {
    std::vector<std::pair<int, int>> columns;
    int start = -1, blank = 0;
    for (int x = region.left; x <= region.right; ++x) {
        bool any = false;
        for (int y = region.top; x < region.right && y < region.bottom && !any; ++y) {
            any = ink.at(x, y);
        }
        if (any) {
            if (start < 0) start = x;
            blank = 0;
            continue;
        }
        blank += 1;
        if (start >= 0 && (blank == gutter || x == region.right)) {
            columns.emplace_back(start, x - blank + 1);
            start = -1;
        }
    }
    return columns;
}

}  // namespace

void readWrappedCells(std::vector<Line>& ls, Reader& reader, const PageInk& ink) {
    std::vector<int> heights;
    for (const Line& l : ls) heights.push_back(l.textHeight());
    if (heights.empty()) return;
    const int pageHeight = std::max(1, median(heights));
    // The layout may run a table's last rows and the text below it into
    // one block, or not, as a pixel's shift decides: a block is taken here
    // as the runs of its lines that stand less than one and a half lines
    // apart, each line numbered by its run until the end, where it gets
    // its block back.
    std::vector<int> blockOf;
    {
        std::map<int, std::vector<std::size_t>> members;
        for (std::size_t i = 0; i < ls.size(); ++i) members[ls[i].block].push_back(i);
        for (auto& [block, lines] : members) {
            std::stable_sort(lines.begin(), lines.end(),
                             [&](std::size_t a, std::size_t b) { return ls[a].box.top < ls[b].box.top; });
            int bottom = std::numeric_limits<int>::min();
            for (std::size_t i : lines) {
                if (blockOf.empty() || blockOf.back() != block || (ls[i].box.top - bottom) * 2 >= pageHeight * 3) {
                    blockOf.push_back(block);
                }
                bottom = std::max(bottom, ls[i].box.bottom);
                ls[i].block = static_cast<int>(blockOf.size()) - 1;
            }
        }
    }
    const int blockCount = static_cast<int>(blockOf.size());
    std::vector<PixelBox> boxes(static_cast<std::size_t>(blockCount));
    for (const Line& l : ls) boxes[static_cast<std::size_t>(l.block)].unite(l.box);
    // The layout makes one block of such a table, rows joined across its
    // columns, one block of each column, or one of each cell or run of
    // cells: blocks side by side on shared rows, and blocks one below the
    // other (or reaching into each other) less than one and a half lines
    // apart, are taken together.
    std::vector<int> group(static_cast<std::size_t>(blockCount));
    std::iota(group.begin(), group.end(), 0);
    const auto root = [&](int b) {
        while (group[static_cast<std::size_t>(b)] != b) b = group[static_cast<std::size_t>(b)];
        return b;
    };
    for (int a = 0; a < blockCount; ++a) {
        for (int b = a + 1; b < blockCount; ++b) {
            const PixelBox &p = boxes[static_cast<std::size_t>(a)], &q = boxes[static_cast<std::size_t>(b)];
            if (p.empty() || q.empty()) continue;
            const bool apart = p.right <= q.left || q.right <= p.left;
            const int shared = std::min(p.bottom, q.bottom) - std::max(p.top, q.top);
            const bool sideBySide = apart && shared * 3 >= std::min(p.height(), q.height()) * 2;
            const bool stacked = !apart && -shared * 2 < pageHeight * 3;
            if (!sideBySide && !stacked) continue;
            const int x = root(a), y = root(b);
            group[static_cast<std::size_t>(std::max(x, y))] = std::min(x, y);
        }
    }
    for (int b = 0; b < blockCount; ++b) group[static_cast<std::size_t>(b)] = root(b);
    for (int g = 0; g < blockCount; ++g) {
        if (group[static_cast<std::size_t>(g)] != g) continue;
        PixelBox region;
        heights.clear();
        for (const Line& l : ls) {
            if (group[static_cast<std::size_t>(l.block)] != g) continue;
            region.unite(l.box);
            heights.push_back(l.textHeight());
        }
        if (heights.size() < leastRows) continue;
        const int h = std::max(1, median(heights));
        // Full-width characters set on a grid leave blanks down a column
        // between them, and so do the letters of a typewriter face; the
        // blank between two cells is wider. A piece narrower than a
        // character is part of its neighbour across the narrower blank.
        auto columns = inkColumns(ink.clipped(region), std::max(2, h * 2 / 5), ink);
        for (bool merged = true; merged && columns.size() > 1;) {
            merged = false;
            for (std::size_t c = 0; c < columns.size(); ++c) {
                if (columns[c].second - columns[c].first >= h) continue;
                const int none = std::numeric_limits<int>::max();
                const int before = c > 0 ? columns[c].first - columns[c - 1].second : none;
                const int after = c + 1 < columns.size() ? columns[c + 1].first - columns[c].second : none;
                const std::size_t into = before <= after ? c - 1 : c + 1;
                columns[into] = {std::min(columns[into].first, columns[c].first),
                                 std::max(columns[into].second, columns[c].second)};
                columns.erase(columns.begin() + static_cast<std::ptrdiff_t>(c));
                merged = true;
                break;
            }
        }
        if (columns.size() < 2 || columns.size() > 8) continue;
        // Each column read on its own: read across the columns, the
        // layout mixes the lines of neighbouring cells.
        std::vector<std::vector<Line>> read;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const int left = c == 0 ? region.left - h / 2 : (columns[c - 1].second + columns[c].first) / 2;
            const int right =
                c + 1 == columns.size() ? region.right + h / 2 : (columns[c].second + columns[c + 1].first) / 2;
            const PixelBox area = ink.clipped({left, region.top, right, region.bottom});
            std::vector<Line> lines;
            if (!area.empty()) lines = reader.area(area, tesseract::PSM_SINGLE_BLOCK, g);
            std::erase_if(lines, [](const Line& l) { return l.characters == 0; });
            // Read alone, a column sometimes loses a short cell the layout
            // had found: a line of the column that nothing read again
            // covers is kept as the layout read it.
            for (const Line& l : ls) {
                const bool inside = l.box.left >= left && l.box.right <= right;
                if (group[static_cast<std::size_t>(l.block)] != g || !inside) continue;
                const bool covered = std::any_of(lines.begin(), lines.end(), [&](const Line& o) {
                    return std::min(o.box.bottom, l.box.bottom) > std::max(o.box.top, l.box.top);
                });
                if (!covered && l.characters > 0) lines.push_back(l);
            }
            std::stable_sort(lines.begin(), lines.end(),
                             [](const Line& a, const Line& b) { return a.box.top < b.box.top; });
            read.push_back(std::move(lines));
        }
        // The rows: those of the column of most lines among those whose
        // cells are each one short line, one and a half lines' height or
        // more apart (the lines of prose, and the numbers of a listing's
        // lines, stand closer).
        const auto spaced = [&](const std::vector<Line>& lines) {
            if (lines.size() < leastRows) return false;
            for (std::size_t k = 0; k < lines.size(); ++k) {
                if (lines[k].box.width() >= 8 * h) return false;
                if (k > 0 && (lines[k].box.top - lines[k - 1].box.bottom) * 2 < h * 3) return false;
            }
            return true;
        };
        std::size_t anchor = read.size();
        for (std::size_t c = 0; c < read.size(); ++c) {
            if (spaced(read[c]) && (anchor == read.size() || read[c].size() > read[anchor].size())) anchor = c;
        }
        if (anchor == read.size()) continue;
        const std::vector<Line> rows = read[anchor];
        const auto middle = [](const Line& l) { return (l.box.top + l.box.bottom) / 2; };
        // A table's cells stand within its rows: a line further above the
        // first row or below the last than half the step to the next row
        // is the text the short lines stand beside (notes in a margin
        // beside a paragraph and its listing).
        const int above = middle(rows.front()) - (middle(rows[1]) - middle(rows.front())) / 2;
        const int below = middle(rows.back()) + (middle(rows.back()) - middle(rows[rows.size() - 2])) / 2;
        const bool within = std::all_of(read.begin(), read.end(), [&](const std::vector<Line>& lines) {
            return std::all_of(lines.begin(), lines.end(),
                               [&](const Line& l) { return middle(l) >= above && middle(l) <= below; });
        });
        if (!within) continue;
        // Each column's lines cut into cells where they stand further
        // apart than the leading, and each cell put on the row nearest its
        // middle.
        bool wrapped = false;
        std::vector<std::vector<std::vector<Line>>> cellsOf(rows.size(),
                                                            std::vector<std::vector<Line>>(read.size()));
        for (std::size_t c = 0; c < read.size(); ++c) {
            const std::vector<Line>& lines = read[c];
            if (lines.empty()) continue;
            std::size_t start = 0;
            for (std::size_t i = 1; i <= lines.size(); ++i) {
                // A cell's padding adds to the leading.
                if (i < lines.size() && (lines[i].box.top - lines[i - 1].box.bottom) * 5 < h * 3) continue;
                const int centre = (lines[start].box.top + lines[i - 1].box.bottom) / 2;
                std::size_t nearest = 0;
                for (std::size_t k = 1; k < rows.size(); ++k) {
                    if (std::abs(middle(rows[k]) - centre) < std::abs(middle(rows[nearest]) - centre)) nearest = k;
                }
                wrapped = wrapped || i - start > 1;
                std::vector<Line>& cell = cellsOf[nearest][c];
                for (std::size_t j = start; j < i; ++j) cell.push_back(lines[j]);
                start = i;
            }
        }
        if (!wrapped) continue;
        std::vector<Line> joined;
        for (std::vector<std::vector<Line>>& row : cellsOf) {
            std::vector<Line> ordered;
            std::vector<bool> starts;
            for (std::vector<Line>& cell : row) {
                for (std::size_t j = 0; j < cell.size(); ++j) {
                    starts.push_back(j == 0 && !ordered.empty());
                    ordered.push_back(std::move(cell[j]));
                }
            }
            if (!ordered.empty()) joined.push_back(joinedInOrder(ordered, starts, g));
        }
        const auto first = std::find_if(ls.begin(), ls.end(), [&](const Line& l) {
            return group[static_cast<std::size_t>(l.block)] == g;
        });
        const auto at = first - ls.begin();
        std::erase_if(ls, [&](const Line& l) { return group[static_cast<std::size_t>(l.block)] == g; });
        ls.insert(ls.begin() + at, std::make_move_iterator(joined.begin()), std::make_move_iterator(joined.end()));
    }
    for (Line& l : ls) l.block = blockOf[static_cast<std::size_t>(l.block)];
}

}  // namespace velmora::StandardPass
