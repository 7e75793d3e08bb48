#include <gtest/gtest.h>

#include "workspace/model/TabActions.hpp"
#include "workspace/model/WindowModel.hpp"

// The window model's rules that need no tab and no display: its sections,
// the capture width, where the selection goes when a tab closes, and how a
// finished save or queue run is written to the event log.

using namespace velmora;
using Section = WindowModel::Section;
using Stage = SafeEvent::Stage;

TEST(WindowSections, LabelsAreTheIdentityInTheWindowsOrderWithThemeIcons) {
    const std::vector<std::pair<std::string, std::string>> expected{
        {"Webキャプチャ", "web-browser-symbolic"},
        {"OCR", "edit-find-symbolic"},
        {"履歴", "document-open-recent-symbolic"},
        {"設定", "emblem-system-symbolic"}};
    ASSERT_EQ(WindowModel::allSections.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Section section = WindowModel::allSections[i];
        EXPECT_EQ(rawValue(section), expected[i].first);
        EXPECT_EQ(WindowModel::icon(section), expected[i].second);
        EXPECT_EQ(fromRaw<Section>(expected[i].first), section);
    }
    // Exact text only.
    EXPECT_FALSE(fromRaw<Section>("ocr"));
    EXPECT_FALSE(fromRaw<Section>(" OCR"));
    EXPECT_FALSE(fromRaw<Section>(""));
}

TEST(CaptureWidth, LockedFirstThenTheModesWithTheirLimits) {
    using TabActions::width;
    // "current" follows the pane, never below 280.
    EXPECT_EQ(width(std::nullopt, "current", 100, 1440, 430), 280);
    EXPECT_EQ(width(std::nullopt, "current", 1333.5, 1440, 430), 1333.5);
    // "custom" is clamped to 280...4096.
    EXPECT_EQ(width(std::nullopt, "custom", 100, 5000, 430), 4096);
    EXPECT_EQ(width(std::nullopt, "custom", 100, 100, 430), 280);
    EXPECT_EQ(width(std::nullopt, "custom", 100, 1440, 430), 1440);
    // Anything else is the mobile width, an unknown mode included.
    EXPECT_EQ(width(std::nullopt, "mobile", 2000, 1440, 390), 390);
    EXPECT_EQ(width(std::nullopt, "tablet", 2000, 1440, 375), 375);
    // A running save's width wins over every mode.
    for (const char* mode : {"current", "custom", "mobile"}) {
        EXPECT_EQ(width(Size{777, 600}, mode, 100, 5000, 430), 777) << mode;
    }
}

TEST(CaptureWidth, TheSelectionAfterACloseIsTheTabThatMovedUpOrTheNewLast) {
    using TabActions::selectionAfterClose;
    // Three tabs, two remain.
    EXPECT_EQ(selectionAfterClose(0, 2), 0u);
    EXPECT_EQ(selectionAfterClose(1, 2), 1u);
    EXPECT_EQ(selectionAfterClose(2, 2), 1u);
    // The only tab, replaced by a fresh one.
    EXPECT_EQ(selectionAfterClose(0, 1), 0u);
}

TEST(EventLogStages, ASaveIsLoggedByTheLastEventOfItsTrace) {
    {
        OperationTrace trace;
        EXPECT_EQ(WindowModel::operationStage(trace), Stage::completed) << "started only";
        trace.end(OperationTrace::Event::completed);
        EXPECT_EQ(WindowModel::operationStage(trace), Stage::completed);
    }
    {
        OperationTrace trace;
        trace.stage("prepare");
        trace.end(OperationTrace::Event::cancelled);
        EXPECT_EQ(WindowModel::operationStage(trace), Stage::cancelled);
    }
    {
        OperationTrace trace;
        trace.end(OperationTrace::Event::failed);
        EXPECT_EQ(WindowModel::operationStage(trace), Stage::failed);
    }
}

TEST(EventLogStages, AQueueIsLoggedCancelledThenFailedThenCompletedElsePaused) {
    EXPECT_EQ(WindowModel::queueStage(std::nullopt), Stage::paused);

    QueueSnapshot snapshot(OCRSettings{}, {QueueInput("/tmp/a.pdf", InputOrigin::normal)});
    snapshot.inputs[0].pages = {PageRecord(1, PageState::completed), PageRecord(2, PageState::completed)};
    snapshot.status = QueueStatus::completed;
    EXPECT_EQ(WindowModel::queueStage(snapshot), Stage::completed);
    snapshot.status = QueueStatus::paused;
    EXPECT_EQ(WindowModel::queueStage(snapshot), Stage::paused);
    snapshot.status = QueueStatus::ready;
    EXPECT_EQ(WindowModel::queueStage(snapshot), Stage::paused);

    // A completed run with failed pages is a failure; a cancel says so
    // first, failed pages or not.
    snapshot.inputs[0].pages = {PageRecord(1, PageState::failed), PageRecord(2, PageState::failed)};
    snapshot.status = QueueStatus::completed;
    EXPECT_EQ(snapshot.failedPages(), 2);
    EXPECT_EQ(WindowModel::queueStage(snapshot), Stage::failed);
    snapshot.status = QueueStatus::cancelled;
    EXPECT_EQ(WindowModel::queueStage(snapshot), Stage::cancelled);
}

TEST(QuitQuestion, NamesEachKindOfWorkThatAQuitWouldStopOrLose) {
    WindowModel::PendingWork work;
    EXPECT_FALSE(work.any());
    EXPECT_EQ(work.question(), "");
    work.webSave = true;
    EXPECT_EQ(work.question(), "保存中のWebページがあります");
    WindowModel::PendingWork other;
    other.ocr = true;
    other.unsavedEdits = true;
    other.privateResults = true;
    work |= other;
    EXPECT_EQ(work.question(), "保存中のWebページ・処理中のOCR・TXT未保存の編集・メモリ限定の処理結果があります");
}

TEST(QuitQuestion, SaysWhatItsAnswersMeanForTheWorkFound) {
    // Running work stops; no private queue is among it, so none is named.
    WindowModel::PendingWork running;
    running.webSave = true;
    running.ocr = true;
    running.unsavedEdits = true;
    EXPECT_EQ(running.informative(),
              "終了をやめると処理と編集を続けられます。終了する場合は処理の停止を待ちます。"
              "明示保存したファイルやコピー結果は残ります。");
    EXPECT_EQ(running.quitLabel(), "処理を止めて終了");
    EXPECT_EQ(running.quitAhead(), Confirmation::Ahead::destructive);

    // Only edits without their TXT: nothing stops, and the edits stay with
    // their saved queue for the next start.
    WindowModel::PendingWork edits;
    edits.unsavedEdits = true;
    EXPECT_EQ(edits.informative(),
              "編集は処理一覧とともに保持し、次回の起動後に「再開候補」から続けられます。"
              "TXTを保存する場合は終了をやめてください。明示保存したファイルやコピー結果は残ります。");
    EXPECT_EQ(edits.quitLabel(), "編集を保持して終了");
    EXPECT_EQ(edits.quitAhead(), Confirmation::Ahead::suggested);

    // A private queue's results are lost for good: said only then.
    edits.privateResults = true;
    EXPECT_EQ(edits.quitLabel(), "TXTを保存せずに終了");
    EXPECT_EQ(edits.quitAhead(), Confirmation::Ahead::destructive);
    EXPECT_EQ(edits.informative(),
              "終了をやめると、TXTを保存してから終了できます。プライベートは再起動後に再開できません。"
              "明示保存したファイルやコピー結果は残ります。");
    running.privateResults = true;
    EXPECT_NE(running.informative().find("プライベートは再起動後に再開できません。"), std::string::npos);
}
