#include "recognition/standard/LineEnds.hpp"

#include <algorithm>

namespace velmora::StandardPass {

void readLineEnds(std::vector<Line>& ls, Reader& reader, const PageInk& ink,
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
        if (again.size() != 1) continue;
        if (again.front().characters > line.characters && again.front().confidence + 0.05f >= line.confidence) {
            line = std::move(again.front());
        }
    }
}

}  // namespace velmora::StandardPass
