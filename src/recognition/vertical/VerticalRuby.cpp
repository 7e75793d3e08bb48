#include "recognition/vertical/VerticalRuby.hpp"

#include <algorithm>

namespace velmora::VerticalRuby {

std::vector<bool> rubyColumns(const std::vector<Extent>& columns, int bodyWidth) {
    std::vector<bool> out(columns.size(), false);
    if (bodyWidth <= 0) return out;
    const auto narrow = [&](const Extent& c) {
        return c.across.length() <= bodyWidth * widest && c.across.length() >= bodyWidth * narrowest;
    };
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Extent& ruby = columns[i];
        if (!narrow(ruby)) continue;
        for (std::size_t k = 0; k < columns.size() && !out[i]; ++k) {
            const Extent& base = columns[k];
            if (k == i || narrow(base) || base.across.length() < ruby.across.length() * 3 / 2) continue;
            // The blank between the two, whichever side the ruby stands on.
            const int gap = ruby.across.start >= base.across.end ? ruby.across.start - base.across.end
                                                                  : base.across.start - ruby.across.end;
            // Ruby never reaches beyond its base's first or last character.
            out[i] = gap >= 0 && gap <= bodyWidth * besideGap && ruby.rows.start >= base.rows.start &&
                     ruby.rows.end <= base.rows.end;
        }
    }
    return out;
}

VerticalResearch::Run withoutRuby(const GreyPage& page, VerticalResearch::Run column, int bodyWidth) {
    using VerticalResearch::Run;
    if (bodyWidth <= 0 || column.length() < bodyWidth + bodyWidth * narrowest) return column;
    std::vector<int> dark(static_cast<std::size_t>(column.length()), 0);
    for (int y = 0; y < page.height; ++y) {
        const uint8_t* row = page.pixels.data() + static_cast<std::size_t>(y) * page.width;
        for (int x = column.start; x < column.end; ++x) {
            dark[static_cast<std::size_t>(x - column.start)] += row[x] < VerticalResearch::darkBelow ? 1 : 0;
        }
    }
    const int nearlyBlank = std::max(1, bodyWidth / 2);
    // The rows a part of the column holds ink in.
    const auto rowsOf = [&](Run part) {
        const std::vector<Run> glyphs = VerticalResearch::glyphRuns(page, part);
        return glyphs.empty() ? Run{} : Run{glyphs.front().start, glyphs.back().end};
    };
    const auto count = [&](int x) { return dark[static_cast<std::size_t>(x - column.start)]; };
    // From the column's heaviest pixel column, which lies in the text (ruby
    // is small and fills few rows), outwards to the first nearly blank one
    // that the ink does not fall further after: the blank between the text
    // and what stands beside it.
    const int heaviest = column.start + static_cast<int>(std::max_element(dark.begin(), dark.end()) - dark.begin());
    Run out = column;
    for (const int step : {1, -1}) {
        int x = heaviest;
        while (x + step > column.start && x + step < column.end - 1 &&
               !(count(x) <= nearlyBlank && count(x + step) >= count(x))) {
            x += step;
        }
        if (count(x) > nearlyBlank) continue;
        const Run side = step > 0 ? Run{x + 1, column.end} : Run{column.start, x};
        const Run rest = step > 0 ? Run{out.start, x} : Run{x + 1, out.end};
        const Run sideRows = rowsOf(side), restRows = rowsOf(rest);
        if (sideRows.length() == 0 || restRows.length() == 0) continue;
        const std::vector<bool> flags = rubyColumns({{side, sideRows}, {rest, restRows}}, bodyWidth);
        if (flags[0] && !flags[1]) out = rest;
    }
    return out;
}

}  // namespace velmora::VerticalRuby
