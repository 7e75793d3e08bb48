#include <gtest/gtest.h>

#include <string>

#include "capture/CaptureOutcome.hpp"
#include "workspace/model/WebWorkspaceRules.hpp"

// The tab bar's and the activity strips' rules without a display: the marks
// of a tab in the bar and in its list, titles that pass through a menu
// unchanged, and when the OCR strip stands.

using namespace velmora;
namespace Rules = WebWorkspaceRules;

TEST(WebWorkspaceRules, TheBarMarksPrivateAndBusyTabsButTheListOnlyPrivateOnes) {
    EXPECT_EQ(Rules::itemText(false, "ニュース", false), "ニュース");
    EXPECT_EQ(Rules::itemText(true, "ニュース", false), "私用：ニュース");
    EXPECT_EQ(Rules::itemText(false, "ニュース", true), "ニュース（処理中）");
    EXPECT_EQ(Rules::itemText(true, "ニュース", true), "私用：ニュース（処理中）");
    EXPECT_EQ(Rules::menuTitle(true, "ニュース"), "私用：ニュース");
    EXPECT_EQ(Rules::menuTitle(false, "ニュース"), "ニュース");
}

TEST(WebWorkspaceRules, ATitleEndingInAHostAndPortKeepsThePortWholeWhenCut) {
    const auto cut = [](std::string_view title) {
        const Rules::TitleCut parts = Rules::titleCut(title);
        EXPECT_EQ(parts.head + parts.tail, title);
        return parts.head + "|" + parts.tail;
    };
    // Restored tabs of one host: their ports tell them apart.
    EXPECT_EQ(cut("復元待ち：127.0.0.1:41553"), "復元待ち：127.0.0.1|:41553");
    EXPECT_EQ(cut("復元待ち：[::1]:8080"), "復元待ち：[::1]|:8080");
    EXPECT_EQ(cut("例え.jp:8443"), "例え.jp|:8443");
    // Nothing to keep: no port, a host alone, a restored tab without a host,
    // a colon that ends no host, too many digits for a port.
    for (std::string_view whole : {"市民講座のご案内", "復元待ち：example.com", "復元待ち：ページ", "時刻 :30",
                                   "復元待ち：:80", "host:123456", "host:", "", "見出し：12:30 更新"}) {
        EXPECT_EQ(cut(whole), std::string(whole) + "|") << whole;
    }
}

TEST(WebWorkspaceRules, EveryUnderscoreOfATitleIsDoubledForTheMenuAndNothingElseChanges) {
    EXPECT_EQ(Rules::menuLabel("my_page"), "my__page");
    EXPECT_EQ(Rules::menuLabel("__init__"), "____init____");
    EXPECT_EQ(Rules::menuLabel("_"), "__");
    EXPECT_EQ(Rules::menuLabel(""), "");
    // Multi-byte text and markup-like text pass untouched.
    EXPECT_EQ(Rules::menuLabel("私用：<b>見出し</b> & 本文"), "私用：<b>見出し</b> & 本文");
    // Every byte of a UTF-8 sequence is kept: no byte of one is "_".
    const std::string mixed = "ア_イ";
    EXPECT_EQ(Rules::menuLabel(mixed), "ア__イ");
}

TEST(WebWorkspaceRules, TheOCRStripStandsWhileTheQueueRunsOrWaitsPaused) {
    // Busy: whatever the snapshot says, also none yet.
    EXPECT_TRUE(Rules::queueStripShown(true, std::nullopt));
    for (auto status : {QueueStatus::ready, QueueStatus::running, QueueStatus::paused, QueueStatus::cancelled,
                        QueueStatus::completed, QueueStatus::waitingInput}) {
        EXPECT_TRUE(Rules::queueStripShown(true, status)) << rawValue(status);
        // Idle: only a paused queue keeps it.
        EXPECT_EQ(Rules::queueStripShown(false, status), status == QueueStatus::paused) << rawValue(status);
    }
    EXPECT_FALSE(Rules::queueStripShown(false, std::nullopt));
    EXPECT_EQ(Rules::queueStripText("3/5ページを処理中"), "このウインドウのOCR：3/5ページを処理中");
    EXPECT_EQ(Rules::webStripText("下部の画像を読み込み中"), "このウインドウのWeb保存：下部の画像を読み込み中");
    // Once the image is saved, the stop ends the OCR that follows it.
    EXPECT_EQ(Rules::webStripCancel("下部の画像を読み込み中"), "保存を中止");
    EXPECT_EQ(Rules::webStripCancel(CaptureOutcome::ocrRunning), "OCRを中止");
}

TEST(WebWorkspaceRules, TheSelectedTabIsScrolledJustIntoView) {
    // A row of 1400 seen through 1000.
    // Already in view: nothing moves.
    EXPECT_EQ(WebWorkspaceRules::offsetShowing(0, 1000, 1400, 200, 400), 0);
    EXPECT_EQ(WebWorkspaceRules::offsetShowing(300, 1000, 1400, 300, 1300), 300);
    // Past the right edge, or cut by it: its end comes to the edge.
    EXPECT_EQ(WebWorkspaceRules::offsetShowing(0, 1000, 1400, 1200, 1400), 400);
    EXPECT_EQ(WebWorkspaceRules::offsetShowing(0, 1000, 1400, 950, 1150), 150);
    // Left of the view: its start comes to the left edge.
    EXPECT_EQ(WebWorkspaceRules::offsetShowing(400, 1000, 1400, 100, 300), 100);
    EXPECT_EQ(WebWorkspaceRules::offsetShowing(400, 1000, 1400, 0, 200), 0);
    // An item wider than the view shows its start.
    EXPECT_EQ(WebWorkspaceRules::offsetShowing(0, 100, 1400, 500, 700), 500);
    // Never past the row's ends, and nothing to scroll in a row that fits.
    EXPECT_EQ(WebWorkspaceRules::offsetShowing(0, 1000, 1400, 1300, 1500), 400);
    EXPECT_EQ(WebWorkspaceRules::offsetShowing(50, 1000, 800, 600, 800), 0);
}

TEST(WebWorkspaceRules, WindowsAreToldApartByTheirNumbers) {
    EXPECT_EQ(WebWorkspaceRules::windowNumber({}), 1);
    EXPECT_EQ(WebWorkspaceRules::windowNumber({1}), 2);
    EXPECT_EQ(WebWorkspaceRules::windowNumber({1, 2, 3}), 4);
    // A number freed by a closed window is taken again, the least first.
    EXPECT_EQ(WebWorkspaceRules::windowNumber({1, 3}), 2);
    EXPECT_EQ(WebWorkspaceRules::windowNumber({3, 2}), 1);
    EXPECT_EQ(WebWorkspaceRules::windowTitle("ベルモラ", 1), "ベルモラ");
    EXPECT_EQ(WebWorkspaceRules::windowTitle("ベルモラ", 2), "ベルモラ（2）");
    EXPECT_EQ(WebWorkspaceRules::windowTitle("ベルモラ", 12), "ベルモラ（12）");
    EXPECT_EQ(WebWorkspaceRules::otherWindowOCR("ベルモラ（2）"), "ウインドウ「ベルモラ（2）」のOCR画面");
    EXPECT_EQ(WebWorkspaceRules::otherWindowOCR(""), "新しいウインドウのOCR画面");
}
