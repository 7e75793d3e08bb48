#include "ocrviews/OCRControlRow.hpp"

namespace velmora {

OCRControlRow::OCRControlRow() : Gtk::Box(Gtk::Orientation::HORIZONTAL, wideSpacing) {
    // Its ideal height, whatever the stack around it offers.
    set_vexpand(false);
    set_valign(Gtk::Align::START);
}

void OCRControlRow::add(Gtk::Widget& control) {
    children_.push_back({&control, control.get_halign(), control.get_valign(), false});
    align(children_.back());
    append(control);
}

void OCRControlRow::addSpace(int minimum) {
    auto& space = *Gtk::make_managed<Gtk::Box>();
    space.set_size_request(minimum, -1);
    space.set_hexpand(true);
    children_.push_back({&space, Gtk::Align::FILL, Gtk::Align::FILL, true});
    align(children_.back());
    append(space);
}

void OCRControlRow::setCompact(bool compact) {
    if (compact == compact_) return;
    compact_ = compact;
    set_orientation(compact ? Gtk::Orientation::VERTICAL : Gtk::Orientation::HORIZONTAL);
    set_spacing(compact ? compactSpacing : wideSpacing);
    for (const Child& child : children_) align(child);
}

void OCRControlRow::align(const Child& child) {
    if (child.space) {
        // Stacked, a space would only add a gap.
        child.widget->set_visible(!compact_);
        return;
    }
    if (compact_) {
        child.widget->set_halign(Gtk::Align::START);
        child.widget->set_valign(child.valign);
    } else {
        child.widget->set_halign(child.halign);
        child.widget->set_valign(Gtk::Align::CENTER);
    }
}

}  // namespace velmora
