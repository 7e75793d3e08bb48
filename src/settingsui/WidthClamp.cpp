#include "settingsui/WidthClamp.hpp"

#include <algorithm>

namespace velmora {

WidthClamp::WidthClamp(int maximum) : Glib::ObjectBase("VelmoraWidthClamp"), maximum_(maximum) {}

WidthClamp::~WidthClamp() {
    if (child_) child_->unparent();
}

void WidthClamp::set_child(Gtk::Widget& child) {
    if (child_) child_->unparent();
    child_ = &child;
    child.set_parent(*this);
    queue_resize();
}

Gtk::SizeRequestMode WidthClamp::get_request_mode_vfunc() const { return Gtk::SizeRequestMode::HEIGHT_FOR_WIDTH; }

int WidthClamp::childWidth(int available) const {
    int minimum = 0, natural = 0, minimumBaseline = -1, naturalBaseline = -1;
    child_->measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, minimumBaseline, naturalBaseline);
    return std::max(minimum, std::min(available, maximum_));
}

void WidthClamp::measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural,
                               int& minimumBaseline, int& naturalBaseline) const {
    minimum = natural = 0;
    minimumBaseline = naturalBaseline = -1;
    if (!child_ || !child_->get_visible()) return;
    int childMinimumBaseline = -1, childNaturalBaseline = -1;
    if (orientation == Gtk::Orientation::HORIZONTAL) {
        child_->measure(orientation, forSize, minimum, natural, childMinimumBaseline, childNaturalBaseline);
        natural = std::max(minimum, std::min(natural, maximum_));
        return;
    }
    // The height at the width the child will be given.
    const int width = forSize < 0 ? -1 : childWidth(forSize);
    child_->measure(orientation, width, minimum, natural, childMinimumBaseline, childNaturalBaseline);
}

void WidthClamp::size_allocate_vfunc(int width, int height, int baseline) {
    (void)baseline;
    if (!child_ || !child_->get_visible()) return;
    const int w = childWidth(width);
    const Gtk::Allocation allocation(std::max(0, (width - w) / 2), 0, w, height);
    child_->size_allocate(allocation, -1);
}

}  // namespace velmora
