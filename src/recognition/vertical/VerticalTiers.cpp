#include "recognition/vertical/VerticalTiers.hpp"

#include <algorithm>

namespace velmora::VerticalTiers {

std::vector<VerticalResearch::Run> tiers(const GreyPage& page, int columnWidth) {
    // A row holds ink on the same terms as a pixel column does.
    std::vector<bool> flags(static_cast<std::size_t>(page.height), false);
    for (int y = 0; y < page.height; ++y) {
        const uint8_t* row = page.pixels.data() + static_cast<std::size_t>(y) * page.width;
        const auto dark = std::count_if(row, row + page.width,
                                        [](uint8_t g) { return g < VerticalResearch::darkBelow; });
        flags[static_cast<std::size_t>(y)] = dark > VerticalResearch::inkColumnMoreThan;
    }
    const int gap = std::max(VerticalResearch::glyphGap, static_cast<int>(columnWidth * tierGap));
    const double shortest = columnWidth * shortestTier;
    const std::vector<VerticalResearch::Run> bands = VerticalResearch::runs(flags, gap);
    const auto tall = [&](const VerticalResearch::Run& b) { return b.length() >= shortest; };
    if (std::none_of(bands.begin(), bands.end(), tall)) {
        if (bands.empty()) return {};
        return {{bands.front().start, bands.back().end}};
    }
    std::vector<VerticalResearch::Run> out;
    for (const VerticalResearch::Run& b : bands) {
        if (!out.empty() && !tall(out.back()) && !tall(b)) {
            out.back().end = b.end;
        } else {
            out.push_back(b);
        }
    }
    return out;
}

GreyPage band(const GreyPage& page, VerticalResearch::Run rows) {
    GreyPage out;
    out.width = page.width;
    out.height = rows.length();
    out.pixels.assign(page.pixels.begin() + static_cast<std::ptrdiff_t>(rows.start) * page.width,
                      page.pixels.begin() + static_cast<std::ptrdiff_t>(rows.end) * page.width);
    return out;
}

}  // namespace velmora::VerticalTiers
