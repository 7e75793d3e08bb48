#include <gtest/gtest.h>

#include <gdkmm/cursor.h>
#include <gtkmm/box.h>
#include <gtkmm/window.h>

#include <utility>
#include <vector>

#include "gui/PanelDivider.hpp"
#include "support/MainLoop.hpp"
#include "support/gui/Pointer.hpp"

// The divider as a real widget under Xvfb: dragged with the display's own
// pointer (xdotool), between a filler and a panel that follows each
// reported size, as a split does. The divider moves under the pointer while
// it is dragged; the reports must not feel that.

using namespace velmora;
using namespace std::chrono_literals;
using test::spinUntil;

namespace {

using Report = std::pair<double, bool>;

class Split {
public:
    explicit Split(bool vertical, double size)
        : box_(vertical ? Gtk::Orientation::HORIZONTAL : Gtk::Orientation::VERTICAL), vertical_(vertical),
          size_(size) {
        filler_.set_hexpand(true);
        filler_.set_vexpand(true);
        box_.append(filler_);
        box_.append(divider);
        box_.append(panel_);
        window_.set_child(box_);
        window_.set_default_size(900, 700);
        resize(size);
        window_.present();
    }
    ~Split() { window_.destroy(); }

    bool shown() {
        return spinUntil([&] { return divider.get_mapped() && divider.get_width() > 0 && divider.get_height() > 0; });
    }
    void resize(double size) {
        size_ = size;
        if (vertical_) panel_.set_size_request(static_cast<int>(size), -1);
        else panel_.set_size_request(-1, static_cast<int>(size));
        divider.update({vertical_, enabled, size_, PanelDivider::defaultLabel, [this](double value, bool finished) {
                            reports.emplace_back(value, finished);
                            resize(value);
                        }});
    }

    PanelDivider divider;
    bool enabled = true;
    std::vector<Report> reports;

private:
    Gtk::Window window_;
    Gtk::Box box_;
    Gtk::Box filler_;
    Gtk::Box panel_;
    bool vertical_;
    double size_;
};

test::WindowPoint shifted(test::WindowPoint point, int dx, int dy) {
    point.x += dx;
    point.y += dy;
    return point;
}

// The reports of one drag: some intermediate ones (the toolkit may merge
// moves), all unfinished, then the finished one.
void expectDrag(const std::vector<Report>& reports, double last) {
    ASSERT_GE(reports.size(), 2u);
    for (std::size_t i = 0; i + 1 < reports.size(); ++i) EXPECT_FALSE(reports[i].second) << i;
    EXPECT_EQ(reports[reports.size() - 2].first, last);
    EXPECT_EQ(reports.back(), (Report{last, true}));
}

}  // namespace

TEST(PanelDivider, ARealDragOfAVerticalDividerReportsThePanelGrowingLeftwards) {
    Split split(true, 320);
    ASSERT_TRUE(split.shown());
    const auto start = test::centreOf(split.divider);
    ASSERT_NE(start.window, 0u);
    ASSERT_TRUE(test::pointerPress(start));
    ASSERT_TRUE(spinUntil([&] { return split.divider.drag().dragging(); }));
    ASSERT_TRUE(test::pointerMove(shifted(start, -20, 5)));
    ASSERT_TRUE(spinUntil([&] { return !split.reports.empty() && split.reports.back().first == 340; }));
    ASSERT_TRUE(test::pointerMove(shifted(start, -40, 0)));
    ASSERT_TRUE(spinUntil([&] { return split.reports.back().first == 360; }));
    ASSERT_TRUE(test::pointerRelease());
    ASSERT_TRUE(spinUntil([&] { return split.reports.back().second; }));
    expectDrag(split.reports, 360);
    EXPECT_FALSE(split.divider.drag().dragging());
    // The panel followed, and the divider with it.
    ASSERT_TRUE(spinUntil([&] { return test::centreOf(split.divider).x == start.x - 40; }));

    // Back 40 to the right from where it now stands.
    split.reports.clear();
    const auto moved = test::centreOf(split.divider);
    ASSERT_TRUE(test::pointerPress(moved));
    ASSERT_TRUE(spinUntil([&] { return split.divider.drag().dragging(); }));
    ASSERT_TRUE(test::pointerMove(shifted(moved, 40, 0)));
    ASSERT_TRUE(spinUntil([&] { return !split.reports.empty() && split.reports.back().first == 320; }));
    ASSERT_TRUE(test::pointerRelease());
    ASSERT_TRUE(spinUntil([&] { return split.reports.back().second; }));
    expectDrag(split.reports, 320);

    // A press and a release in place: the size once, finished.
    split.reports.clear();
    const auto here = test::centreOf(split.divider);
    ASSERT_TRUE(test::pointerPress(here));
    ASSERT_TRUE(spinUntil([&] { return split.divider.drag().dragging(); }));
    ASSERT_TRUE(test::pointerRelease());
    ASSERT_TRUE(spinUntil([&] { return !split.reports.empty(); }));
    test::spinFor(50ms);
    EXPECT_EQ(split.reports, (std::vector<Report>{{320, true}}));
}

TEST(PanelDivider, ARealDragOfAHorizontalDividerReportsThePanelGrowingUpwards) {
    Split split(false, 300);
    ASSERT_TRUE(split.shown());
    const auto start = test::centreOf(split.divider);
    ASSERT_TRUE(test::pointerPress(start));
    ASSERT_TRUE(spinUntil([&] { return split.divider.drag().dragging(); }));
    ASSERT_TRUE(test::pointerMove(shifted(start, 30, -25)));
    ASSERT_TRUE(spinUntil([&] { return !split.reports.empty() && split.reports.back().first == 325; }));
    ASSERT_TRUE(test::pointerMove(shifted(start, 30, -50)));
    ASSERT_TRUE(spinUntil([&] { return split.reports.back().first == 350; }));
    ASSERT_TRUE(test::pointerRelease());
    ASSERT_TRUE(spinUntil([&] { return split.reports.back().second; }));
    expectDrag(split.reports, 350);
}

TEST(PanelDivider, ADisabledDividerShowsTheArrowAndNeverReports) {
    Split split(true, 320);
    split.enabled = false;
    split.resize(320);
    ASSERT_TRUE(split.shown());
    const auto start = test::centreOf(split.divider);
    ASSERT_TRUE(test::pointerPress(start));
    ASSERT_TRUE(test::pointerMove(shifted(start, -40, 0)));
    ASSERT_TRUE(test::pointerRelease());
    test::spinFor(200ms);
    EXPECT_TRUE(split.reports.empty());
    EXPECT_FALSE(split.divider.drag().dragging());

    // Disabled in the middle of a real drag: no further report, none
    // finished.
    split.enabled = true;
    split.resize(320);
    const auto again = test::centreOf(split.divider);
    ASSERT_TRUE(test::pointerPress(again));
    ASSERT_TRUE(spinUntil([&] { return split.divider.drag().dragging(); }));
    ASSERT_TRUE(test::pointerMove(shifted(again, -10, 0)));
    ASSERT_TRUE(spinUntil([&] { return !split.reports.empty(); }));
    split.enabled = false;
    split.resize(split.reports.back().first);
    ASSERT_TRUE(test::pointerMove(shifted(again, -30, 0)));
    ASSERT_TRUE(spinUntil([&] { return !split.divider.drag().dragging(); }));
    ASSERT_TRUE(test::pointerRelease());
    test::spinFor(100ms);
    ASSERT_FALSE(split.reports.empty());
    for (const auto& report : split.reports) {
        EXPECT_EQ(report.first, 330);
        EXPECT_FALSE(report.second);
    }
}

TEST(PanelDivider, TheCursorLabelAndTooltipFollowTheOwnersValues) {
    PanelDivider divider;
    auto cursor = [&] { return divider.get_cursor() ? std::string(divider.get_cursor()->get_name()) : ""; };
    EXPECT_EQ(cursor(), "col-resize");
    EXPECT_EQ(divider.label(), "Web表示と操作パネルのサイズを変更");
    EXPECT_EQ(divider.get_tooltip_text(), "ドラッグして操作パネルのサイズを変更（保存処理中は固定）");

    divider.update({false, true, 300, "原稿とOCR結果のサイズを変更", {}});
    EXPECT_EQ(cursor(), "row-resize");
    EXPECT_EQ(divider.label(), "原稿とOCR結果のサイズを変更");
    divider.update({false, false, 300, PanelDivider::defaultLabel, {}});
    EXPECT_EQ(cursor(), "default");
    divider.update({true, false, 300, PanelDivider::defaultLabel, {}});
    EXPECT_EQ(cursor(), "default");
    divider.update({true, true, 300, PanelDivider::defaultLabel, {}});
    EXPECT_EQ(cursor(), "col-resize");
    // The tooltip is the same for every divider.
    EXPECT_EQ(divider.get_tooltip_text(), PanelDivider::tooltip);

    // Thick across its line only.
    int minimum = 0, natural = 0, mb = 0, nb = 0;
    divider.measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, mb, nb);
    EXPECT_EQ(minimum, PanelDivider::thickness);
    divider.measure(Gtk::Orientation::VERTICAL, -1, minimum, natural, mb, nb);
    EXPECT_EQ(minimum, 0);
    divider.update({false, true, 300, PanelDivider::defaultLabel, {}});
    divider.measure(Gtk::Orientation::VERTICAL, -1, minimum, natural, mb, nb);
    EXPECT_EQ(minimum, PanelDivider::thickness);
}
