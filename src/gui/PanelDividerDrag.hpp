#pragma once

// The arithmetic of the drag handle between a pane and its side panel,
// without a display: the widget (gui/PanelDivider.hpp) feeds it pointer
// positions in window coordinates and it proposes panel sizes.
//
// - A drag starts only on an enabled divider and reports the size the panel
//   had when it started plus the pointer's way towards the panel's far side:
//   leftwards for a vertical divider (a panel on the right), upwards for a
//   horizontal one (a panel at the bottom; the toolkit's y axis points down).
// - Nothing is rounded or clamped: the receiver keeps the panel inside the
//   pane's limits.
// - A divider disabled during a drag leaves the drag at its next event
//   without a report, so the receiver never sees that drag finish.
// - Without a receiver a step reports nothing and the drag goes on.
// Main thread only.

#include <functional>
#include <optional>

namespace velmora {

class PanelDividerDrag {
public:
    // Receives each proposed size; finished is true only for the last one of
    // a drag (the release).
    using Changed = std::function<void(double size, bool finished)>;

    struct Point {
        double x = 0;
        double y = 0;
    };

    // true: a vertical line dragged sideways; false: a horizontal line
    // dragged up and down.
    bool vertical = true;
    bool enabled = true;
    // The panel's size known at the last update.
    double panelSize = 320;
    Changed changed;

    // Where the current drag began; none while no drag is under way.
    const std::optional<Point>& origin() const noexcept { return origin_; }
    // panelSize when the current drag began.
    double initial() const noexcept { return initial_; }
    bool dragging() const noexcept { return origin_.has_value(); }

    void press(Point at);
    void drag(Point at) { step(at, false); }
    void release(Point at);
    // The toolkit took the pointer away (a grab elsewhere): the drag ends
    // without a report.
    void cancel() { origin_.reset(); }

private:
    void step(Point at, bool finished);

    std::optional<Point> origin_;
    double initial_ = 0;
};

}  // namespace velmora
