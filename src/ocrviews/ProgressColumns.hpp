#pragma once

#include <optional>
#include <string>

#include <gtkmm/progressbar.h>
#include <gtkmm/widget.h>
#include <pangomm/layout.h>

namespace velmora {

// The progress of one input of the queue panel in three columns of fixed
// widths: the pages done of all ("2 / 5") set to the right, the toolkit's
// own bar, and the state's name ("処理中"), never cut.
//
// A list of the toolkit keeps about two hundred rows built however few can
// be seen, so every widget and every laid-out text of a row is paid two
// hundred times before the first frame. Here the two texts are drawn, not
// held by labels: the widget asks for a constant size read once per font
// from a sample line (no text of its own is laid out to measure it), and a
// text is shaped only when its row is drawn. The bar is the toolkit's, so
// that the theme draws it as every other bar, but it is made only when the
// row is first shown on screen; it is thinner than the texts, so the size
// is the same with or without it.
class ProgressColumns : public Gtk::Widget {
public:
    static constexpr int pagesWidth = 64;
    static constexpr int barWidth = 100;
    // Wide enough for the longest state's name.
    static constexpr int stateWidth = 120;
    static constexpr int spacing = 6;

    // barName names the bar, for tests and the accessibility tree.
    explicit ProgressColumns(const char* barName);
    ~ProgressColumns() override;

    // A count not yet known (no fraction) shows an empty bar.
    void show(const std::string& pages, std::optional<double> fraction, const std::string& state);

    // What the columns show now.
    const std::string& pages() const { return pages_; }
    const std::string& state() const { return state_; }
    // The pages done, 0…1, as the bar shows it once the row is on screen.
    double fraction() const { return fraction_; }
    // The bar, once the row has been on screen; null before.
    Gtk::ProgressBar* bar() { return bar_; }
    // Where the state's column starts, from the widget's left edge.
    static constexpr int stateX = pagesWidth + spacing + barWidth + spacing;

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override;
    void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural, int& minimumBaseline,
                       int& naturalBaseline) const override;
    void size_allocate_vfunc(int width, int height, int baseline) override;
    void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;
    void on_map() override;

private:
    int textHeight() const;
    int barHeight() const;
    void release();
    void addBar();

    const char* barName_;
    Gtk::ProgressBar* bar_ = nullptr;
    double fraction_ = 0;
    bool allocated_ = false;
    std::string pages_;
    std::string state_;
    // Made when first drawn and kept while the text stays.
    Glib::RefPtr<Pango::Layout> pagesLayout_;
    Glib::RefPtr<Pango::Layout> stateLayout_;
};

}  // namespace velmora
