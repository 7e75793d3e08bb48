#include "webcapture/WebFrame.hpp"

#include <gtk/gtk.h>

#include <algorithm>

namespace velmora {

WebFrame::WebFrame() : Glib::ObjectBase("VelmoraWebFrame") {
    set_overflow(Gtk::Overflow::HIDDEN);
    set_hexpand(true);
    set_vexpand(true);
}

WebFrame::~WebFrame() { setChild(nullptr); }

void WebFrame::setChild(GtkWidget* child) {
    if (child == child_) return;
    if (child_) gtk_widget_unparent(child_);
    child_ = child;
    if (child_) gtk_widget_set_parent(child_, GTK_WIDGET(gobj()));
    queue_resize();
}

void WebFrame::setAllocatedWidth(std::optional<int> width) {
    if (width) width = std::max(*width, 0);
    width_ = width;
    queue_allocate();
}

Gtk::SizeRequestMode WebFrame::get_request_mode_vfunc() const { return Gtk::SizeRequestMode::CONSTANT_SIZE; }

void WebFrame::measure_vfunc(Gtk::Orientation orientation, int for_size, int& minimum, int& natural,
                             int& minimum_baseline, int& natural_baseline) const {
    minimum = natural = 0;
    minimum_baseline = natural_baseline = -1;
    if (!child_ || !gtk_widget_should_layout(child_)) return;
    int childMin = 0, childNat = 0;
    gtk_widget_measure(child_, static_cast<GtkOrientation>(orientation), for_size, &childMin, &childNat, nullptr,
                       nullptr);
    // The frame follows the window, not the page: it asks only for what the
    // view cannot do without.
    minimum = childMin;
    natural = childNat;
}

void WebFrame::size_allocate_vfunc(int width, int height, int) {
    if (!child_ || !gtk_widget_should_layout(child_)) return;
    int childMin = 0;
    gtk_widget_measure(child_, GTK_ORIENTATION_HORIZONTAL, height, &childMin, nullptr, nullptr, nullptr);
    int w = std::max(width_.value_or(width), childMin);
    GtkAllocation allocation{0, 0, w, height};
    gtk_widget_size_allocate(child_, &allocation, -1);
}

}  // namespace velmora
