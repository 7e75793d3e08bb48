#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ocrqueue/ControllerFixtures.hpp"
#include "ocrviews/PaneRules.hpp"
#include "recognition/page/OCRProduct.hpp"

namespace velmora {
namespace {

TEST(PaneLayout, PageWidthCompactRowsAndSplitHeight) {
    using namespace PaneLayout;
    EXPECT_EQ(contentWidth(600), 680);
    EXPECT_EQ(contentWidth(704), 680);
    EXPECT_EQ(contentWidth(705), 681);
    EXPECT_EQ(contentWidth(1240), 1216);
    EXPECT_TRUE(compact(600));
    EXPECT_TRUE(compact(899));
    EXPECT_TRUE(compact(899.5));
    EXPECT_FALSE(compact(900));
    EXPECT_FALSE(compact(1240));
}

TEST(PaneLayout, TheSplitTakesWhatTheRowsLeaveUpToHalf) {
    using namespace PaneLayout;
    // The rows leave 291 of a 707 pane: all of it (41 %), no more than half.
    EXPECT_EQ(splitMinimum(707, 291), 291);
    EXPECT_EQ(splitMinimum(1000, 584), 500);
    EXPECT_EQ(splitMinimum(1000, 499.6), 499);
    // Too little room: never below 200 (the queue panel gives way next).
    EXPECT_EQ(splitMinimum(500, 84), 200);
    EXPECT_EQ(splitMinimum(500, -30), 200);
}

TEST(PaneLayout, CompactRowsWrapWholeItemsOntoAsFewLinesAsFit) {
    using namespace PaneLayout;
    // Three items in 300: the third does not fit after the first two.
    EXPECT_EQ(flow({{50, 100}, {50, 100}, {50, 100}}, 300, 8),
              (std::vector<FlowSlot>{{0, 0, 100}, {0, 108, 100}, {1, 0, 100}}));
    // Exactly filling a line keeps it on that line.
    EXPECT_EQ(flow({{50, 146}, {50, 146}}, 300, 8), (std::vector<FlowSlot>{{0, 0, 146}, {0, 154, 146}}));
    // One wider than the line gets the line, and the next starts a new one;
    // first on a line, it is never moved down to an empty line.
    EXPECT_EQ(flow({{80, 500}, {40, 60}}, 300, 8), (std::vector<FlowSlot>{{0, 0, 300}, {1, 0, 60}}));
    // Never narrower than its minimum, even past the line.
    EXPECT_EQ(flow({{400, 500}}, 300, 8), (std::vector<FlowSlot>{{0, 0, 400}}));
    EXPECT_TRUE(flow({}, 300, 8).empty());
}

TEST(PaneLayout, SplitWidthsAndDragsStayInsideThePreviewClamps) {
    using namespace PaneLayout;
    // A 1216-wide split: the source between 300 and 1216 − 8 − 320.
    EXPECT_EQ(sourceWidth(360, 1216), 360);
    EXPECT_EQ(resultWidth(360, 1216), 1216 - 360 - 8);
    EXPECT_EQ(sourceWidth(10, 1216), 300);
    EXPECT_EQ(sourceWidth(5000, 1216), 888);
    // 680 wide: the upper clamp is 680 − 8 − 320 = 352.
    EXPECT_EQ(sourceWidth(360, 680), 352);
    EXPECT_EQ(sourceWidth(-1, 1216), 360);
    EXPECT_EQ(sourceWidth(std::nan(""), 1216), 360);

    // A drag proposing a result column s wide: the source takes the rest,
    // clamped; far right (a tiny result) and far left (a huge one).
    EXPECT_EQ(draggedPreferred(1216 - 400 - 8, 1216), 400);
    EXPECT_EQ(draggedPreferred(2, 1216), 888);
    EXPECT_EQ(draggedPreferred(5000, 1216), 300);
    // Past the leading edge (no width left, or less): still the narrowest,
    // not the default 360.
    EXPECT_EQ(draggedPreferred(1208, 1216), 300);
    EXPECT_EQ(draggedPreferred(1220, 1216), 300);
    // The split then shows exactly what the drag proposed.
    for (double s : {-100.0, 0.0, 300.0, 700.0, 1300.0}) {
        const double p = draggedPreferred(s, 1216);
        EXPECT_EQ(sourceWidth(p, 1216), p) << s;
    }
}

TEST(PaneLayout, TheRecoveryBannerNeedsSavedQueuesNoOpenQueueAndNoDeferral) {
    using PaneLayout::showsRecoveryBanner;
    EXPECT_TRUE(showsRecoveryBanner(false, true, false));
    EXPECT_FALSE(showsRecoveryBanner(true, true, false));
    EXPECT_FALSE(showsRecoveryBanner(false, false, false));
    EXPECT_FALSE(showsRecoveryBanner(false, true, true));
}

TEST(ControlPanelRules, RunButtonLabelAndEnablement) {
    using namespace ControlPanelRules;
    PaneFacts none;
    EXPECT_EQ(runLabel(none), "OCRを開始");
    EXPECT_FALSE(runEnabled(none));
    EXPECT_FALSE(cancelEnabled(none));
    EXPECT_TRUE(openEnabled(none));
    EXPECT_EQ(pageCount(none), std::nullopt);

    PaneFacts open;
    open.queueOpen = true;
    open.knownPages = 3;
    EXPECT_EQ(runLabel(open), "OCRを開始");
    EXPECT_TRUE(runEnabled(open));
    EXPECT_EQ(pageCount(open), "完了 0 / 3 ページ");
    open.knownPages = 0;
    EXPECT_EQ(pageCount(open), std::nullopt);

    PaneFacts cancelled = open;
    cancelled.queueStatus = QueueStatus::cancelled;
    EXPECT_EQ(runLabel(cancelled), "OCRを再実行");
    PaneFacts done = open;
    done.completedPages = 1;
    done.knownPages = 12345678901;
    EXPECT_EQ(runLabel(done), "OCRを再実行");
    // A page that failed was read too: running again is a new trial.
    PaneFacts failedPage = open;
    failedPage.failedPages = 1;
    EXPECT_EQ(runLabel(failedPage), "OCRを再実行");
    EXPECT_EQ(pageCount(done), "完了 1 / 12345678901 ページ");
    // Beside the finished run's "完了" the count does not say it again.
    EXPECT_EQ(pageCount(done, "完了"), "1 / 12345678901 ページ");
    EXPECT_EQ(pageCount(done, "一時停止済み"), "完了 1 / 12345678901 ページ");
    // A failed input is said beside the pages, or alone when none is known.
    PaneFacts failed = done;
    failed.failedInputs = 1;
    EXPECT_EQ(pageCount(failed), "完了 1 / 12345678901 ページ・失敗1ファイル");
    EXPECT_EQ(pageCount(failed, "完了"), "1 / 12345678901 ページ・失敗1ファイル");
    failed.knownPages = 0;
    EXPECT_EQ(pageCount(failed), "失敗1ファイル");
    // A page being read says how far, never rounded up to a finished page.
    PaneFacts reading = open;
    reading.knownPages = 1;
    reading.readingPage = 1;
    reading.readingFraction = 0.999;
    EXPECT_EQ(pageCount(reading), "完了 0 / 1 ページ・1ページ目を読み取り中 99%");
    reading.readingFraction = 0;
    EXPECT_EQ(pageCount(reading), "完了 0 / 1 ページ・1ページ目を読み取り中 0%");
    // Its first reading done, the page is not finished until it is stored.
    reading.readingFraction = 1;
    EXPECT_EQ(pageCount(reading), "完了 0 / 1 ページ・1ページ目を読み取り中 99%");
    // A queue run part way that can go on is continued, not run again.
    PaneFacts resumed = done;
    resumed.resumable = true;
    EXPECT_EQ(runLabel(resumed), "続きから再開");
    EXPECT_TRUE(runEnabled(resumed));
    // Without an open queue a cancelled status left over reads as a start.
    cancelled.queueOpen = false;
    EXPECT_EQ(runLabel(cancelled), "OCRを開始");

    PaneFacts busy = open;
    busy.busy = true;
    EXPECT_FALSE(runEnabled(busy));
    EXPECT_FALSE(openEnabled(busy));
    EXPECT_TRUE(cancelEnabled(busy));
}

TEST(ControlPanelRules, ModeHandwritingVerdictAndPassword) {
    using namespace ControlPanelRules;
    PaneFacts f;
    EXPECT_TRUE(modeEnabled(f));
    f.busy = true;
    EXPECT_FALSE(modeEnabled(f));
    f.managedQueue = true;
    EXPECT_TRUE(modeEnabled(f));

    std::vector<std::string> labels;
    for (OCRMode m : modes()) labels.push_back(modeLabel(m));
    EXPECT_EQ(labels, (std::vector<std::string>{"標準", "縦書き", "手書き・校正指示", "自動"}));
    EXPECT_EQ(modeExplanation(OCRMode::standard), "横書きの日本語／英語／数字");
    EXPECT_EQ(modeExplanation(OCRMode::automatic), "ページごとに判定します。不確実な場合は標準で処理します。");
    EXPECT_EQ(modeExplanation(OCRMode::handwriting), "手書きは候補分類です。実手書きの品質は未評価です。");
    EXPECT_EQ(modeExplanation(OCRMode::vertical), "縦書き活字：単純な縦列向け。ルビ・混在・特殊な約物は不得意です。");

    PaneFacts h;
    EXPECT_FALSE(showsHandwriting(h));
    h.mode = OCRMode::vertical;
    EXPECT_FALSE(showsHandwriting(h));
    h.mode = OCRMode::handwriting;
    EXPECT_TRUE(showsHandwriting(h));
    h.mode = OCRMode::automatic;
    EXPECT_TRUE(showsHandwriting(h));
    h.mode = OCRMode::standard;
    h.annotationResult = true;
    EXPECT_TRUE(showsHandwriting(h));
    EXPECT_TRUE(handwritingEnabled(h));
    h.busy = true;
    EXPECT_FALSE(handwritingEnabled(h));

    EXPECT_EQ(verdict(std::nullopt), std::nullopt);
    AutoPresentation p{AutoResolved::vertical, "detected"};
    EXPECT_EQ(verdict(p), "自動判定：縦書き　手書き候補：あり");
    p.handwriting = "uncertain";
    EXPECT_EQ(verdict(p), "自動判定：縦書き");
    p.handwriting = "none";
    p.resolved = AutoResolved::uncertainStandardFallback;
    EXPECT_EQ(verdict(p), "自動判定：標準（判定不確実）");

    PaneFacts locked;
    locked.queueOpen = true;
    EXPECT_FALSE(showsPassword(locked));
    locked.waitingPassword = true;
    EXPECT_TRUE(showsPassword(locked));
    EXPECT_TRUE(passwordButtonsEnabled(locked));
    locked.busy = true;
    EXPECT_FALSE(passwordButtonsEnabled(locked));
}

TEST(OptionRowRules, SearchTextsAndEnablement) {
    using namespace OptionRowRules;
    EXPECT_EQ(searchPlaceholder(false), "文書全体を検索");
    EXPECT_EQ(searchPlaceholder(true), "表示中の本文を検索");
    EXPECT_EQ(hitCount(0), "0件");
    EXPECT_EQ(hitCount(1234), "1234件");
    EXPECT_EQ(privateNote(true), "プライベート：再開情報を保存しません");
    EXPECT_EQ(privateNote(false), "");

    PaneFacts none;
    EXPECT_FALSE(copyEnabled(none));
    EXPECT_FALSE(saveEnabled(none));
    EXPECT_FALSE(txtEnabled(none));
    EXPECT_TRUE(firstRowEnabled(none));
    PaneFacts running;
    running.queueOpen = true;
    running.busy = true;
    EXPECT_TRUE(copyEnabled(running));
    EXPECT_TRUE(saveEnabled(running));
    EXPECT_FALSE(txtEnabled(running));
    EXPECT_FALSE(firstRowEnabled(running));
    running.busy = false;
    EXPECT_TRUE(txtEnabled(running));
}

TEST(PaneFacts, ReadsTheControllersOpenQueue) {
    test::ControllerRoots roots;
    auto c = roots.controller();
    PaneFacts facts = PaneFacts::of(*c);
    EXPECT_FALSE(facts.queueOpen);
    EXPECT_EQ(facts.knownPages, 0);

    roots.openRunQueue(*c, {3, 2}, OCRSettings{});
    c->showPage();
    c->recognitionMode = OCRMode::automatic;
    facts = PaneFacts::of(*c);
    EXPECT_TRUE(facts.queueOpen);
    EXPECT_EQ(facts.knownPages, 5);
    EXPECT_EQ(facts.completedPages, 5);
    EXPECT_EQ(facts.mode, OCRMode::automatic);
    EXPECT_FALSE(facts.waitingPassword);
    EXPECT_FALSE(facts.unsavedEdits);
    EXPECT_FALSE(facts.privateQueue);
    EXPECT_FALSE(facts.rejection);

    c->setEdited(c->edited.get() + "。");
    EXPECT_TRUE(PaneFacts::of(*c).unsavedEdits);

    // The folder of a save can be opened while its sentence stands.
    c->lastExports = std::vector<std::filesystem::path>{"/srv/ocr/a.txt"};
    c->savedStatus = QueueController::savedSentence(c->lastExports);
    c->status = c->savedStatus->value();
    EXPECT_TRUE(ControlPanelRules::showsOpenOutput(PaneFacts::of(*c)));
    c->status = "コピーしました。";
    EXPECT_FALSE(ControlPanelRules::showsOpenOutput(PaneFacts::of(*c)));

    // A queue brought back part way goes on, but not during its own run.
    c->snapshot.update([](std::optional<QueueSnapshot>& s) {
        s->status = QueueStatus::paused;
        s->inputs[1].pages[1].state = PageState::pending;
    });
    ASSERT_TRUE(c->resumable());
    EXPECT_TRUE(PaneFacts::of(*c).resumable);
    c->setBusy(true);
    EXPECT_FALSE(PaneFacts::of(*c).resumable);
    c->setBusy(false);

    // A refusal reads as one while it is the status sentence.
    c->refuse("入力を読み込めません。");
    EXPECT_TRUE(PaneFacts::of(*c).refusal);
    c->status = "コピーしました。";
    EXPECT_FALSE(PaneFacts::of(*c).refusal);
}

}  // namespace
}  // namespace velmora
