#include <gtest/gtest.h>

#include <functional>

#include "ocrqueue/ControllerFixtures.hpp"
#include "ocrviews/QueuePanelRules.hpp"

namespace velmora {
namespace {

using namespace QueuePanelRules;

QueueInput inputWith(std::string path, std::vector<PageRecord> pages, std::optional<int64_t> pageCount,
                     InputStatus status = InputStatus::pending) {
    QueueInput input(std::move(path), InputOrigin::normal);
    input.pages = std::move(pages);
    if (pageCount) input.source = SourceIdentity(input.path, 100, *pageCount, "digest");
    input.status = status;
    return input;
}

TEST(QueuePanelRules, CountsLineFillsTheTallyInItsOrder) {
    EXPECT_EQ(countsLine(QueueCounts(), 0),
              "全体0ページ：成功0／失敗0／処理中0／未処理0／スキップ0・ページ数不明0ファイル");

    // 2 done, 1 failed, 1 running, 1 pending and 1 cancelled page recorded;
    // 3 more pending from a known source without records; one file unread.
    std::vector<QueueInput> inputs{
        inputWith("/a/one.pdf",
                  {PageRecord(1, PageState::completed), PageRecord(2, PageState::failed),
                   PageRecord(3, PageState::inProgress), PageRecord(4, PageState::completed),
                   PageRecord(5, PageState::pending), PageRecord(6, PageState::cancelled)},
                  6, InputStatus::running),
        inputWith("/a/two.pdf", {}, 3),
        inputWith("/a/three.pdf", {}, std::nullopt),
    };
    QueueSnapshot snapshot(OCRSettings{}, inputs);
    EXPECT_EQ(countsLine(QueueCounts(inputs), snapshot.unknownFiles()),
              "全体9ページ：成功2／失敗1／処理中1／未処理4／スキップ1・ページ数不明1ファイル");
    EXPECT_EQ(countsLine(snapshot), countsLine(QueueCounts(inputs), snapshot.unknownFiles()));

    // A file that failed before its pages were known is a failed file, not
    // one of unknown pages; one that failed with pages is counted too.
    snapshot.inputs.push_back(inputWith("/a/broken.pdf", {}, std::nullopt, InputStatus::failed));
    snapshot.inputs.back().error = ErrorCase::invalidInput;
    EXPECT_EQ(countsLine(snapshot),
              "全体9ページ：成功2／失敗1／処理中1／未処理4／スキップ1・ページ数不明1ファイル・失敗1ファイル");
    snapshot.inputs[0].status = InputStatus::failed;
    EXPECT_EQ(countsLine(snapshot),
              "全体9ページ：成功2／失敗1／処理中1／未処理4／スキップ1・ページ数不明1ファイル・失敗2ファイル");
}

TEST(QueuePanelRules, ThePageBeingReadMovesTheBarAndSaysHowFar) {
    QueueInput tall = inputWith("/captures/縦長.png", {PageRecord(1, PageState::inProgress)}, 1, InputStatus::running);
    const InputFacts reading = inputFacts(tall, false, 0.456);
    const InputRow row = inputRow(reading, 0);
    EXPECT_EQ(row.state, "処理中 45%");
    EXPECT_EQ(row.pages, "0 / 1");
    ASSERT_TRUE(row.fraction.has_value());
    EXPECT_DOUBLE_EQ(*row.fraction, 0.456);
    EXPECT_TRUE(sameFacts(reading, tall, false, 0.456));
    EXPECT_FALSE(sameFacts(reading, tall, false, 0.5));
    EXPECT_FALSE(sameFacts(reading, tall, false));
    EXPECT_EQ(inputRow(inputFacts(tall, false), 0).state, "処理中");
    EXPECT_EQ(inputRow(inputFacts(tall, false, 1.0), 0).state, "処理中 99%");
}

TEST(QueuePanelRules, InputRowsShowPositionProgressErrorAndFailedPages) {
    // An unread input: nothing done of an unknown count.
    const QueueInput unread = inputWith("/scans/受付.pdf", {}, std::nullopt);
    EXPECT_EQ(progressText(unread), "0 / 不明\u3000未処理");
    InputRow first = inputRow(unread, 0, std::nullopt);
    EXPECT_EQ(first.label, "1. 受付.pdf");
    EXPECT_FALSE(first.selected);
    EXPECT_FALSE(first.error.has_value());
    EXPECT_TRUE(first.failed.empty());

    // Only completed pages count as done; failed ones are listed in record
    // order, with their error or the fixed sentence.
    QueueInput worked = inputWith("/scans/report.pdf",
                                  {PageRecord(4, PageState::failed), PageRecord(1, PageState::completed),
                                   PageRecord(2, PageState::cancelled), PageRecord(3, PageState::inProgress),
                                   PageRecord(5, PageState::failed, std::nullopt, std::nullopt,
                                              ErrorCase::renderFailed)},
                                  5, InputStatus::failed);
    worked.error = ErrorCase::lockedPDF;
    const InputRow row = inputRow(worked, 11, worked.id);
    EXPECT_EQ(row.label, "12. report.pdf");
    EXPECT_EQ(row.progress, "1 / 5\u3000失敗");
    EXPECT_TRUE(row.selected);
    EXPECT_EQ(row.error, std::string(BrindlexError::message(ErrorCase::lockedPDF)));
    ASSERT_EQ(row.failed.size(), 2u);
    EXPECT_EQ(row.failed[0], (FailedPage{4, "4ページ：認識できませんでした"}));
    EXPECT_EQ(row.failed[1].page, 5);
    EXPECT_EQ(row.failed[1].text, std::string("5ページ：") + BrindlexError::message(ErrorCase::renderFailed));
    EXPECT_FALSE(inputRow(worked, 11, unread.id).selected);

    EXPECT_EQ(candidatesTitle(1), "追加予定 1件（まだ処理していません）");
    EXPECT_EQ(candidatesTitle(5000), "追加予定 5000件（まだ処理していません）");
    EXPECT_EQ(fileName("/a/b/写真 1.png"), "写真 1.png");
    EXPECT_EQ(persistenceNote(true), "通常キュー：確定結果と編集を保存");
    EXPECT_EQ(persistenceNote(false), "メモリ限定：終了後は再開できません。明示保存TXT・コピーは残ります。");
}

TEST(QueuePanelRules, FactsNoticeEveryChangeARowShows) {
    const QueueInput base = inputWith("/s/a.pdf",
                                      {PageRecord(1, PageState::completed), PageRecord(2, PageState::failed),
                                       PageRecord(3, PageState::pending)},
                                      3, InputStatus::running);
    const InputFacts facts = inputFacts(base, true);
    EXPECT_TRUE(sameFacts(facts, base, true));
    EXPECT_EQ(inputRow(facts, 0), inputRow(base, 0, base.id));
    EXPECT_FALSE(sameFacts(facts, base, false));

    std::vector<std::function<void(QueueInput&)>> changes{
        [](QueueInput& i) { i.pages[2].state = PageState::completed; },
        [](QueueInput& i) { i.pages[2].state = PageState::failed; },
        [](QueueInput& i) { i.pages[1].error = ErrorCase::renderFailed; },
        [](QueueInput& i) { i.pages[1].state = PageState::pending; },
        [](QueueInput& i) { i.status = InputStatus::completed; },
        [](QueueInput& i) { i.error = ErrorCase::sourceMissing; },
        [](QueueInput& i) { i.source.reset(); },
        [](QueueInput& i) { i.source->pageCount = 4; },
        [](QueueInput& i) { i.path = "/s/b.pdf"; },
        [](QueueInput& i) { i.id = UUID::random(); },
    };
    for (std::size_t n = 0; n < changes.size(); ++n) {
        QueueInput changed = base;
        changes[n](changed);
        EXPECT_FALSE(sameFacts(facts, changed, true)) << n;
        EXPECT_NE(inputFacts(changed, true), facts) << n;
    }
    // What no row shows leaves the facts alone.
    QueueInput edited = base;
    edited.editedPages[1] = "手直し";
    edited.pages[0].checksum = "other";
    EXPECT_TRUE(sameFacts(facts, edited, true));
}

TEST(QueuePanelRules, SectionsFollowTheQueueTheListingTheSavedQueuesAndTheRejection) {
    PanelState none;
    EXPECT_EQ(sections(none), Sections{});

    PanelState open;
    open.queueOpen = true;
    open.engineOpen = true;
    Sections s = sections(open);
    EXPECT_TRUE(s.queue);
    EXPECT_FALSE(s.retryAll);
    open.failedPages = 1;
    EXPECT_TRUE(sections(open).retryAll);

    PanelState listing;
    listing.listing = true;
    s = sections(listing);
    EXPECT_TRUE(s.stopListing);
    EXPECT_FALSE(s.candidates);

    PanelState found;
    found.candidates = 1;
    found.savedQueues = 2;
    found.rejection = true;
    s = sections(found);
    EXPECT_TRUE(s.candidates);
    EXPECT_TRUE(s.saved);
    EXPECT_TRUE(s.rejection);
    EXPECT_FALSE(s.queue);
    EXPECT_FALSE(s.retryAll);
    // With no queue open the saved queues stand under the toolbars; with
    // one open, after its rows, which come first.
    EXPECT_FALSE(s.savedAfterQueue);
    found.queueOpen = true;
    EXPECT_TRUE(sections(found).savedAfterQueue);
    found.savedQueues = 0;
    EXPECT_FALSE(sections(found).savedAfterQueue);
}

TEST(QueuePanelRules, EnablementWhileBusyImportingAndListing) {
    PanelState idle;
    Enablement e = enablement(idle);
    // No queue: nothing to start or restart, nothing to stop.
    EXPECT_TRUE(e.chooseFolder && e.order && e.retry && e.loadSaved && e.reselect);
    EXPECT_FALSE(e.start || e.restart || e.pause || e.cancel || e.newTrial);

    PanelState open;
    open.engineOpen = true;
    open.queueOpen = true;
    open.rejectionCandidate = true;
    e = enablement(open);
    EXPECT_TRUE(e.start && e.restart && e.newTrial);
    EXPECT_FALSE(e.pause || e.cancel);

    PanelState busy = open;
    busy.busy = true;
    e = enablement(busy);
    EXPECT_TRUE(e.pause && e.cancel && e.chooseFolder);
    EXPECT_FALSE(e.order || e.start || e.restart || e.retry || e.loadSaved || e.reselect || e.newTrial);

    PanelState importing = open;
    importing.importing = true;
    e = enablement(importing);
    EXPECT_FALSE(e.newTrial);
    EXPECT_TRUE(e.start && e.order && e.retry);

    PanelState listing = open;
    listing.listing = true;
    e = enablement(listing);
    EXPECT_FALSE(e.chooseFolder);
    EXPECT_TRUE(e.start && e.newTrial);

    PanelState noCandidate = open;
    noCandidate.rejectionCandidate = false;
    EXPECT_FALSE(enablement(noCandidate).newTrial);
}

TEST(QueuePanelRules, StateReadsTheController) {
    test::ControllerRoots roots;
    auto c = roots.controller();
    EXPECT_EQ(state(*c), PanelState{});

    roots.openRunQueue(*c, {2, 1}, OCRSettings{}, {{0, {2}}});
    c->folderListing = true;
    c->folderCandidates = std::vector<std::filesystem::path>{"/a.png", "/b.png"};
    c->savedQueues = std::vector<std::filesystem::path>{"/q"};
    c->rejection = QueueController::ResumeRejection{};
    PanelState s = state(*c);
    EXPECT_TRUE(s.engineOpen && s.queueOpen && s.listing && s.rejection);
    EXPECT_FALSE(s.rejectionCandidate || s.busy || s.importing);
    EXPECT_EQ(s.candidates, 2u);
    EXPECT_EQ(s.savedQueues, 1u);
    EXPECT_EQ(s.failedPages, 1);
    c->rejection = QueueController::ResumeRejection{c->snapshot.get(), "/q", ErrorCase::settingsChanged};
    EXPECT_TRUE(state(*c).rejectionCandidate);
}

TEST(QueuePanelRules, PickerIndexes) {
    EXPECT_EQ(choiceIndex(true), 0u);
    EXPECT_EQ(choiceIndex(false), 1u);
    EXPECT_TRUE(choiceValue(0));
    EXPECT_FALSE(choiceValue(1));

    const std::vector<std::filesystem::path> saved{"/q/a", "/q/b"};
    EXPECT_EQ(savedIndex(saved, std::nullopt), 0u);
    EXPECT_EQ(savedIndex(saved, std::filesystem::path("/q/b")), 2u);
    // A folder no longer listed shows as no choice.
    EXPECT_EQ(savedIndex(saved, std::filesystem::path("/q/gone")), 0u);
    EXPECT_EQ(savedChoice(saved, 0), std::nullopt);
    EXPECT_EQ(savedChoice(saved, 1), std::filesystem::path("/q/a"));
    EXPECT_EQ(savedChoice(saved, 3), std::nullopt);
}

}  // namespace
}  // namespace velmora
