#pragma once

#include <algorithm>

namespace velmora {

// A rectangle in whatever space its user states (pixels with a top-left
// origin, or page fractions with a bottom-left origin). A negative width or
// height is allowed and the edges are then read from the other side.
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return std::min(x, x + width); }
    double maxX() const { return std::max(x, x + width); }
    double minY() const { return std::min(y, y + height); }
    double maxY() const { return std::max(y, y + height); }

    bool operator==(const Rect&) const = default;
};

// A width and a height in the units of its user (a view's points, a page's
// CSS pixels).
struct Size {
    double width = 0;
    double height = 0;

    bool operator==(const Size&) const = default;
};

}  // namespace velmora
