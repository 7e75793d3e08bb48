#include "recognition/standard/ReadingOrder.hpp"

#include <algorithm>
#include <limits>
#include <map>
#include <numeric>
#include <optional>

namespace velmora::StandardPass {

namespace {

// Lines of text on either side of a gutter before it counts as one
// between two columns.
constexpr std::size_t leastColumnLines = 3;
// A line fills its column when it is at least this share of the column's
// width, in percent (the last line of a paragraph, a heading, need not).
constexpr int fullLine = 60;
// The narrower column is at least this share of the wider one's width, in
// percent: the columns of a paper share one measure, whereas a sidebar,
// the terms of a list or the labels of a form are far narrower than the
// text beside them.
constexpr int columnLikeness = 60;
// Blank paper across both columns this many lines of text high ends them.
constexpr int columnsEnd = 3;
// Blank paper across the whole page this many lines of text high parts two
// bands of the page (paragraphs stand closer).
constexpr int bandGap = 2;
// The least width, in lines of text high, of the blank between two boxes
// side by side (the gap between cells of a table may be as wide).
constexpr int boxGutter = 2;
// Lines across the page above two boxes that may stand as near them as
// their lines stand to one another (a title, a heading).
constexpr std::size_t acrossAbove = 2;
// A line of prose is at least this many times as long as its characters
// are high; a table's cells are shorter.
constexpr int proseLine = 12;
// The least difference in grey between a box's edge and the paper beside
// it.
constexpr int edgeContrast = 16;
// The least difference in grey between two stretches of one grey each side
// by side: a white card on paper a little darker than white differs from
// it by less than an edge from paper, and a flat fill keeps its grey far
// closer than that.
constexpr int greyStep = 8;
// The share of an abscissa's pixels down a stack, in percent, within that
// difference of their middle grey for the abscissa to be of one grey.
constexpr int oneGrey = 97;

int medianTextHeight(const std::vector<Line>& ls) {
    std::vector<int> heights;
    for (const Line& l : ls) heights.push_back(l.textHeight());
    return heights.empty() ? 0 : median(heights);
}

// Where the line's baseline runs at the abscissa: on a page scanned askew
// the two pieces of one line stand at different heights, and meet only
// where one ends and the other begins.
double baselineAt(const Line& l, int x) {
    if (!l.hasBaseline || l.baseline[2] == l.baseline[0]) return l.box.bottom;
    const double t = (x - l.baseline[0]) / static_cast<double>(l.baseline[2] - l.baseline[0]);
    return l.baseline[1] + t * (l.baseline[3] - l.baseline[1]);
}

// Two lines on one row, the second beginning where the first ends.
bool continues(const Line& first, const Line& second) {
    if (!first.horizontal || !second.horizontal || first.block == second.block) return false;
    const int a = first.textHeight(), b = second.textHeight();
    const int h = std::max(a, b);
    if (h <= 0 || std::min(a, b) * 3 < h * 2) return false;
    const int gap = second.box.left - first.box.right;
    const int meet = (first.box.right + second.box.left) / 2;
    if (std::abs(baselineAt(first, meet) - baselineAt(second, meet)) * 3 > h) return false;
    return gap <= h && gap * 2 >= -h;
}

// The line nearest above the line, over some of its width; the number of
// lines for none.
std::size_t lineAbove(const std::vector<Line>& ls, const Line& line) {
    const int h = line.textHeight();
    std::size_t best = ls.size();
    for (std::size_t k = 0; k < ls.size(); ++k) {
        const PixelBox& b = ls[k].box;
        if (std::min(b.right, line.box.right) <= std::max(b.left, line.box.left)) continue;
        // By the middles: a line joined from pieces askew is as tall as
        // their rise across the page.
        const int middle = b.top + b.bottom;
        if (middle + h > line.box.top + line.box.bottom) continue;
        if (best == ls.size() || middle >= ls[best].box.top + ls[best].box.bottom) best = k;
    }
    return best;
}

// The lines of one run between two lines across the gutter, split by it.
struct Run {
    std::vector<std::size_t> left, right;
};

PixelBox extent(const std::vector<Line>& ls, const std::vector<std::size_t>& which) {
    PixelBox b;
    for (std::size_t i : which) b.unite(ls[i].box);
    return b;
}

std::size_t fullLines(const std::vector<Line>& ls, const std::vector<std::size_t>& which, int width) {
    return static_cast<std::size_t>(std::count_if(which.begin(), which.end(), [&](std::size_t i) {
        return ls[i].box.width() * 100 >= width * fullLine;
    }));
}

// Two columns of text side by side: enough lines filling each, of like
// widths, standing beside each other rather than one above the other.
bool twoColumns(const std::vector<Line>& ls, const Run& run) {
    const PixelBox l = extent(ls, run.left), r = extent(ls, run.right);
    if (l.empty() || r.empty()) return false;
    if (std::min(l.width(), r.width()) * 100 < std::max(l.width(), r.width()) * columnLikeness) return false;
    if (fullLines(ls, run.left, l.width()) < leastColumnLines) return false;
    if (fullLines(ls, run.right, r.width()) < leastColumnLines) return false;
    const int shared = std::min(l.bottom, r.bottom) - std::max(l.top, r.top);
    return shared * 2 >= std::min(l.height(), r.height());
}

// One column's lines top to bottom: block by block as the layout found
// them, the blocks by where they begin, each block's lines in its order.
void orderColumn(const std::vector<Line>& ls, std::vector<std::size_t>& column) {
    std::map<int, int> blockTop;
    for (std::size_t i : column) {
        const auto [at, added] = blockTop.emplace(ls[i].block, ls[i].box.top);
        if (!added) at->second = std::min(at->second, ls[i].box.top);
    }
    std::stable_sort(column.begin(), column.end(), [&](std::size_t a, std::size_t b) {
        const int ta = blockTop[ls[a].block], tb = blockTop[ls[b].block];
        if (ta != tb) return ta < tb;
        return a < b;
    });
}

// A line a few characters long, at the page's size of text or its own.
bool isShort(const Line& l, int shortest) { return l.box.width() < std::max(shortest, 3 * l.textHeight()); }

// Where the gutter runs: the abscissa crossed by the fewest lines with at
// least a few lines wholly on either side; the middle of the widest stretch
// of such abscissae. -1 for none.
int gutter(const std::vector<Line>& ls, int shortest) {
    int from = std::numeric_limits<int>::max(), to = 0;
    for (const Line& l : ls) {
        from = std::min(from, l.box.left);
        to = std::max(to, l.box.right);
    }
    std::size_t fewest = ls.size() + 1;
    int bestStart = -1, bestWidth = 0, start = -1;
    for (int x = from; x <= to; ++x) {
        std::size_t across = 0, left = 0, right = 0;
        for (const Line& l : ls) {
            if (isShort(l, shortest)) continue;
            if (l.box.right <= x) {
                left += 1;
            } else if (l.box.left >= x) {
                right += 1;
            } else {
                across += 1;
            }
        }
        const bool candidate = left >= leastColumnLines && right >= leastColumnLines;
        if (!candidate || across > fewest) {
            start = -1;
            continue;
        }
        if (across < fewest) {
            fewest = across;
            bestStart = -1;
            bestWidth = 0;
            start = -1;
        }
        if (start < 0) start = x;
        if (x - start + 1 > bestWidth) {
            bestWidth = x - start + 1;
            bestStart = start;
        }
    }
    return bestStart < 0 ? -1 : bestStart + bestWidth / 2;
}

// The line's symbols left of the abscissa and those right of it, as two
// lines of the line's block; a symbol goes by its middle.
std::pair<Line, Line> cutAt(const Line& line, int x) {
    Line left, right;
    for (Line* part : {&left, &right}) {
        part->block = line.block;
        part->horizontal = line.horizontal;
        part->confidence = line.confidence;
        part->hasBaseline = line.hasBaseline;
        std::copy(std::begin(line.baseline), std::end(line.baseline), std::begin(part->baseline));
    }
    std::size_t k = 0;
    for (const LineText::Word& w : line.words) {
        LineText::Word pieces[2];
        pieces[0].blanksBefore = w.blanksBefore;
        for (const std::string& symbol : w.symbols) {
            const PixelBox b = k < line.symbolBoxes.size() ? line.symbolBoxes[k] : PixelBox{};
            const bool onRight = !b.empty() ? (b.left + b.right) / 2 >= x : !right.symbolTexts.empty();
            Line& part = onRight ? right : left;
            pieces[onRight ? 1 : 0].symbols.push_back(symbol);
            part.symbolTexts.push_back(symbol);
            part.symbolBoxes.push_back(b);
            part.symbolConfidences.push_back(k < line.symbolConfidences.size() ? line.symbolConfidences[k] : 0.0f);
            if (!LineText::isBlank(symbol)) part.box.unite(b);
            ++k;
        }
        if (!pieces[0].symbols.empty()) left.words.push_back(std::move(pieces[0]));
        if (!pieces[1].symbols.empty()) {
            pieces[1].blanksBefore = right.words.empty() ? 0 : std::max(w.blanksBefore, 1);
            right.words.push_back(std::move(pieces[1]));
        }
    }
    if (!right.words.empty()) right.words.front().startsCell = false;
    for (Line* part : {&left, &right}) {
        part->box.top = line.box.top;
        part->box.bottom = line.box.bottom;
        assemble(*part);
    }
    return {std::move(left), std::move(right)};
}

// Whether the piece of ink frames the box: its box holds the box's (which
// the layout may stretch to the frame's sides).
bool frames(const GreyPage::InkPiece& p, const PixelBox& b) {
    return p.x <= b.left && p.y <= b.top && p.x + p.width >= b.right && p.y + p.height >= b.bottom;
}

// Two boxes side by side rather than the columns of a table (each side's
// lines top to bottom): each stands in a frame of its own, or, with no ink
// at all between them (`clear`: no rule of a table parting its rows), one
// runs on past the other by two lines or more while the other's lines all
// stand on its first (or last) rows, as an addressee's block of two lines
// beside an issuer's of five. The columns of a table keep pace with one
// another row by row to its end.
bool apart(const std::vector<Line>& ls, const std::vector<std::size_t>& left, const std::vector<std::size_t>& right,
           bool clear, const PageInk& ink) {
    PixelBox l, r;
    for (std::size_t i : left) l.unite(ls[i].box);
    for (std::size_t i : right) r.unite(ls[i].box);
    const auto framedAlone = [&](const PixelBox& own, const PixelBox& other) {
        return std::any_of(ink.pieces.begin(), ink.pieces.end(), [&](const GreyPage::InkPiece& p) {
            return frames(p, own) && !(p.x < other.right && p.x + p.width > other.left);
        });
    };
    if (framedAlone(l, r) && framedAlone(r, l)) return true;
    if (!clear) return false;
    const std::vector<std::size_t>& shorter = left.size() <= right.size() ? left : right;
    const std::vector<std::size_t>& longer = left.size() <= right.size() ? right : left;
    if (longer.size() < shorter.size() + 2) return false;
    // Where each line of the shorter side stands among the longer's rows.
    // Where each line of the shorter side stands among the longer's rows;
    // sides whose lines mostly stand on no common row are no table.
    std::vector<std::size_t> rows;
    for (std::size_t i : shorter) {
        const PixelBox& a = ls[i].box;
        for (std::size_t k = 0; k < longer.size(); ++k) {
            const PixelBox& b = ls[longer[k]].box;
            const int shared = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
            if (shared * 2 >= std::min(a.height(), b.height())) {
                rows.push_back(k);
                break;
            }
        }
    }
    if (rows.size() * 2 < shorter.size()) return true;
    if (rows.size() < shorter.size()) return false;
    for (std::size_t k = 1; k < rows.size(); ++k) {
        if (rows[k] != rows[k - 1] + 1) return false;
    }
    return rows.front() == 0 || rows.back() + 1 == longer.size();
}

// Whether, between the abscissae and down the rows, two boxes' edges run,
// one on either side of a blank: a frame drawn too light to count as ink,
// or the ground a card is filled with, makes each abscissa of the edge one
// grey down the whole height, and so does the paper between the boxes, in
// a grey of its own, lighter than both edges or darker than both. The
// greys are taken against one another, not against the gutter's commonest
// grey (which, between cards filled nearly up to it, is a card's fill or
// the paper by a few pixels of the letters' edges that bound the gutter),
// and a few pixels off their grey (a JPEG's ringing) leave an abscissa one
// grey. The blank is wider than a rule, so that a light rule between a
// table's columns parts nothing. Without the page's greys, none.
bool edgedApart(const PageInk& ink, int from, int to, int top, int bottom, int h) {
    if (!ink.grey || to - from < 3 || bottom <= top) return false;
    const auto greyAt = [&](int x, int y) { return (*ink.grey)[static_cast<std::size_t>(y) * ink.width + x]; };
    const int rows = bottom - top;
    // Each abscissa's grey, or -1 where it is no one grey down the rows.
    std::vector<int> level(static_cast<std::size_t>(to - from), -1);
    std::vector<uint8_t> column(static_cast<std::size_t>(rows));
    for (int x = from; x < to; ++x) {
        for (int y = top; y < bottom; ++y) column[static_cast<std::size_t>(y - top)] = greyAt(x, y);
        std::vector<uint8_t> sorted = column;
        std::nth_element(sorted.begin(), sorted.begin() + rows / 2, sorted.end());
        const int middle = sorted[static_cast<std::size_t>(rows / 2)];
        const auto near = std::count_if(column.begin(), column.end(),
                                        [&](uint8_t v) { return std::abs(v - middle) < edgeContrast; });
        if (near * 100 >= static_cast<long>(rows) * oneGrey) level[static_cast<std::size_t>(x - from)] = middle;
    }
    // Stretches of abscissae of one grey: (first, end, grey); -1 for a
    // stretch of no one grey.
    struct Stretch {
        int first, end, grey;
    };
    std::vector<Stretch> stretches;
    for (int k = 0; k < to - from; ++k) {
        const int v = level[static_cast<std::size_t>(k)];
        const bool same = !stretches.empty() && (v < 0 ? stretches.back().grey < 0
                                                       : stretches.back().grey >= 0 &&
                                                             std::abs(v - stretches.back().grey) < greyStep);
        if (same) {
            stretches.back().end = k + 1;
        } else {
            stretches.push_back({k, k + 1, v});
        }
    }
    const int blankWidth = std::max(3, h / 3);
    for (std::size_t i = 1; i + 1 < stretches.size(); ++i) {
        const Stretch &before = stretches[i - 1], &blank = stretches[i], &after = stretches[i + 1];
        if (blank.grey < 0 || blank.end - blank.first < blankWidth || before.grey < 0 || after.grey < 0) continue;
        // Both edges darker than the blank, or both lighter: paper that
        // shades from one side to the other (a scan's uneven light) steps
        // darker on one side and lighter on the other.
        if ((before.grey > blank.grey) == (after.grey > blank.grey)) return true;
    }
    return false;
}

// The widest blank between two characters of the line.
int widestGap(const Line& line) {
    std::vector<PixelBox> boxes;
    for (std::size_t k = 0; k < line.symbolBoxes.size() && k < line.symbolTexts.size(); ++k) {
        if (!line.symbolBoxes[k].empty() && !LineText::isBlank(line.symbolTexts[k])) boxes.push_back(line.symbolBoxes[k]);
    }
    std::sort(boxes.begin(), boxes.end(), [](const PixelBox& a, const PixelBox& b) { return a.left < b.left; });
    int widest = 0;
    for (std::size_t k = 1; k < boxes.size(); ++k) widest = std::max(widest, boxes[k].left - boxes[k - 1].right);
    return widest;
}

// The stack's extent, its lines' height and the widest stretch across it
// free of their characters, wider than a gap between words: where two
// boxes side by side part.
struct Blank {
    PixelBox region;
    int h = 1;
    int from = 0;  // from the region's left
    int width = 0;
};

Blank widestBlank(const std::vector<Line>& ls, const std::vector<std::size_t>& members) {
    Blank blank;
    std::vector<int> heights;
    for (std::size_t i : members) {
        blank.region.unite(ls[i].box);
        heights.push_back(ls[i].textHeight());
    }
    blank.h = std::max(median(heights), 1);
    const PixelBox& region = blank.region;
    std::vector<bool> inked(static_cast<std::size_t>(region.width()), false);
    for (std::size_t i : members) {
        const Line& l = ls[i];
        for (std::size_t k = 0; k < l.symbolBoxes.size() && k < l.symbolTexts.size(); ++k) {
            const PixelBox& b = l.symbolBoxes[k];
            if (b.empty() || LineText::isBlank(l.symbolTexts[k])) continue;
            for (int x = std::max(b.left, region.left); x < std::min(b.right, region.right); ++x) {
                inked[static_cast<std::size_t>(x - region.left)] = true;
            }
        }
    }
    for (int x = 0; x < region.width();) {
        if (inked[static_cast<std::size_t>(x)]) {
            ++x;
            continue;
        }
        int end = x;
        while (end < region.width() && !inked[static_cast<std::size_t>(end)]) ++end;
        if (end - x > blank.width) blank.from = x, blank.width = end - x;
        x = end;
    }
    return blank;
}

}  // namespace

void joinSplitRows(std::vector<Line>& ls) {
    for (bool changed = true; changed;) {
        changed = false;
        for (std::size_t i = 0; i < ls.size() && !changed; ++i) {
            for (std::size_t j = 0; j < ls.size() && !changed; ++j) {
                if (i == j || !continues(ls[i], ls[j])) continue;
                const int block = (ls[i].characters >= ls[j].characters ? ls[i] : ls[j]).block;
                const std::size_t first = std::min(i, j);
                Line one = joined(std::move(ls[i]), std::move(ls[j]));
                one.block = block;
                ls.erase(ls.begin() + static_cast<std::ptrdiff_t>(std::max(i, j)));
                ls.erase(ls.begin() + static_cast<std::ptrdiff_t>(first));
                // Either piece may have been read in a block of pieces apart
                // from the lines around it: the line goes after the line
                // just above it, or where its first piece was.
                const std::size_t above = lineAbove(ls, one);
                ls.insert(ls.begin() + static_cast<std::ptrdiff_t>(above < ls.size() ? above + 1 : first),
                          std::move(one));
                changed = true;
            }
        }
    }
}

void readBoxesApart(std::vector<Line>& ls, const PageInk& ink) {
    std::vector<std::size_t> lines;
    for (std::size_t i = 0; i < ls.size(); ++i) {
        if (ls[i].horizontal && ls[i].characters > 0 && ls[i].height() <= ls[i].box.width()) lines.push_back(i);
    }
    if (lines.size() < 3) return;
    // Stacks: lines one below the other, each within one and a half line's
    // height of the next and sharing some of its width. A slide's items
    // stand further apart: lines that run across two framed or filled boxes
    // (a blank between their characters with the boxes' edges in it) join
    // within two and a half lines' height where they cross the same blank.
    std::vector<std::optional<std::pair<int, int>>> framedGap(ls.size());
    for (std::size_t i : lines) {
        const Line& l = ls[i];
        const int h = std::max(l.textHeight(), 1);
        const Blank blank = widestBlank(ls, {i});
        const int from = blank.region.left + blank.from, to = from + blank.width;
        if (blank.width >= boxGutter * h && edgedApart(ink, from, to, l.box.top, l.box.bottom, h)) {
            framedGap[i] = std::pair{from, to};
        }
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
            const int h = std::max(p.height(), q.height());
            const auto& g = framedGap[lines[a]];
            const auto& k = framedGap[lines[b]];
            const bool framed = g && k && std::min(g->second, k->second) > std::max(g->first, k->first);
            const bool near = gap * 2 <= 3 * h || (framed && gap * 2 <= 5 * h);
            if (std::min(p.right, q.right) > std::max(p.left, q.left) && near) parent[root(lines[b])] = root(lines[a]);
        }
    }
    std::map<std::size_t, std::vector<std::size_t>> stacks;
    for (std::size_t i : lines) stacks[root(i)].push_back(i);
    std::vector<std::pair<std::vector<std::size_t>, std::vector<Line>>> reordered;  // (stack, its lines in order)
    for (const auto& [first, stack] : stacks) {
        if (stack.size() < 3) continue;
        // A title or a heading across the page just above the boxes joins
        // their stack (a bar beside a heading makes its line taller, and
        // with it the reach of the line) and closes the blank between
        // them: the stack's top lines are left out, one by one, until the
        // blank shows.
        std::vector<std::size_t> members = stack;
        Blank blank = widestBlank(ls, members);
        for (std::size_t dropped = 0; blank.width < boxGutter * blank.h && dropped < acrossAbove && members.size() > 3;
             ++dropped) {
            members.erase(std::min_element(members.begin(), members.end(), [&](std::size_t a, std::size_t b) {
                return ls[a].box.top < ls[b].box.top;
            }));
            blank = widestBlank(ls, members);
        }
        if (blank.width < boxGutter * blank.h) continue;
        const PixelBox& region = blank.region;
        const int h = blank.h, bestFrom = blank.from, bestWidth = blank.width;
        const int x = region.left + bestFrom + bestWidth / 2;
        std::vector<Line> pieces;
        std::vector<std::size_t> left, right;
        for (std::size_t i : members) {
            auto [l, r] = cutAt(ls[i], x);
            if (l.characters > 0) left.push_back(pieces.size()), pieces.push_back(std::move(l));
            if (r.characters > 0) right.push_back(pieces.size()), pieces.push_back(std::move(r));
        }
        const auto byTop = [&](std::size_t a, std::size_t b) { return pieces[a].box.top < pieces[b].box.top; };
        std::stable_sort(left.begin(), left.end(), byTop);
        std::stable_sort(right.begin(), right.end(), byTop);
        // A blank down the whole stack: the rules of a table cross it.
        bool clear = false;
        for (int gx = region.left + bestFrom; gx < region.left + bestFrom + bestWidth && !clear; ++gx) {
            clear = !ink.inColumn(gx, region.top, region.bottom);
        }
        const bool edged = clear && edgedApart(ink, region.left + bestFrom, region.left + bestFrom + bestWidth,
                                               region.top, region.bottom, h);
        // Columns of prose are read column by column however the layout
        // made its blocks: as blocks of their own beside each other (see
        // readTables) or, as here, as lines joined across the gutter. Their
        // lines run long with no blank of a cell's width in them, and no
        // rule runs down between them.
        const auto prose = [&](const std::vector<std::size_t>& side) {
            const auto longLines = std::count_if(side.begin(), side.end(), [&](std::size_t k) {
                return pieces[k].box.width() >= proseLine * h && widestGap(pieces[k]) < h;
            });
            return static_cast<std::size_t>(longLines) * 2 >= side.size();
        };
        if (left.size() < 2 || right.size() < 2) continue;
        const bool columns = clear && prose(left) && prose(right);
        if (!(edged || columns || apart(pieces, left, right, clear, ink))) continue;
        std::vector<Line> ordered;
        for (std::size_t k : left) ordered.push_back(std::move(pieces[k]));
        for (std::size_t k : right) ordered.push_back(std::move(pieces[k]));
        reordered.emplace_back(members, std::move(ordered));
    }
    if (reordered.empty()) return;
    // Each stack's lines go where its first line was read.
    std::vector<int> stackOf(ls.size(), -1);
    for (std::size_t s = 0; s < reordered.size(); ++s) {
        for (std::size_t i : reordered[s].first) stackOf[i] = static_cast<int>(s);
    }
    std::vector<Line> out;
    std::vector<bool> placed(reordered.size(), false);
    for (std::size_t i = 0; i < ls.size(); ++i) {
        const int s = stackOf[i];
        if (s < 0) {
            out.push_back(std::move(ls[i]));
            continue;
        }
        if (placed[static_cast<std::size_t>(s)]) continue;
        placed[static_cast<std::size_t>(s)] = true;
        for (Line& l : reordered[static_cast<std::size_t>(s)].second) out.push_back(std::move(l));
    }
    ls = std::move(out);
}

void orderBands(std::vector<Line>& ls) {
    if (ls.size() < 2 || std::any_of(ls.begin(), ls.end(), [](const Line& l) { return !l.horizontal; })) return;
    const int h = medianTextHeight(ls);
    std::vector<std::size_t> byTop(ls.size());
    std::iota(byTop.begin(), byTop.end(), std::size_t{0});
    std::stable_sort(byTop.begin(), byTop.end(),
                     [&](std::size_t a, std::size_t b) { return ls[a].box.top < ls[b].box.top; });
    std::vector<int> band(ls.size(), 0);
    int current = 0, bottom = ls[byTop.front()].box.bottom;
    for (std::size_t i : byTop) {
        if (ls[i].box.top - bottom >= bandGap * h) ++current;
        band[i] = current;
        bottom = std::max(bottom, ls[i].box.bottom);
    }
    if (current == 0) return;
    std::vector<std::size_t> order(ls.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return band[a] < band[b]; });
    std::vector<Line> out;
    out.reserve(ls.size());
    for (std::size_t i : order) out.push_back(std::move(ls[i]));
    ls = std::move(out);
}

void orderColumns(std::vector<Line>& ls) {
    if (ls.size() < 2 * leastColumnLines) return;
    // Vertical text has an order of its own.
    if (std::any_of(ls.begin(), ls.end(), [](const Line& l) { return !l.horizontal; })) return;
    // Short lines (a heading in the gutter, a page number, a speck) say
    // nothing of where the gutter runs; they are placed once the columns
    // are known.
    const int shortest = 3 * medianTextHeight(ls);
    const int x = gutter(ls, shortest);
    if (x < 0) return;
    // Top to bottom; a line across the gutter ends a run.
    std::vector<std::size_t> byTop(ls.size());
    for (std::size_t i = 0; i < ls.size(); ++i) byTop[i] = i;
    std::stable_sort(byTop.begin(), byTop.end(),
                     [&](std::size_t a, std::size_t b) { return ls[a].box.top < ls[b].box.top; });
    std::vector<Run> runs(1);
    int runBottom = 0;
    for (std::size_t i : byTop) {
        const Line& l = ls[i];
        if (isShort(l, shortest)) continue;
        // Blank paper across the whole page, a few lines high, ends the
        // columns: a footer or a block set below them is not the last line
        // of the column it stands under.
        const bool apart = l.box.top - runBottom > columnsEnd * shortest / 3;
        if (apart && (!runs.back().left.empty() || !runs.back().right.empty())) runs.emplace_back();
        runBottom = std::max(apart ? 0 : runBottom, l.box.bottom);
        if (l.box.right <= x) {
            runs.back().left.push_back(i);
        } else if (l.box.left >= x) {
            runs.back().right.push_back(i);
        } else if (!runs.back().left.empty() || !runs.back().right.empty()) {
            runs.emplace_back();
        }
    }
    // The order of the lines' indices, changed run by run.
    std::vector<std::size_t> order(ls.size());
    for (std::size_t i = 0; i < ls.size(); ++i) order[i] = i;
    std::vector<bool> inColumns(ls.size(), false);
    bool changed = false;
    for (Run& run : runs) {
        if (!twoColumns(ls, run)) continue;
        PixelBox columns = extent(ls, run.left);
        columns.unite(extent(ls, run.right));
        // A short line within the columns' height belongs to the nearer
        // one; so does one closing a column, a row below the other's end,
        // unless it stands in the gutter (a page number).
        for (std::size_t i = 0; i < ls.size(); ++i) {
            const Line& l = ls[i];
            const int middle = (l.box.top + l.box.bottom) / 2;
            const bool aside = l.box.right <= x || l.box.left >= x;
            const int bottom = columns.bottom + (aside ? shortest / 3 : 0);
            if (inColumns[i] || !isShort(l, shortest) || middle <= columns.top || middle >= bottom) continue;
            ((l.box.left + l.box.right) / 2 < x ? run.left : run.right).push_back(i);
        }
        orderColumn(ls, run.left);
        orderColumn(ls, run.right);
        std::vector<bool> here(ls.size(), false);
        for (std::size_t i : run.left) here[i] = inColumns[i] = true;
        for (std::size_t i : run.right) here[i] = inColumns[i] = true;
        // The other lines keep their order, those above the columns before
        // them, the others after.
        std::vector<std::size_t> before, after;
        for (std::size_t i : order) {
            if (here[i]) continue;
            const int middle = (ls[i].box.top + ls[i].box.bottom) / 2;
            (middle <= columns.top ? before : after).push_back(i);
        }
        order = std::move(before);
        order.insert(order.end(), run.left.begin(), run.left.end());
        order.insert(order.end(), run.right.begin(), run.right.end());
        order.insert(order.end(), after.begin(), after.end());
        changed = true;
    }
    if (!changed) return;
    std::vector<Line> out;
    out.reserve(ls.size());
    for (std::size_t i : order) out.push_back(std::move(ls[i]));
    ls = std::move(out);
}

}  // namespace velmora::StandardPass
