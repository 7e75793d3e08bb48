#include "ocrviews/ProgressColumns.hpp"

#include <gtk/gtk.h>
#include <gtkmm/snapshot.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <map>
#include <utility>

namespace velmora {

namespace {

// A line as tall as any the columns show: digits, and the kana and kanji
// of the states and of "不明", which another font may draw taller.
constexpr const char* sampleLine = "0 / 不明　処理中";

}  // namespace

ProgressColumns::ProgressColumns(const char* barName) : Glib::ObjectBase("VelmoraProgressColumns"), barName_(barName) {
    add_css_class("caption");
    signal_destroy().connect([this] { release(); });
}

ProgressColumns::~ProgressColumns() {
    if (gobj()) release();
}

void ProgressColumns::on_map() {
    // A row the list made is mapped before its first allocation, which
    // decides whether it is in sight: that one waits for it. A row that
    // comes into sight later has its bar before its children are mapped.
    if (allocated_) addBar();
    Gtk::Widget::on_map();
}

void ProgressColumns::addBar() {
    if (bar_) return;
    bar_ = Gtk::make_managed<Gtk::ProgressBar>();
    bar_->set_name(barName_);
    bar_->set_fraction(fraction_);
    bar_->set_parent(*this);
}

void ProgressColumns::release() {
    if (bar_) bar_->unparent();
    bar_ = nullptr;
}

void ProgressColumns::show(const std::string& pages, std::optional<double> fraction, const std::string& state) {
    bool redraw = false;
    if (pages != pages_) {
        pages_ = pages;
        pagesLayout_.reset();
        redraw = true;
    }
    if (state != state_) {
        state_ = state;
        stateLayout_.reset();
        redraw = true;
    }
    // A pulsing bar would redraw every frame for every such row in sight.
    fraction_ = fraction.value_or(0.0);
    if (bar_ && bar_->get_fraction() != fraction_) bar_->set_fraction(fraction_);
    // The size stays: only the texts are drawn again.
    if (redraw) queue_draw();
}

Gtk::SizeRequestMode ProgressColumns::get_request_mode_vfunc() const { return Gtk::SizeRequestMode::CONSTANT_SIZE; }

int ProgressColumns::textHeight() const {
    // Every row of the panel has the same font: its line is laid out once
    // per font, not once per row.
    static std::map<std::pair<std::string, double>, int> heights;
    auto context = const_cast<ProgressColumns*>(this)->get_pango_context();
    const Pango::FontDescription font = context->get_font_description();
    const std::pair key{font.to_string().raw(), pango_cairo_context_get_resolution(context->gobj())};
    if (auto at = heights.find(key); at != heights.end()) return at->second;
    int width = 0;
    int height = 0;
    const_cast<ProgressColumns*>(this)->create_pango_layout(sampleLine)->get_pixel_size(width, height);
    heights.emplace(key, height);
    return height;
}

int ProgressColumns::barHeight() const {
    if (!bar_) return 0;
    int minimum = 0, natural = 0, b1 = -1, b2 = -1;
    bar_->measure(Gtk::Orientation::VERTICAL, -1, minimum, natural, b1, b2);
    return natural;
}

void ProgressColumns::measure_vfunc(Gtk::Orientation orientation, int, int& minimum, int& natural,
                                    int& minimumBaseline, int& naturalBaseline) const {
    minimumBaseline = naturalBaseline = -1;
    if (orientation == Gtk::Orientation::HORIZONTAL) {
        minimum = natural = stateX + stateWidth;
        return;
    }
    minimum = natural = std::max(textHeight(), barHeight());
}

void ProgressColumns::size_allocate_vfunc(int, int height, int) {
    allocated_ = true;
    if (get_mapped()) addBar();
    if (!bar_) return;
    const int barTall = std::min(barHeight(), height);
    bar_->size_allocate(Gtk::Allocation(pagesWidth + spacing, (height - barTall) / 2, barWidth, barTall), -1);
}

void ProgressColumns::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
    const Gdk::RGBA colour = get_style_context()->get_color();
    const int height = get_height();
    auto draw = [&](Glib::RefPtr<Pango::Layout>& layout, const std::string& text, int x, bool right, int width) {
        if (text.empty()) return;
        if (!layout) layout = create_pango_layout(text);
        int wide = 0;
        int tall = 0;
        layout->get_pixel_size(wide, tall);
        // Each text centred on its own line, as a label of its own would be.
        const int left = right ? x + width - wide : x;
        const graphene_point_t at = GRAPHENE_POINT_INIT(static_cast<float>(left), static_cast<float>((height - tall) / 2));
        snapshot->save();
        gtk_snapshot_translate(snapshot->gobj(), &at);
        snapshot->append_layout(layout, colour);
        snapshot->restore();
    };
    draw(pagesLayout_, pages_, 0, true, pagesWidth);
    draw(stateLayout_, state_, stateX, false, stateWidth);
    if (bar_) snapshot_child(*bar_, snapshot);
}

}  // namespace velmora
