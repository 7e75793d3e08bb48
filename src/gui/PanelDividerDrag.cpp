#include "gui/PanelDividerDrag.hpp"

namespace velmora {

void PanelDividerDrag::press(Point at) {
    if (!enabled) return;
    origin_ = at;
    initial_ = panelSize;
}

void PanelDividerDrag::step(Point at, bool finished) {
    if (!enabled || !origin_) {
        origin_.reset();
        return;
    }
    const double way = vertical ? origin_->x - at.x : origin_->y - at.y;
    // A copy: the receiver may update the divider, and with it this
    // callback, while it runs.
    if (Changed callback = changed) callback(initial_ + way, finished);
}

void PanelDividerDrag::release(Point at) {
    step(at, true);
    origin_.reset();
}

}  // namespace velmora
