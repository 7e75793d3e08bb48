#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

#include "browser/BrowserDownload.hpp"
#include "workspace/web/WebPaneRules.hpp"

// The web pane's rules without a display: the split between page and
// panel, a drag of the divider, each tab's web view size, the address bar,
// and what the download list and its rows read.

using namespace velmora;
namespace Rules = WebPaneRules;
using Panel = AppPreferences::Panel;

TEST(WebPaneRules, TheSplitGivesThePanelItsClampedSizeAndThePageTheRest) {
    // 392 remain after the divider: the panel gets half, the page reserve
    // of 360 cannot be kept.
    EXPECT_EQ(Rules::split(320, 400, Panel::right), (Rules::Split{196, 8, 196}));
    EXPECT_EQ(Rules::split(2000, 400, Panel::right), (Rules::Split{196, 8, 196}));
    // 1192 less the reserve of 360.
    EXPECT_EQ(Rules::split(1000, 1200, Panel::right), (Rules::Split{360, 8, 832}));
    EXPECT_EQ(Rules::split(340, 1200, Panel::right), (Rules::Split{852, 8, 340}));
    EXPECT_EQ(Rules::split(330, 700, Panel::bottom), (Rules::Split{362, 8, 330}));
    EXPECT_EQ(Rules::split(50, 700, Panel::bottom), (Rules::Split{512, 8, 180}));
    // An area smaller than divider and panel leaves the page nothing, never
    // a negative length; a fraction of a pixel is the panel's.
    EXPECT_EQ(Rules::split(320, 5, Panel::right).web, 0);
    EXPECT_EQ(Rules::split(320.6, 1200, Panel::right), (Rules::Split{871, 8, 321}));
    EXPECT_EQ(Rules::split(320, std::numeric_limits<double>::infinity(), Panel::right).web, 0);
}

TEST(WebPaneRules, ThePanelAtTheBottomGivesWayForHalfTheWindow) {
    // An 850-high window: the page keeps 425 of a split of 620, the panel
    // what is left after the divider.
    EXPECT_EQ(Rules::webFloor(Panel::bottom, 850), 425);
    EXPECT_EQ(Rules::webFloor(Panel::right, 850), 0) << "beside the page, the panel takes no height from it";
    EXPECT_EQ(Rules::split(300, 620, Panel::bottom, 425), (Rules::Split{425, 8, 187}));
    EXPECT_EQ(Rules::split(150, 620, Panel::bottom, 425), (Rules::Split{432, 8, 180})) << "never above its size";
    // A tall window keeps the panel's own size.
    EXPECT_EQ(Rules::split(300, 1200, Panel::bottom, Rules::webFloor(Panel::bottom, 1400)), (Rules::Split{892, 8, 300}));
    // A low one gives way only down to the panel's least useful height.
    EXPECT_EQ(Rules::split(300, 400, Panel::bottom, 300), (Rules::Split{300, 8, 92}));
    EXPECT_EQ(Rules::split(300, 300, Panel::bottom, 300), (Rules::Split{212, 8, 80}));
    // The drag is clamped alike.
    EXPECT_EQ(Rules::draggedSize(500, 620, Panel::bottom, false, false, 425), 187);
    EXPECT_EQ(Rules::draggedSize(500, 620, Panel::bottom, false, false), 372);
}

TEST(WebPaneRules, TheDownloadListStandsOpenWhileADownloadRuns) {
    EXPECT_TRUE(Rules::downloadsOpen(true));
    EXPECT_FALSE(Rules::downloadsOpen(false));
}

TEST(WebPaneRules, ADragIsClampedLikeTheSplitAndDroppedWhileTheWindowSavesOrCloses) {
    EXPECT_EQ(Rules::draggedSize(360, 1200, Panel::right, false, false), 360);
    EXPECT_EQ(Rules::draggedSize(1000, 1200, Panel::right, false, false), 832);
    EXPECT_EQ(Rules::draggedSize(10, 1200, Panel::right, false, false), 320);
    EXPECT_EQ(Rules::draggedSize(-40, 700, Panel::bottom, false, false), 300) << "no size of its own: the default";
    EXPECT_EQ(Rules::draggedSize(360, 1200, Panel::right, true, false), std::nullopt);
    EXPECT_EQ(Rules::draggedSize(360, 1200, Panel::right, false, true), std::nullopt);
    EXPECT_TRUE(Rules::dividerEnabled(false, false));
    EXPECT_FALSE(Rules::dividerEnabled(true, false));
    EXPECT_FALSE(Rules::dividerEnabled(false, true));
}

TEST(WebPaneRules, AWebViewFollowsTheWidthRulesNeverGoesBelow240AndKeepsALockedSize) {
    // Width rules: the current width follows the area (at least 280), a
    // custom width is clamped to 280...4096, anything else is the mobile
    // width.
    EXPECT_EQ(Rules::surfaceSize(std::nullopt, "mobile", 1440, 390, 1000, 600), (Size{390, 600}));
    EXPECT_EQ(Rules::surfaceSize(std::nullopt, "current", 1440, 390, 1000, 600), (Size{1000, 600}));
    EXPECT_EQ(Rules::surfaceSize(std::nullopt, "current", 1440, 390, 200, 600), (Size{280, 600}));
    EXPECT_EQ(Rules::surfaceSize(std::nullopt, "custom", 4096, 390, 700, 600), (Size{4096, 600}));
    EXPECT_EQ(Rules::surfaceSize(std::nullopt, "custom", 9000, 390, 700, 600), (Size{4096, 600}));
    EXPECT_EQ(Rules::surfaceSize(std::nullopt, "unknown", 1440, 375, 700, 600), (Size{375, 600}));
    // However low the area, a page is laid out at least 240 high.
    EXPECT_EQ(Rules::surfaceSize(std::nullopt, "mobile", 1440, 390, 1000, 120), (Size{390, 240}));
    EXPECT_EQ(Rules::surfaceSize(std::nullopt, "mobile", 1440, 390, 1000, 0), (Size{390, 240}));
    // A running save's size, whatever the area and the options.
    EXPECT_EQ(Rules::surfaceSize(Size{430, 180}, "current", 1440, 390, 1000, 600), (Size{430, 180}));
}

TEST(WebPaneRules, TheAddressBarIsWhollyOffDuringASaveOrACloseWhateverTheControlsSay) {
    const Rules::AddressBar idle = Rules::addressBar({});
    EXPECT_EQ(idle, (Rules::AddressBar{true, false, false, false}));
    EXPECT_EQ(Rules::addressBar({.canGoBack = true, .loading = true}), (Rules::AddressBar{true, true, false, true}));
    EXPECT_EQ(Rules::addressBar({.canGoForward = true}), (Rules::AddressBar{true, false, true, false}));
    EXPECT_FALSE(Rules::addressBar({.pending = true, .canGoBack = true, .loading = true}).row);
    EXPECT_FALSE(Rules::addressBar({.closing = true}).row);
}

TEST(WebPaneRules, TheDownloadListCaptionAndByteCounts) {
    EXPECT_EQ(Rules::downloadsCaptionFor(false, true), std::nullopt);
    EXPECT_EQ(Rules::downloadsCaptionFor(true, true), std::nullopt);
    EXPECT_EQ(Rules::downloadsCaptionFor(false, false), "このタブのダウンロード");
    EXPECT_EQ(Rules::downloadsCaptionFor(true, false), "この私用タブのダウンロード（明示保存したファイルは残ります）");

    // Sizes as people read them: KB, MB and GB of 1024, one decimal below
    // ten.
    EXPECT_EQ(Rules::sizeText(0), "0 B");
    EXPECT_EQ(Rules::sizeText(1023), "1023 B");
    EXPECT_EQ(Rules::sizeText(1024), "1.0 KB");
    EXPECT_EQ(Rules::sizeText(182734), "178 KB");
    EXPECT_EQ(Rules::sizeText(10230), "10 KB") << "9.99 rounds up to a whole 10";
    EXPECT_EQ(Rules::sizeText(3700000), "3.5 MB");
    EXPECT_EQ(Rules::sizeText(5000000), "4.8 MB");
    EXPECT_EQ(Rules::sizeText(5242880), "5.0 MB");
    EXPECT_EQ(Rules::sizeText(int64_t{256} << 20), "256 MB");
    EXPECT_EQ(Rules::sizeText(int64_t{5} << 32), "20 GB");
    EXPECT_EQ(Rules::sizeText(std::numeric_limits<int64_t>::max()), "8.0 EB");
    EXPECT_EQ(Rules::bytesText(1024, 4096), "1.0 KB / 4.0 KB");
    EXPECT_EQ(Rules::bytesText(0, 4096), "0 B / 4.0 KB");
    EXPECT_EQ(Rules::bytesText(0, std::nullopt), "0 B（総量未確定）");
    EXPECT_EQ(Rules::bytesText(3700000, 5000000), "3.5 MB / 4.8 MB");
    EXPECT_EQ(Rules::bytesText(786432, std::nullopt), "768 KB（総量未確定）");
}

TEST(WebPaneRules, ARowShowsTheNameItsFileWasSavedAs) {
    // Offered as 大きなデータ.bin, saved beside earlier ones as -2.
    const auto saved = Rules::row({.name = "大きなデータ.bin", .savedName = "大きなデータ-2.bin", .state = "保存完了",
                                   .hasOutput = true});
    EXPECT_EQ(saved.name, "大きなデータ-2.bin");
    const auto running = Rules::row({.name = "大きなデータ.bin", .state = "受信中", .active = true});
    EXPECT_EQ(running.name, "大きなデータ.bin") << "the offered name until there is a file";
}

TEST(WebPaneRules, ARowShowsBytesAndCancelWhileActiveAndRevealOnlyWithAFile) {
    using State = BrowserDownload::State;
    for (State state : {State::destination, State::receiving, State::cancelling, State::committing, State::completed,
                        State::cancelled, State::failed}) {
        const bool active = state == State::destination || state == State::receiving ||
                            state == State::cancelling || state == State::committing;
        const auto row = Rules::row({.name = "report.pdf",
                                     .state = rawValue(state),
                                     .active = active,
                                     .received = 1024,
                                     .expected = 4096,
                                     .hasOutput = state == State::completed,
                                     .notice = ""});
        EXPECT_EQ(row.state, rawValue(state));
        EXPECT_EQ(row.bytes.has_value(), active) << row.state;
        EXPECT_EQ(row.cancel, active) << row.state;
        EXPECT_EQ(row.reveal, state == State::completed) << row.state;
        EXPECT_EQ(row.notice, std::nullopt);
        if (active) {
            EXPECT_EQ(*row.bytes, "1.0 KB / 4.0 KB");
        }
    }
    Rules::RowFacts facts;
    facts.name = "a.bin";
    facts.state = "保存できませんでした";
    facts.notice = "保存先を選び直してください。";
    const auto failed = Rules::row(facts);
    EXPECT_EQ(failed.notice, "保存先を選び直してください。");
    EXPECT_FALSE(failed.reveal);
}

TEST(WebPaneRules, ARunningDownloadHasABarFilledByItsShareOrPulsingAndAFailureReadsAsAnError) {
    const auto known = Rules::row({.name = "guide.pdf", .state = "受信中", .active = true, .received = 1310720,
                                   .expected = 5242880});
    EXPECT_TRUE(known.progress);
    ASSERT_TRUE(known.fraction.has_value());
    EXPECT_DOUBLE_EQ(*known.fraction, 0.25);
    EXPECT_FALSE(known.failed);

    // Without a total, or with a total of nothing, the bar has no share to
    // show: it pulses.
    const auto unknown = Rules::row({.name = "map.zip", .state = "受信中", .active = true, .received = 786432});
    EXPECT_TRUE(unknown.progress);
    EXPECT_EQ(unknown.fraction, std::nullopt);
    const auto zero = Rules::row({.name = "empty", .state = "受信中", .active = true, .received = 0, .expected = 0});
    EXPECT_EQ(zero.fraction, std::nullopt);
    // More received than announced fills the bar, no further.
    const auto over = Rules::row({.name = "x", .state = "保存中", .active = true, .received = 5000, .expected = 4096});
    EXPECT_DOUBLE_EQ(*over.fraction, 1.0);

    // Ended: no bar.
    const auto done = Rules::row({.name = "tax.pdf", .state = "保存完了", .received = 4096, .expected = 4096,
                                  .hasOutput = true});
    EXPECT_FALSE(done.progress);
    EXPECT_EQ(done.fraction, std::nullopt);
    const auto failed = Rules::row({.name = "schedule.xlsx", .state = "保存できませんでした", .failed = true,
                                    .received = 16384});
    EXPECT_FALSE(failed.progress);
    EXPECT_TRUE(failed.failed);
    EXPECT_EQ(failed.state, "保存できませんでした");
}

TEST(WebPaneRules, TheEmptyPageStandsOnlyWhileTheTabHasNoPageAndNoneIsLoading) {
    EXPECT_TRUE(Rules::showsEmptyPage(false, false));
    EXPECT_FALSE(Rules::showsEmptyPage(false, true));
    EXPECT_FALSE(Rules::showsEmptyPage(true, false));
    EXPECT_FALSE(Rules::showsEmptyPage(true, true));
}

TEST(WebPaneRules, ThePageKeepsHalfTheWindowUnderTheRowsInBothPlaces) {
    EXPECT_EQ(Rules::pageFloor(850), 425);
    EXPECT_EQ(Rules::pageFloor(851), 426);
    EXPECT_EQ(Rules::pageFloor(0), 0);
    EXPECT_EQ(Rules::pageFloor(std::numeric_limits<double>::quiet_NaN()), 0);

    // On the right: the panel's width as the split gives it; the rows whole
    // while the page keeps half the window, else at their least (the list
    // down to one row), never cut through.
    Rules::ColumnFacts right{.panel = Panel::right, .width = 1040, .height = 620, .preferred = 340,
                             .windowHeight = 850, .rowsMinimum = 40, .rowsNatural = 120};
    EXPECT_EQ(Rules::column(right), (Rules::Column{Rules::split(340, 1040, Panel::right), 120, 500}));
    right.rowsNatural = 195;
    EXPECT_EQ(Rules::column(right).rows, 195);
    EXPECT_EQ(Rules::column(right).page, 425);
    right.rowsNatural = 196;
    EXPECT_EQ(Rules::column(right).rows, 40);
    EXPECT_EQ(Rules::column(right).page, 580);
    right.rowsMinimum = 260;
    right.rowsNatural = 400;
    EXPECT_EQ(Rules::column(right).rows, 260) << "a row is never cut off";
    EXPECT_EQ(Rules::column(right).page, 360);
    // However the rows come and go, the panel keeps the column's height.
    EXPECT_EQ(Rules::column(right).split, Rules::split(340, 1040, Panel::right));

    // At the bottom: nothing over the page, the panel gives way to the
    // page's half down to its least useful height, as before.
    Rules::ColumnFacts bottom{.panel = Panel::bottom, .width = 1040, .height = 620, .preferred = 300,
                              .windowHeight = 850, .rowsMinimum = 0, .rowsNatural = 0};
    EXPECT_EQ(Rules::column(bottom), (Rules::Column{Rules::Split{612 - 187, 8, 187}, 0, 425}));
    // Rows whole: the panel gives way to them as well, down to 80.
    bottom.rowsMinimum = 40;
    bottom.rowsNatural = 90;
    EXPECT_EQ(Rules::column(bottom), (Rules::Column{Rules::Split{515, 8, 97}, 90, 425}));
    bottom.rowsNatural = 107;
    EXPECT_EQ(Rules::column(bottom), (Rules::Column{Rules::Split{532, 8, 80}, 107, 425}));
    // Too many for that: the rows at their least, the panel beside them.
    bottom.rowsNatural = 200;
    EXPECT_EQ(Rules::column(bottom), (Rules::Column{Rules::Split{465, 8, 147}, 40, 425}));
    // The rows' least and the page's half before the panel's least.
    bottom.rowsMinimum = 120;
    EXPECT_EQ(Rules::column(bottom), (Rules::Column{Rules::Split{545, 8, 67}, 120, 425}));
    // Below half its least height, a sliver showing nothing, it folds away
    // to its divider.
    bottom.rowsMinimum = 150;
    EXPECT_EQ(Rules::column(bottom), (Rules::Column{Rules::Split{612, 8, 0}, 150, 462}));
    bottom.rowsMinimum = 200;
    EXPECT_EQ(Rules::column(bottom), (Rules::Column{Rules::Split{612, 8, 0}, 200, 412}))
        << "a row is never cut off, the page's half given up last";
    // A tall window keeps the panel's own size and the rows whole.
    bottom = {.panel = Panel::bottom, .width = 1040, .height = 1100, .preferred = 300, .windowHeight = 1300,
              .rowsMinimum = 40, .rowsNatural = 90};
    EXPECT_EQ(Rules::column(bottom), (Rules::Column{Rules::Split{792, 8, 300}, 90, 702}));
    // An unmeasured area gives nothing negative.
    bottom.height = -5;
    const auto none = Rules::column(bottom);
    EXPECT_GE(none.page, 0);
    EXPECT_GE(none.split.panel, 0);
}

TEST(WebPaneRules, AFailedLoadCoversThePageAndTheNoticeStandsAtItsFootOtherwise) {
    using State = Rules::PageState;
    EXPECT_EQ(Rules::pageState(false, false, false), State::empty);
    EXPECT_EQ(Rules::pageState(false, true, false), State::page) << "loading: the engine draws what comes";
    EXPECT_EQ(Rules::pageState(true, false, false), State::page);
    // A failure shows as such, with or without the page the view kept.
    EXPECT_EQ(Rules::pageState(false, false, true), State::failed);
    EXPECT_EQ(Rules::pageState(true, false, true), State::failed);
    EXPECT_EQ(Rules::pageState(true, true, true), State::page) << "a new load is under way";
    // The page's process ended: shown so until a load begins.
    EXPECT_EQ(Rules::pageState(true, false, false, true), State::ended);
    EXPECT_EQ(Rules::pageState(true, true, false, true), State::page);

    EXPECT_EQ(Rules::pageNotice("", State::page, false), std::nullopt);
    EXPECT_EQ(Rules::pageNotice("読み込み中", State::page, true), (Rules::PageNotice{"読み込み中", true}));
    EXPECT_EQ(Rules::pageNotice("読み込みを停止しました。", State::page, false),
              (Rules::PageNotice{"読み込みを停止しました。", false}));
    EXPECT_EQ(Rules::pageNotice("ページを読み込めません。アドレスと接続を確認してください。", State::failed, false),
              std::nullopt)
        << "the failure's page says it";
}
