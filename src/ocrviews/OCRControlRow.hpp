#pragma once

#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/layoutmanager.h>

namespace velmora {

// One row of the OCR pane's controls: side by side (8 points apart, centred
// vertically) in a wide pane; in a narrow one the controls wrap onto as few
// lines as fit (6 points between lines), a pair of controls that belong
// together always on one line. Switching only changes how the row places its
// children, so every control keeps its state, its focus and its handlers.
// The pane sets the flag for all its rows at once.
class OCRControlRow : public Gtk::Box {
public:
    static constexpr int wideSpacing = 8;
    static constexpr int compactSpacing = 6;

    OCRControlRow();

    // Appends a control; it keeps the alignment it has now across the axis
    // of the row.
    void add(Gtk::Widget& control);
    // Two controls that stay side by side when the row wraps: a button and
    // what it acts on, or two buttons of one kind.
    void addPair(Gtk::Widget& first, Gtk::Widget& second);
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
    // The box's own layout, side by side, and the wrapped one; the row
    // has one of them at a time.
    Glib::RefPtr<Gtk::LayoutManager> sideBySide_;
    Glib::RefPtr<Gtk::LayoutManager> wrapped_;
};

}  // namespace velmora
