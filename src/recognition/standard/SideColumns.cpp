#include "recognition/standard/SideColumns.hpp"

#include <algorithm>
#include <map>

namespace velmora::StandardPass {

namespace {

// The entries beside a column of numbers.
constexpr std::size_t leastEntries = 3;

// Whether two lines stand on one row: their baselines within a third of
// the taller's text.
bool onRow(const Line& a, const Line& b) {
    const int h = std::max(a.textHeight(), b.textHeight());
    return std::abs(a.baselineY() - b.baselineY()) * 3 <= h;
}

}  // namespace

void readSideColumns(std::vector<Line>& ls, Reader& reader, const PageInk& ink) {
    std::map<int, PixelBox> columns;
    for (const Line& l : ls) {
        if (!l.horizontal) columns[l.block].unite(l.box);
    }
    for (const auto& [block, column] : columns) {
        if (column.height() <= 2 * column.width()) continue;
        // The entries: horizontal lines beginning within two of their
        // characters right of the column, their middles over it.
        std::vector<std::size_t> entries;
        std::vector<int> heights;
        for (std::size_t i = 0; i < ls.size(); ++i) {
            const Line& l = ls[i];
            const int h = l.textHeight();
            const int middle = (l.box.top + l.box.bottom) / 2;
            if (!l.horizontal || l.box.left < column.right - h / 4 || l.box.left - column.right > 2 * h ||
                middle < column.top || middle >= column.bottom) {
                continue;
            }
            entries.push_back(i);
            heights.push_back(h);
        }
        if (entries.size() < leastEntries) continue;
        const int h = median(heights);
        const PixelBox area = ink.clipped({column.left - h / 2, column.top - h / 4, column.right + h / 4,
                                           column.bottom + h / 4});
        std::vector<Line> again = reader.area(area, tesseract::PSM_SINGLE_BLOCK, block);
        // Each line of the reading at the start of the entry on its row;
        // nothing is changed unless most have their entry. The others (a
        // heading over the list) are lines of their own, before the first
        // entry below them.
        std::vector<std::size_t> at(again.size(), ls.size());
        std::size_t placed = 0;
        for (std::size_t k = 0; k < again.size(); ++k) {
            if (!again[k].horizontal) continue;
            const auto entry = std::find_if(entries.begin(), entries.end(), [&](std::size_t i) {
                return onRow(again[k], ls[i]) && std::find(at.begin(), at.end(), i) == at.end();
            });
            if (entry == entries.end()) continue;
            at[k] = *entry;
            placed += 1;
        }
        if (placed < leastEntries || placed * 2 < again.size()) continue;
        std::vector<Line> alone;
        for (std::size_t k = 0; k < again.size(); ++k) {
            if (at[k] < ls.size()) {
                ls[at[k]] = joined(std::move(again[k]), std::move(ls[at[k]]));
            } else if (again[k].horizontal && again[k].characters > 0) {
                alone.push_back(std::move(again[k]));
            }
        }
        for (Line& line : alone) {
            std::size_t before = entries.back() + 1;
            for (std::size_t i : entries) {
                if (ls[i].box.top > line.box.top) before = std::min(before, i);
            }
            ls.insert(ls.begin() + static_cast<std::ptrdiff_t>(before), std::move(line));
            for (std::size_t& i : entries) i += i >= before ? 1 : 0;
        }
        // A copy: not every compiler here lets a lambda capture a structured binding.
        const auto columnBlock = block;
        std::erase_if(ls, [&](const Line& l) { return !l.horizontal && l.block == columnBlock; });
    }
}

}  // namespace velmora::StandardPass
