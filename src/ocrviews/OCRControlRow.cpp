#include "ocrviews/OCRControlRow.hpp"

#include <algorithm>
#include <cmath>

#include "ocrviews/PaneRules.hpp"

namespace velmora {

namespace {

// The compact layout: the shown children left to right, wrapping onto as
// few lines as fit, each line as high as its highest child, which are
// centred in it.
class WrappedLayout : public Gtk::LayoutManager {
public:
    static Glib::RefPtr<WrappedLayout> create() { return Glib::make_refptr_for_instance(new WrappedLayout()); }

protected:
    WrappedLayout() : Glib::ObjectBase("VelmoraWrappedControls") {}

    Gtk::SizeRequestMode get_request_mode_vfunc(const Gtk::Widget&) const override {
        return Gtk::SizeRequestMode::HEIGHT_FOR_WIDTH;
    }

    void measure_vfunc(const Gtk::Widget& row, Gtk::Orientation orientation, int forSize, int& minimum,
                       int& natural, int& minimumBaseline, int& naturalBaseline) const override {
        minimumBaseline = naturalBaseline = -1;
        minimum = natural = 0;
        if (orientation == Gtk::Orientation::HORIZONTAL) {
            // As narrow as its widest child; as wide as all on one line.
            int shown = 0;
            for (const Gtk::Widget* child = row.get_first_child(); child; child = child->get_next_sibling()) {
                if (!child->should_layout()) continue;
                int childMin = 0, childNat = 0, b1 = -1, b2 = -1;
                child->measure(orientation, -1, childMin, childNat, b1, b2);
                minimum = std::max(minimum, childMin);
                natural += childNat;
                ++shown;
            }
            if (shown > 1) natural += (shown - 1) * OCRControlRow::wideSpacing;
            return;
        }
        int width = forSize;
        if (width < 0) {
            int ignored = 0, b1 = -1, b2 = -1;
            measure_vfunc(row, Gtk::Orientation::HORIZONTAL, -1, ignored, width, b1, b2);
        }
        minimum = natural = place(row, width).height;
    }

    void allocate_vfunc(const Gtk::Widget& row, int width, int, int) override {
        for (const Placed& p : place(row, width).children) {
            p.widget->size_allocate(Gtk::Allocation(p.x, p.y, p.width, p.height), -1);
        }
    }

private:
    struct Placed {
        Gtk::Widget* widget;
        int x, y, width, height;
    };
    struct Placement {
        std::vector<Placed> children;
        int height = 0;
    };

    static Placement place(const Gtk::Widget& row, int width) {
        Placement placement;
        std::vector<Placed>& placed = placement.children;
        std::vector<PaneLayout::FlowItem> items;
        for (const Gtk::Widget* child = row.get_first_child(); child; child = child->get_next_sibling()) {
            if (!child->should_layout()) continue;
            int childMin = 0, childNat = 0, b1 = -1, b2 = -1;
            child->measure(Gtk::Orientation::HORIZONTAL, -1, childMin, childNat, b1, b2);
            items.push_back({static_cast<double>(childMin), static_cast<double>(childNat)});
            // The toolkit hands the layout its widget as const; allocating
            // the children is what a layout is for.
            placed.push_back({const_cast<Gtk::Widget*>(child), 0, 0, 0, 0});
        }
        const std::vector<PaneLayout::FlowSlot> slots = PaneLayout::flow(items, width, OCRControlRow::wideSpacing);
        int& height = placement.height;
        std::size_t first = 0;
        while (first < placed.size()) {
            std::size_t end = first;
            int lineHeight = 0;
            while (end < placed.size() && slots[end].line == slots[first].line) {
                Placed& p = placed[end];
                p.x = static_cast<int>(std::lround(slots[end].x));
                p.width = static_cast<int>(std::lround(slots[end].width));
                int childMin = 0, childNat = 0, b1 = -1, b2 = -1;
                p.widget->measure(Gtk::Orientation::VERTICAL, p.width, childMin, childNat, b1, b2);
                lineHeight = std::max({lineHeight, childMin, childNat});
                ++end;
            }
            if (first > 0) height += OCRControlRow::compactSpacing;
            for (std::size_t i = first; i < end; ++i) {
                placed[i].y = height;
                placed[i].height = lineHeight;
            }
            height += lineHeight;
            first = end;
        }
        return placement;
    }
};

}  // namespace

OCRControlRow::OCRControlRow() : Gtk::Box(Gtk::Orientation::HORIZONTAL, wideSpacing) {
    // Its ideal height, whatever the stack around it offers.
    set_vexpand(false);
    set_valign(Gtk::Align::START);
    sideBySide_ = get_layout_manager();
    wrapped_ = WrappedLayout::create();
}

void OCRControlRow::add(Gtk::Widget& control) {
    children_.push_back({&control, control.get_halign(), control.get_valign(), false});
    align(children_.back());
    append(control);
}

void OCRControlRow::addPair(Gtk::Widget& first, Gtk::Widget& second) {
    auto& pair = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, wideSpacing);
    for (Gtk::Widget* w : {&first, &second}) {
        w->set_valign(Gtk::Align::CENTER);
        pair.append(*w);
    }
    add(pair);
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
    for (const Child& child : children_) align(child);
    // The box's own properties (orientation, spacing) are its layout's:
    // they are not asked for while the wrapped layout is in place.
    set_layout_manager(compact ? wrapped_ : sideBySide_);
}

void OCRControlRow::align(const Child& child) {
    if (child.space) {
        // Wrapped, a space would only add a gap.
        child.widget->set_visible(!compact_);
        return;
    }
    child.widget->set_halign(compact_ ? Gtk::Align::START : child.halign);
    child.widget->set_valign(Gtk::Align::CENTER);
}

}  // namespace velmora
