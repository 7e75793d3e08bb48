#pragma once

#include <vector>

#include <gtkmm/box.h>

namespace velmora {

// One row of the OCR pane's controls: side by side (8 points apart, centred
// vertically) in a wide pane, stacked (6 points apart, on the leading edge)
// in a narrow one. Switching only turns the box and re-aligns its children,
// so every control keeps its state, its focus and its handlers. The pane
// sets the flag for all its rows at once.
class OCRControlRow : public Gtk::Box {
public:
    static constexpr int wideSpacing = 8;
    static constexpr int compactSpacing = 6;

    OCRControlRow();

    // Appends a control; it keeps the alignment it has now across the axis
    // of the row.
    void add(Gtk::Widget& control);
    // A flexible space of at least `minimum` points, side by side only.
    void addSpace(int minimum);

    void setCompact(bool compact);
    bool compact() const noexcept { return compact_; }

private:
    struct Child {
        Gtk::Widget* widget;
        Gtk::Align halign;
        Gtk::Align valign;
        bool space;
    };
    void align(const Child& child);

    std::vector<Child> children_;
    bool compact_ = false;
};

}  // namespace velmora
