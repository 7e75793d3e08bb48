#include "webcapture/WebFrame.hpp"

#include <gtk/gtk.h>

#include <algorithm>

namespace velmora {

WebFrame::WebFrame() : Glib::ObjectBase("VelmoraWebFrame") {
    set_overflow(Gtk::Overflow::HIDDEN);
    set_hexpand(true);
    set_vexpand(true);
}

namespace {

// Takes the frame out of whatever placed it. Containers keep their children
// in slots and lists of their own besides the widget tree, so each is asked
// through its own API; a parent of another kind gets a plain unparent.
void leaveParent(GtkWidget* self) {
    GtkWidget* parent = gtk_widget_get_parent(self);
    if (!parent) return;
    if (GTK_IS_WINDOW(parent)) {
        if (gtk_window_get_child(GTK_WINDOW(parent)) == self) gtk_window_set_child(GTK_WINDOW(parent), nullptr);
    } else if (GTK_IS_BOX(parent)) {
        gtk_box_remove(GTK_BOX(parent), self);
    } else if (GTK_IS_STACK(parent)) {
        gtk_stack_remove(GTK_STACK(parent), self);
    } else if (GTK_IS_GRID(parent)) {
        gtk_grid_remove(GTK_GRID(parent), self);
    } else if (GTK_IS_FIXED(parent)) {
        gtk_fixed_remove(GTK_FIXED(parent), self);
    } else if (GTK_IS_FRAME(parent)) {
        if (gtk_frame_get_child(GTK_FRAME(parent)) == self) gtk_frame_set_child(GTK_FRAME(parent), nullptr);
    } else if (GTK_IS_OVERLAY(parent)) {
        if (gtk_overlay_get_child(GTK_OVERLAY(parent)) == self) gtk_overlay_set_child(GTK_OVERLAY(parent), nullptr);
        else gtk_overlay_remove_overlay(GTK_OVERLAY(parent), self);
    } else if (GTK_IS_PANED(parent)) {
        if (gtk_paned_get_start_child(GTK_PANED(parent)) == self) gtk_paned_set_start_child(GTK_PANED(parent), nullptr);
        if (gtk_paned_get_end_child(GTK_PANED(parent)) == self) gtk_paned_set_end_child(GTK_PANED(parent), nullptr);
    }
    if (gtk_widget_get_parent(self)) gtk_widget_unparent(self);
}

}  // namespace

WebFrame::~WebFrame() {
    setChild(nullptr);
    leaveParent(GTK_WIDGET(gobj()));
}

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
    // The minimum width changes with it.
    queue_resize();
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
    // view cannot do without, and for a forced width, so that a window too
    // narrow for it grows.
    minimum = childMin;
    natural = childNat;
    if (width_ && orientation == Gtk::Orientation::HORIZONTAL) {
        minimum = std::max(minimum, *width_);
        natural = std::max(natural, minimum);
    }
}

void WebFrame::size_allocate_vfunc(int width, int height, int) {
    if (!child_ || !gtk_widget_should_layout(child_)) return;
    int childMin = 0;
    gtk_widget_measure(child_, GTK_ORIENTATION_HORIZONTAL, height, &childMin, nullptr, nullptr, nullptr);
    int w = std::max(width_.value_or(width), childMin);
    // A page laid out narrower than the frame (a capture's mobile width)
    // stays where the pane centres it, instead of jumping to the left edge
    // while the capture runs.
    GtkAllocation allocation{std::max((width - w) / 2, 0), 0, w, height};
    gtk_widget_size_allocate(child_, &allocation, -1);
}

}  // namespace velmora
