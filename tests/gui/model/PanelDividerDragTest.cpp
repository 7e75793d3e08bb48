#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "gui/PanelDividerDrag.hpp"

// The divider's drag without a display: the sizes it proposes for pointer
// positions in window coordinates (y pointing down), and when it proposes
// none.

using namespace velmora;

namespace {

using Report = std::pair<double, bool>;

struct Recorder {
    std::vector<Report> reports;
    PanelDividerDrag::Changed callback() {
        return [this](double size, bool finished) { reports.emplace_back(size, finished); };
    }
};

PanelDividerDrag divider(bool vertical, double size, Recorder& recorder) {
    PanelDividerDrag drag;
    drag.vertical = vertical;
    drag.panelSize = size;
    drag.changed = recorder.callback();
    return drag;
}

}  // namespace

TEST(PanelDividerDrag, AVerticalDividerGrowsItsPanelAsThePointerMovesLeft) {
    Recorder left;
    auto drag = divider(true, 320, left);
    drag.press({500, 200});
    EXPECT_TRUE(drag.dragging());
    EXPECT_EQ(drag.initial(), 320);
    drag.drag({490, 210});
    drag.drag({460, 180});
    drag.release({460, 180});
    EXPECT_EQ(left.reports, (std::vector<Report>{{330, false}, {360, false}, {360, true}}));
    EXPECT_FALSE(drag.dragging());

    Recorder right;
    drag = divider(true, 320, right);
    drag.press({500, 200});
    drag.drag({540, 100});
    drag.release({540, 100});
    EXPECT_EQ(right.reports, (std::vector<Report>{{280, false}, {280, true}}));

    // Neither rounded nor clamped: a fraction, and past nothing.
    Recorder far;
    drag = divider(true, 320, far);
    drag.press({0.5, 0});
    drag.release({1000.25, 0});
    EXPECT_EQ(far.reports, (std::vector<Report>{{-679.75, true}}));
}

TEST(PanelDividerDrag, AHorizontalDividerGrowsItsPanelAsThePointerMovesUp) {
    Recorder up;
    auto drag = divider(false, 300, up);
    drag.press({100, 400});
    drag.drag({300, 350});  // sideways does not count
    drag.release({300, 350});
    EXPECT_EQ(up.reports, (std::vector<Report>{{350, false}, {350, true}}));

    Recorder down;
    drag = divider(false, 300, down);
    drag.press({100, 400});
    drag.release({100, 430});
    EXPECT_EQ(down.reports, (std::vector<Report>{{270, true}}));
}

TEST(PanelDividerDrag, APressAndReleaseInPlaceReportsTheSizeOnceAsFinished) {
    Recorder recorder;
    auto drag = divider(true, 320, recorder);
    drag.press({10, 10});
    drag.release({10, 10});
    EXPECT_EQ(recorder.reports, (std::vector<Report>{{320, true}}));
}

TEST(PanelDividerDrag, ADragStartsFromTheSizeAtItsPressNotFromLaterUpdates) {
    Recorder recorder;
    auto drag = divider(true, 320, recorder);
    drag.press({500, 0});
    // The receiver stores each size and updates the divider with it, as a
    // split does while it follows the drag.
    drag.panelSize = 330;
    drag.drag({480, 0});
    drag.panelSize = 340;
    drag.release({470, 0});
    EXPECT_EQ(recorder.reports, (std::vector<Report>{{340, false}, {350, true}}));

    // The next drag starts from the size the last update gave.
    recorder.reports.clear();
    drag.press({470, 0});
    drag.release({460, 0});
    EXPECT_EQ(recorder.reports, (std::vector<Report>{{350, true}}));
}

TEST(PanelDividerDrag, ADisabledDividerNeverReports) {
    Recorder recorder;
    auto drag = divider(true, 320, recorder);
    drag.enabled = false;
    drag.press({500, 0});
    EXPECT_FALSE(drag.dragging());
    drag.drag({400, 0});
    drag.release({400, 0});
    EXPECT_TRUE(recorder.reports.empty());

    // Disabled in the middle of a drag: the drag ends at the next event
    // without a report, and no finished report follows.
    drag.enabled = true;
    drag.press({500, 0});
    drag.drag({490, 0});
    drag.enabled = false;
    drag.drag({480, 0});
    EXPECT_FALSE(drag.dragging());
    drag.enabled = true;
    drag.drag({470, 0});
    drag.release({470, 0});
    EXPECT_EQ(recorder.reports, (std::vector<Report>{{330, false}}));
}

TEST(PanelDividerDrag, WithoutAReceiverADragReportsNothingAndKeepsItsOrigin) {
    PanelDividerDrag drag;
    drag.press({500, 40});
    drag.drag({450, 40});
    ASSERT_TRUE(drag.dragging());
    EXPECT_EQ(drag.origin()->x, 500);
    EXPECT_EQ(drag.origin()->y, 40);

    // A receiver given in the middle of the drag gets the rest of it, from
    // the same origin.
    Recorder late;
    drag.changed = late.callback();
    drag.release({440, 40});
    EXPECT_EQ(late.reports, (std::vector<Report>{{380, true}}));
    EXPECT_FALSE(drag.dragging());
}

TEST(PanelDividerDrag, AReceiverMayReplaceItselfWhileItRuns) {
    Recorder second;
    PanelDividerDrag drag;
    int first = 0;
    drag.changed = [&](double, bool) {
        ++first;
        drag.changed = second.callback();
    };
    drag.press({0, 0});
    drag.drag({-5, 0});
    drag.release({-10, 0});
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second.reports, (std::vector<Report>{{330, true}}));
}
