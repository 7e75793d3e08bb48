#include "ocrviews/OCRSplit.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "ocrviews/PaneRules.hpp"

namespace velmora {

OCRSplit::OCRSplit(std::shared_ptr<QueueController> controller)
    : Glib::ObjectBase("VelmoraOCRSplit"), sourceColumn_(controller), resultColumn_(controller) {
    set_name(splitName);
    divider_.set_name(dividerName);
    // The source column keeps 6 points from the divider, the result column
    // 6 on its other side; both sit inside the widths the split gives them.
    sourceColumn_.set_margin_end(6);
    resultColumn_.set_margin_start(6);
    sourceColumn_.set_parent(*this);
    divider_.set_parent(*this);
    resultColumn_.set_parent(*this);
    configureDivider();
    // A managed split's C++ side goes only when its object is finalized,
    // after the toolkit has disposed of it: the columns are let go then.
    signal_destroy().connect([this] { unplace(); });
}

OCRSplit::~OCRSplit() {
    if (gobj()) unplace();
}

void OCRSplit::unplace() {
    for (Gtk::Widget* child : std::initializer_list<Gtk::Widget*>{&sourceColumn_, &divider_, &resultColumn_}) {
        if (child->get_parent()) child->unparent();
    }
}

void OCRSplit::setPreferred(double preferred) {
    if (preferred == preferred_) return;
    preferred_ = preferred;
    queue_allocate();
}

void OCRSplit::setHeight(int height) {
    if (height == height_) return;
    height_ = height;
    queue_resize();
}

void OCRSplit::configureDivider() {
    // The drag starts from the result column's width as it is shown.
    const double size = width_ > 0 ? result_ : PaneLayout::resultWidth(preferred_, PaneLayout::minimumContent);
    if (size == dividerSize_) return;
    dividerSize_ = size;
    divider_.update({true, true, size, PaneLayout::dividerLabel, [this](double s, bool finished) {
                         const double proposed = PaneLayout::draggedPreferred(s, width_);
                         if (dragged) dragged(proposed, finished);
                     }});
}

// The columns' wrapped texts (the result column's note) need more lines the
// narrower their column: the height is asked for the width.
Gtk::SizeRequestMode OCRSplit::get_request_mode_vfunc() const { return Gtk::SizeRequestMode::HEIGHT_FOR_WIDTH; }

std::pair<int, int> OCRSplit::columnWidths(int width) const {
    int sourceMin = 0, resultMin = 0, nat = 0, b1 = -1, b2 = -1;
    sourceColumn_.measure(Gtk::Orientation::HORIZONTAL, -1, sourceMin, nat, b1, b2);
    resultColumn_.measure(Gtk::Orientation::HORIZONTAL, -1, resultMin, nat, b1, b2);
    const int divider = static_cast<int>(PaneLayout::dividerWidth);
    // The rule's width, rounded to whole pixels and kept inside what the
    // columns need when the split is given less than they ask for.
    int source = static_cast<int>(std::lround(PaneLayout::sourceWidth(preferred_, width)));
    source = std::max(sourceMin, std::min(source, width - divider - resultMin));
    return {source, std::max(0, width - source - divider)};
}

void OCRSplit::measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural,
                             int& minimumBaseline, int& naturalBaseline) const {
    minimumBaseline = naturalBaseline = -1;
    int sourceMin = 0, sourceNat = 0, resultMin = 0, resultNat = 0, dividerMin = 0, dividerNat = 0, b1 = -1, b2 = -1;
    int sourceFor = -1, resultFor = -1;
    if (orientation == Gtk::Orientation::VERTICAL && forSize >= 0) {
        std::tie(sourceFor, resultFor) = columnWidths(forSize);
    }
    sourceColumn_.measure(orientation, sourceFor, sourceMin, sourceNat, b1, b2);
    resultColumn_.measure(orientation, resultFor, resultMin, resultNat, b1, b2);
    divider_.measure(orientation, -1, dividerMin, dividerNat, b1, b2);
    if (orientation == Gtk::Orientation::HORIZONTAL) {
        // The owner gives the width; the columns say only what they cannot
        // do without.
        minimum = natural = sourceMin + dividerMin + resultMin;
        return;
    }
    minimum = natural = std::max({height_, sourceMin, resultMin, dividerMin});
}

void OCRSplit::size_allocate_vfunc(int width, int height, int) {
    width_ = width;
    const auto [source, result] = columnWidths(width);
    const int divider = static_cast<int>(PaneLayout::dividerWidth);
    source_ = source;
    result_ = result;
    sourceColumn_.size_allocate(Gtk::Allocation(0, 0, source, height), -1);
    divider_.size_allocate(Gtk::Allocation(source, 0, divider, height), -1);
    resultColumn_.size_allocate(Gtk::Allocation(source + divider, 0, result, height), -1);
    configureDivider();
}

}  // namespace velmora
