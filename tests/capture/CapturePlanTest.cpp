#include <gtest/gtest.h>

#include <sys/statvfs.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

#include "foundation/JSON.hpp"
#include "foundation/ProductBrand.hpp"
#include "history/CaptureLifecycle.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"
#include "capture/CapturePlan.hpp"
#include "capture/WebCaptureDiagnostic.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;
using Metric = WebCaptureDiagnosticMetric;
using Stage = WebCaptureDiagnosticStage;

namespace {

constexpr int64_t conservative = 805306368;
constexpr int64_t wholePage = 334579456;  // 780·6000·12 + 780·1600·8 + 256 MiB
constexpr int64_t viewportPart = 293395456;  // 780·1600·12 + 780·1600·8 + 256 MiB
// A part of a page over budget: the 784 rows one view yields clear of its
// edges (800 less the seam margin of 8 above and below).
constexpr int64_t innerPart = 293095936;  // 780·1568·12 + 780·1600·8 + 256 MiB

// A 390-wide page at scale 2 in an 800-high viewport.
CapturePlan::Inputs page(int64_t height, int64_t budget = conservative) {
    return CapturePlan::Inputs{390, 2, 800, height, 30000, budget};
}

class FixedFreeSpace : public FreeSpace {
public:
    explicit FixedFreeSpace(uint64_t bytes) : bytes_(bytes) {}
    uint64_t available(const SecureDirectory&) const override {
        ++asked;
        return bytes_;
    }
    mutable int asked = 0;

private:
    uint64_t bytes_;
};

const FixedFreeSpace plenty(uint64_t{1} << 40);

// A journal, a diagnostic and an output folder that does not exist yet.
class PlanStep : public ::testing::Test {
protected:
    test::TempDir tmp;
    fs::path output = tmp / "out" / "Screenshots";
    AppRuntime::ScopedOverride runtime{AppRuntime{tmp / "storage", tmp / "out"}};
    CaptureLifecycle journal{tmp / "storage" / "lifecycle"};
    std::vector<WebCaptureDiagnosticReport> delivered;
    // A clock that stands still: events of one stage are handed over once.
    WebCaptureDiagnostic diagnostic{[this](const WebCaptureDiagnosticReport& r) { delivered.push_back(r); },
                                    Json::object(), [] { return Date(std::chrono::seconds(1777627800)); }};

    std::vector<WebCaptureDiagnosticEvent> events() const { return diagnostic.report().events; }
    std::optional<int64_t> expectedOnDisk() const {
        auto j = JSON::parse(test::readFile(journal.directory().url() / CaptureLifecycle::journalName));
        return JSON::decode<CaptureLifecycle::Journal>(j).expectedCount;
    }
    static double value(const WebCaptureDiagnosticEvent& e, Metric m) {
        return e.values.at(std::string(rawValue(m)));
    }
};

}  // namespace

TEST(CapturePlan, WholePageWithinBudgetIsOnePart) {
    const CapturePlan p = CapturePlan::make(page(3000));
    EXPECT_EQ(p.pixelWidth, 780);
    EXPECT_EQ(p.viewportHeight, 800);
    EXPECT_EQ(p.estimatedBytes, wholePage);
    EXPECT_FALSE(p.split);
    EXPECT_EQ(p.partHeight, 3000);
    EXPECT_EQ(p.partCount, 1);
    EXPECT_EQ(p.splitReason(), std::nullopt);
    EXPECT_EQ(p.parts(), (std::vector<CapturePartSpan>{{0, 0, 3000}}));

    CaptureObservation seen;
    seen.canvasBytesPerRow = 3120;
    seen.observeTile(3120, 32);
    seen.observeTile(1560, 24);
    const auto plan = p.memoryPlan(seen);
    EXPECT_EQ(plan, (std::map<std::string, int64_t>{{"budgetBytes", conservative},
                                                    {"estimatedBytes", wholePage},
                                                    {"singleRGBASurfaceBytes", 780 * 6000 * 4},
                                                    {"estimatedSurfaceCopies", 3},
                                                    {"tileReserveBytes", 780 * 1600 * 8},
                                                    {"otherReserveBytes", 268435456},
                                                    {"observedCanvasBytesPerRow", 3120},
                                                    {"observedTileBytesPerRow", 3120},
                                                    {"observedTileBitsPerPixel", 32},
                                                    {"simultaneouslyRetainedTiles", 1}}));
    EXPECT_EQ(plan.at("singleRGBASurfaceBytes") * plan.at("estimatedSurfaceCopies") + plan.at("tileReserveBytes") +
                  plan.at("otherReserveBytes"),
              plan.at("estimatedBytes"));
}

TEST(CapturePlan, OverBudgetSplitsIntoViewportParts) {
    const CapturePlan p = CapturePlan::make(page(3000, 300000000));
    EXPECT_TRUE(p.split);
    EXPECT_EQ(p.splitReason(), std::optional<std::string>("memoryBudget"));
    EXPECT_EQ(p.partHeight, 784);
    EXPECT_EQ(p.partCount, 4);
    EXPECT_EQ(p.parts(), (std::vector<CapturePartSpan>{{0, 0, 784}, {1, 784, 784}, {2, 1568, 784}, {3, 2352, 648}}));
    // One tile per part.
    for (const auto& part : p.parts()) EXPECT_EQ(p.tiles(part).size(), 1u) << part.index;
    // The whole page's estimate is what the receipt reports, also when split.
    EXPECT_EQ(p.estimatedBytes, wholePage);
    EXPECT_EQ(p.memoryPlan({}).at("estimatedBytes"), wholePage);

    // The part's own estimate is the bar: at it the page is split, one byte
    // below it is refused.
    EXPECT_EQ(CapturePlan::make(page(3000, innerPart)).partCount, 4);
    EXPECT_EQ(caseOf([] { CapturePlan::make(page(3000, innerPart - 1)); }), ErrorCase::budgetExceeded);
    EXPECT_EQ(caseOf([] { CapturePlan::make(page(3000, 290000000)); }), ErrorCase::budgetExceeded);
    // A page no taller than the viewport over a part's estimate is refused.
    EXPECT_EQ(caseOf([] { CapturePlan::make(page(800, innerPart - 1)); }), ErrorCase::budgetExceeded);
    EXPECT_EQ(CapturePlan::make(page(800, viewportPart)).partCount, 1);
}

TEST(CapturePlan, LimitsOfThePageAndTheViewport) {
    EXPECT_EQ(CapturePlan::make(page(30000, int64_t{1} << 40)).partCount, 1);
    EXPECT_EQ(CapturePlan::make(page(30000)).partCount, 39);  // 38 × 784 + 208
    EXPECT_EQ(CapturePlan::make(page(30000)).part(38), (CapturePartSpan{38, 29792, 208}));
    EXPECT_EQ(caseOf([] { CapturePlan::make(page(30001, int64_t{1} << 40)); }), ErrorCase::budgetExceeded);
    EXPECT_EQ(caseOf([] { CapturePlan::make(page(0)); }), ErrorCase::budgetExceeded);
    EXPECT_EQ(caseOf([] { CapturePlan::make({0, 2, 800, 3000, 30000, conservative}); }), ErrorCase::budgetExceeded);

    // The viewport counts in whole pixels; none at all leaves no tile.
    EXPECT_EQ(CapturePlan::make({390, 1, 800.9, 3000, 30000, conservative}).viewportHeight, 800);
    for (double v : {0.0, 0.9, -5.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e300}) {
        EXPECT_EQ(caseOf([v] { CapturePlan::make({390, 1, v, 3000, 30000, conservative}); }),
                  ErrorCase::dimensionOverflow)
            << v;
    }
}

TEST(CapturePlan, TilesScrollTargetsAndPlacement) {
    // One part of 2000 rows, scale 1. The first tile stops 8 rows short of
    // the view's lower edge; the second is scrolled 8 rows above its top and
    // stops 8 short of the lower edge; the last cannot scroll that far, so
    // it lies lower in the view and runs to its end, the document's.
    const CapturePlan one = CapturePlan::make({390, 1, 800, 2000, 30000, conservative});
    EXPECT_EQ(one.margin, 8);
    const CapturePartSpan whole = one.part(0);
    const auto tiles = one.tiles(whole);
    EXPECT_EQ(tiles, (std::vector<CaptureTile>{{0, 792, 0}, {792, 784, 784}, {1576, 424, 1200}}));
    std::vector<TilePlacement> placed;
    for (const auto& t : tiles) placed.push_back(one.place(whole, t, t.scrollTarget, 390, 800));
    EXPECT_EQ(placed, (std::vector<TilePlacement>{{0, 0, 792}, {8, 792, 784}, {376, 1576, 424}}));

    // At scale 2 every figure is in device pixels.
    const CapturePlan two = CapturePlan::make({390, 2, 800, 2000, 30000, conservative});
    const auto tiles2 = two.tiles(two.part(0));
    EXPECT_EQ(two.place(two.part(0), tiles2[2], 1200, 780, 1600), (TilePlacement{752, 3152, 848}));

    // Parts of 784 and 416: the second part's one tile lies 384 rows down a
    // viewport scrolled to 400 and goes to the top of its own bitmap.
    const CapturePlan split = CapturePlan::make({390, 1, 800, 1200, 30000, 275000000});
    ASSERT_EQ(split.partCount, 2);
    const CapturePartSpan second = split.part(1);
    EXPECT_EQ(second, (CapturePartSpan{1, 784, 416}));
    EXPECT_EQ(split.tiles(second), (std::vector<CaptureTile>{{784, 416, 400}}));
    EXPECT_EQ(split.place(second, split.tiles(second)[0], 400, 390, 800), (TilePlacement{384, 0, 416}));

    // A page no higher than the view is one tile; a view too low for the
    // margin keeps at least a row per tile.
    const CapturePlan low = CapturePlan::make({390, 1, 800, 500, 30000, conservative});
    EXPECT_EQ(low.tiles(low.part(0)), (std::vector<CaptureTile>{{0, 500, 0}}));
    const CapturePlan tiny = CapturePlan::make({390, 1, 3, 10, 30000, conservative});
    EXPECT_EQ(tiny.margin, 1);
    EXPECT_EQ(tiny.tiles(tiny.part(0)),
              (std::vector<CaptureTile>{{0, 2, 0}, {2, 1, 1}, {3, 1, 2}, {4, 1, 3}, {5, 1, 4}, {6, 1, 5}, {7, 1, 6},
                                        {8, 2, 7}}));
    // Whatever the height, the tiles abut, cover their part and keep the
    // margin from every view edge that is not the document's.
    for (int64_t h : {1, 799, 800, 801, 1583, 1584, 1585, 9999}) {
        const CapturePlan p = CapturePlan::make({390, 1, 800, h, 30000, conservative});
        int64_t next = 0;
        for (const CaptureTile& t : p.tiles(p.part(0))) {
            EXPECT_EQ(t.top, next) << h;
            EXPECT_GE(t.rows, 1) << h;
            EXPECT_TRUE(t.scrollTarget == 0 || t.top - t.scrollTarget >= 8) << h << " " << t.top;
            EXPECT_TRUE(t.scrollTarget + 800 >= h || t.scrollTarget + 800 - (t.top + t.rows) >= 8) << h << " " << t.top;
            next = t.top + t.rows;
        }
        EXPECT_EQ(next, h);
    }
}

// The snapshot is the viewport: a tile that is not wholly in it would be
// silently wrong rows, so it is refused.
TEST(CapturePlan, TilesOutsideTheSnapshotAreRefused) {
    const CapturePlan p = CapturePlan::make({390, 2, 800, 2000, 30000, conservative});
    const CaptureTile last = p.tiles(p.part(0))[2];  // rows 1576..2000, target 1200

    // A page that went further than the target (it grew) still shows the
    // tile's rows, higher up in the viewport.
    EXPECT_EQ(p.place(p.part(0), last, 1300, 780, 1600), (TilePlacement{552, 3152, 848}));
    // One that stopped short pushes the tile's end out of the viewport.
    EXPECT_EQ(caseOf([&] { p.place(p.part(0), last, 1199, 780, 1600); }), ErrorCase::renderFailed);
    // A page that shrank after the plan cannot reach the target at all.
    EXPECT_EQ(caseOf([&] { p.place(p.part(0), last, 500, 780, 1600); }), ErrorCase::renderFailed);
    // Scrolled past the tile's top.
    const CaptureTile middle = p.tiles(p.part(0))[1];
    EXPECT_EQ(caseOf([&] { p.place(p.part(0), middle, 793, 780, 1600); }), ErrorCase::renderFailed);
    // A snapshot of another width, or shorter than the tile's end.
    EXPECT_EQ(caseOf([&] { p.place(p.part(0), last, 1200, 779, 1600); }), ErrorCase::renderFailed);
    EXPECT_EQ(caseOf([&] { p.place(p.part(0), last, 1200, 780, 1599); }), ErrorCase::renderFailed);
    EXPECT_EQ(p.place(p.part(0), last, 1200, 780, 1600), (TilePlacement{752, 3152, 848}));
}

// A page that got shorter below the rows taken keeps its tiles and ends
// its last part at the real end; one that grew, or that lost rows already
// taken, cannot be finished.
TEST(CapturePlan, AShorterPageEndsItsLastPartAtItsRealEnd) {
    const CapturePlan one = CapturePlan::make({390, 1, 800, 2000, 30000, conservative});
    const CapturePlan cut = one.shortened(800, 1970);
    EXPECT_EQ(cut.documentHeight, 1970);
    EXPECT_EQ(cut.plannedHeight, 2000);
    EXPECT_TRUE(cut.heightChanged());
    EXPECT_FALSE(one.heightChanged());
    EXPECT_EQ(cut.partCount, 1);
    EXPECT_EQ(cut.part(0), (CapturePartSpan{0, 0, 1970}));
    EXPECT_EQ(cut.tiles(cut.part(0)), (std::vector<CaptureTile>{{0, 792, 0}, {792, 784, 784}, {1576, 394, 1170}}));
    EXPECT_EQ(cut.tile(cut.part(0), 1600), (CaptureTile{1600, 370, 1170}));
    // The memory figures stay those of the plan that was checked.
    EXPECT_EQ(cut.memoryPlan({}).at("singleRGBASurfaceBytes"), 390 * 2000 * 4);
    EXPECT_EQ(cut.memoryPlan({}).at("estimatedBytes"), one.estimatedBytes);

    EXPECT_EQ(caseOf([&] { one.shortened(800, 2001); }), ErrorCase::renderFailed);
    EXPECT_EQ(caseOf([&] { one.shortened(800, 2000); }), ErrorCase::renderFailed);
    EXPECT_EQ(caseOf([&] { one.shortened(800, 800); }), ErrorCase::renderFailed);
    EXPECT_EQ(one.shortened(0, 1).documentHeight, 1);

    // Split into 784-row parts: a part at the end may go away.
    const CapturePlan split = CapturePlan::make({390, 1, 800, 3000, 30000, 280000000});
    ASSERT_EQ(split.partCount, 4);
    const CapturePlan fewer = split.shortened(1600, 2300);
    EXPECT_EQ(fewer.partCount, 3);
    EXPECT_EQ(fewer.part(2), (CapturePartSpan{2, 1568, 732}));
    EXPECT_EQ(fewer.splitReason(), std::optional<std::string>("memoryBudget"));
}

TEST_F(PlanStep, RecordsAnnouncesAndOpensTheOutputFolder) {
    FixedFreeSpace space(uint64_t{1} << 40);
    const PlannedCapture planned = planCapture(page(3000, 300000000), &diagnostic, &journal, output, space);
    EXPECT_EQ(planned.plan.partCount, 4);
    EXPECT_EQ(planned.output.url(), output);
    EXPECT_TRUE(fs::is_directory(output));
    EXPECT_EQ(space.asked, 1);
    EXPECT_EQ(journal.journal().expectedCount, std::optional<int64_t>(4));
    EXPECT_EQ(expectedOnDisk(), std::optional<int64_t>(4));

    const auto e = events();
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].stage, Stage::plan);
    EXPECT_EQ(e[0].values.size(), 5u);
    EXPECT_EQ(value(e[0], Metric::documentHeight), 3000);
    // The view's inner width, and the width planned: the layout's.
    EXPECT_EQ(value(e[0], Metric::innerWidth), 390);
    EXPECT_EQ(value(e[0], Metric::clientWidth), 390);
    EXPECT_EQ(value(e[0], Metric::scale), 2);
    EXPECT_EQ(value(e[0], Metric::viewportHeight), 800);
    EXPECT_EQ(e[1].stage, Stage::plan);
    EXPECT_EQ(e[1].values.size(), 3u);
    EXPECT_EQ(value(e[1], Metric::partCount), 4);
    EXPECT_EQ(value(e[1], Metric::budgetBytes), 300000000);
    EXPECT_EQ(value(e[1], Metric::estimatedBytes), wholePage);
    EXPECT_EQ(e[2].stage, Stage::destination);
    EXPECT_TRUE(e[2].values.empty());
    // The second plan event reaches the sink with the destination's: each
    // stage is handed over as it is entered.
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].events.size(), 1u);
    EXPECT_EQ(delivered[1], diagnostic.report());

    // Without a diagnostic or a journal the plan is the same.
    const PlannedCapture bare = planCapture(page(3000, 300000000), nullptr, nullptr, tmp / "bare", space);
    EXPECT_EQ(bare.plan.parts(), planned.plan.parts());
    EXPECT_EQ(bare.plan.memoryPlan({}), planned.plan.memoryPlan({}));
    EXPECT_EQ(delivered.size(), 2u);
}

TEST_F(PlanStep, RefusalComesBeforeTheJournalAndTheFolder) {
    EXPECT_EQ(caseOf([&] { planCapture(page(3000, 290000000), &diagnostic, &journal, output, plenty); }),
              ErrorCase::budgetExceeded);
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(tmp / "out"));
    EXPECT_EQ(journal.journal().expectedCount, std::nullopt);
    // Only the first plan event: the page's measurements, before the refusal.
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(diagnostic.stage(), Stage::plan);

    EXPECT_EQ(caseOf([&] { planCapture(page(30001), &diagnostic, &journal, output, plenty); }),
              ErrorCase::budgetExceeded);
    EXPECT_EQ(caseOf([&] { planCapture({390, 2, 0, 3000, 30000, conservative}, nullptr, &journal, output, plenty); }),
              ErrorCase::dimensionOverflow);
    EXPECT_FALSE(fs::exists(output));
    EXPECT_EQ(journal.journal().expectedCount, std::nullopt);
}

TEST_F(PlanStep, FreeSpaceMustExceedTheWholePageEstimate) {
    const FixedFreeSpace exact(wholePage);
    EXPECT_EQ(caseOf([&] { planCapture(page(3000, 300000000), &diagnostic, &journal, output, exact); }),
              ErrorCase::saveFailed);
    // The folder is made and the journal told before the space is known.
    EXPECT_TRUE(fs::is_directory(output));
    EXPECT_EQ(journal.journal().expectedCount, std::optional<int64_t>(4));
    EXPECT_EQ(events().back().stage, Stage::destination);

    const FixedFreeSpace oneMore(wholePage + 1);
    EXPECT_EQ(planCapture(page(3000), nullptr, nullptr, output, oneMore).plan.partCount, 1);

    // An output path that is a file is the folder's own error.
    test::writeFile(tmp / "file", "x");
    EXPECT_EQ(caseOf([&] { planCapture(page(3000), nullptr, nullptr, tmp / "file", plenty); }),
              ErrorCase::unsafePath);
}

TEST(FreeSpace, SystemFigureIsTheVolumesSpaceForOrdinaryWriters) {
    test::TempDir tmp;
    SecureDirectory dir(tmp.path(), false);
    struct statvfs st {};
    ASSERT_EQ(::statvfs(tmp.path().c_str(), &st), 0);
    const uint64_t expected = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    const uint64_t measured = FreeSpace::system().available(dir);
    EXPECT_GT(measured, 0u);
    // Other writers share the volume; the two readings are close, not equal.
    const uint64_t slack = uint64_t{256} << 20;
    EXPECT_LT(measured > expected ? measured - expected : expected - measured, slack);
}
