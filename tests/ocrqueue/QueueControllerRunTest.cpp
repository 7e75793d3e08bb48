#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "RunFixtures.hpp"
#include "recognition/engine/RecognitionProgress.hpp"
#include "foundation/Digest.hpp"

using namespace velmora;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* running = "OCR処理中…";
constexpr const char* completedSentence = "完了";
constexpr const char* pausedSentence = "一時停止済み";
constexpr const char* cancelledSentence = "処理を中止しました。完成済みページは保持しています。";
constexpr const char* failedPagesSentence = "一部のページを読み取れませんでした。完成済み結果は保持しています。";
constexpr const char* wrongPassword = "PDFパスワードが違います。入力し直してください。";
constexpr const char* needPassword = "PDFのパスワードを入力してください。";
constexpr const char* waitingInput = "原稿の選び直し・パスワード入力が必要です";
constexpr const char* noText = "認識できる文字はありませんでした。原稿を確認してください。";
constexpr const char* textFailed = "文字の処理は終了しましたが、TXTを保存できません。保存先を選び直してください。";
constexpr const char* historyNotice = "自動TXTは保存済みですが履歴登録を確認できませんでした。成果物は保持します。";

class Run : public ::testing::Test, protected test::RunRoots {
protected:
    // Declared before the controllers: their destructors wait for runs that
    // wait at the gate, so it is opened before they go (TearDown).
    test::PageGate gate;
    std::shared_ptr<QueueController> c;

    void TearDown() override { gate.open(); }

    std::shared_ptr<QueueController> gated() { return controller(gate.ports()); }

    fs::path folderOf(const QueueController& q) const { return q.parent / q.snapshot->value().id.text(); }

    // The first input's page states as the engine holds them.
    static std::vector<PageState> pageStates(const OCRQueueEngine& engine, std::size_t input = 0) {
        std::vector<PageState> out;
        const QueueSnapshot s = engine.snapshot();
        for (const PageRecord& r : s.inputs[input].pages) out.push_back(r.state);
        return out;
    }
};

}  // namespace

// ---- guards and checks

TEST_F(Run, GuardsAndAFailedEditFlushStartNothing) {
    c = controller();
    test::runTask(c->start());
    EXPECT_EQ(c->status.get(), QueueController::initialStatus);
    EXPECT_FALSE(c->busy.get());

    auto engine = openRunQueue(*c, {2}, c->currentSettings());
    c->status = "前の文";
    c->setBusy(true);
    test::runTask(c->start());
    EXPECT_EQ(c->status.get(), "前の文");
    c->setBusy(false);
    c->importing = true;
    test::runTask(c->start());
    EXPECT_EQ(c->status.get(), "前の文");
    EXPECT_FALSE(c->busy.get());
    c->importing = false;

    // An edit that cannot be stored (someone else rewrote the queue file):
    // the sentence of saveFailed, whatever the engine threw, and no run.
    c->showPage();
    const fs::path file = folderOf(*c) / "queue.json";
    c->engine->flush();  // no earlier store still on its way
    const std::string good = test::readFile(file);
    c->loadingDecoration = true;
    c->setEdited(test::fixedText(1) + "追記");
    c->loadingDecoration = false;
    test::writeFile(file, good + " ");
    test::runTask(c->start());
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::saveFailed));
    EXPECT_FALSE(c->busy.get());
    EXPECT_EQ(test::readFile(file), good + " ");
}

TEST_F(Run, ChangedSettingsDetachAQueueWithoutAFolder) {
    c = controller();
    const fs::path doc = test::writeDocument(tmp / "a.pdf", 1);
    auto engine = openInMemory(*c, {{doc}});
    ASSERT_FALSE(engine->directory());
    c->languageCorrection = false;
    test::runTask(c->start());
    EXPECT_FALSE(c->engine);
    EXPECT_EQ(c->previousEngine, engine);
    EXPECT_FALSE(c->snapshot->has_value());
    ASSERT_TRUE(c->rejection->has_value());
    const auto& refused = *c->rejection.get();
    EXPECT_EQ(refused.reason, ErrorCase::settingsChanged);
    EXPECT_TRUE(refused.canRestoreSettings);
    EXPECT_EQ(refused.url, c->parent);
    ASSERT_TRUE(refused.candidate);
    EXPECT_EQ(refused.candidate->id, engine->snapshot().id);
    EXPECT_FALSE(refused.replacementInputs);
    EXPECT_EQ(c->status.get(), "設定が変わりました。前回の結果は保持しています。使用する設定を選んでください。");
    EXPECT_FALSE(c->busy.get());

    // Another field differs too: the queue's settings cannot simply be
    // taken back.
    c->languageCorrection = true;
    auto other = openInMemory(*c, {{doc}});
    c->recognitionMode = OCRMode::vertical;
    test::runTask(c->start());
    ASSERT_TRUE(c->rejection->has_value());
    EXPECT_FALSE(c->rejection->value().canRestoreSettings);
    EXPECT_EQ(c->previousEngine, other);
}

TEST_F(Run, ASavedQueueWithOtherSettingsIsHandedToTheStrictReopening) {
    c = controller();
    auto engine = openRunQueue(*c, {1}, c->currentSettings());
    const fs::path folder = engine->directory()->url();
    c->recognitionMode = OCRMode::handwriting;
    test::runTask(c->start());
    EXPECT_FALSE(c->busy.get());
    EXPECT_EQ(c->selectedSaved.get(), folder);
    // The reopening refused it for its settings and opened nothing.
    ASSERT_TRUE(c->rejection->has_value());
    EXPECT_EQ(c->rejection->value().reason, ErrorCase::settingsChanged);
    EXPECT_EQ(c->rejection->value().url, folder);
    EXPECT_FALSE(c->engine);
}

TEST_F(Run, AChangedOriginalIsRefusedWithEveryInputOfferedAgain) {
    c = controller();
    const fs::path a = test::writeDocument(tmp / "a.pdf", 1);
    const fs::path b = test::writeDocument(tmp / "b.pdf", 2);
    auto engine = openQueue(*c, {{a}, {b}}, c->currentSettings(), false);
    const fs::path folder = engine->directory()->url();
    test::writeDocument(b, 3);
    test::runTask(c->start());
    EXPECT_FALSE(c->busy.get());
    EXPECT_FALSE(c->engine);
    EXPECT_EQ(c->previousEngine, engine);
    ASSERT_TRUE(c->rejection->has_value());
    const auto& refused = *c->rejection.get();
    EXPECT_EQ(refused.reason, ErrorCase::sourceChanged);
    EXPECT_FALSE(refused.canRestoreSettings);
    EXPECT_EQ(refused.url, folder);
    ASSERT_TRUE(refused.replacementInputs);
    ASSERT_EQ(refused.replacementInputs->size(), 2u);
    EXPECT_EQ((*refused.replacementInputs)[0].url, a);
    EXPECT_EQ((*refused.replacementInputs)[1].url, b);
    EXPECT_EQ((*refused.replacementInputs)[1].origin, InputOrigin::normal);
    EXPECT_EQ(c->status.get(),
              "前回の原稿と内容が異なるため、続きから再開できません。新しい原稿でやり直すか、選び直してください。");
}

TEST_F(Run, OriginalsThatCannotBeComparedPassTheCheck) {
    c = controller();
    // Missing: the run itself finds it gone and asks for it again.
    const fs::path gone = test::writeDocument(tmp / "gone.pdf", 1);
    openQueue(*c, {{gone}}, c->currentSettings(), false);
    fs::remove(gone);
    runToEnd(*c);
    EXPECT_FALSE(c->rejection->has_value());
    EXPECT_EQ(c->status.get(), waitingInput);
    EXPECT_EQ(c->snapshot->value().inputs[0].status, InputStatus::waitingInput);

    // Never read when the queue was made: no digest to compare with.
    const fs::path late = tmp / "late.pdf";
    auto engine = openQueue(*c, {{late}}, c->currentSettings(), false);
    ASSERT_FALSE(engine->snapshot().inputs[0].expectedSHA256);
    test::writeDocument(late, 2);
    runToEnd(*c);
    EXPECT_FALSE(c->rejection->has_value());
    EXPECT_EQ(c->status.get(), completedSentence);

    // Something that cannot be hashed where the original was (a FIFO, which
    // would block a reader) counts as unchanged, at once; the run reports it.
    const fs::path piped = test::writeDocument(tmp / "piped.pdf", 1);
    openQueue(*c, {{piped}}, c->currentSettings(), false);
    fs::remove(piped);
    ASSERT_EQ(::mkfifo(piped.c_str(), 0600), 0);
    runToEnd(*c);
    EXPECT_FALSE(c->rejection->has_value());
    EXPECT_NE(c->snapshot->value().inputs[0].status, InputStatus::completed);

    // A managed queue skips the checks: the run itself reports the change.
    const fs::path changed = test::writeDocument(tmp / "changed.pdf", 1);
    openQueue(*c, {{changed}}, c->currentSettings(), false);
    test::writeDocument(changed, 2);
    c->managedQueue = true;
    c->recognitionMode = OCRMode::vertical;
    runToEnd(*c);
    EXPECT_FALSE(c->rejection->has_value());
    EXPECT_EQ(c->snapshot->value().inputs[0].error, ErrorCase::sourceChanged);
    EXPECT_EQ(c->status.get(), waitingInput);
}

// ---- the automatic TXT's destination

TEST_F(Run, TheDestinationIsAskedOnceAndItsRefusalsStartNothing) {
    c = controller();
    test::FakeDestination destination;
    c->destinationProvider = destination.provider();
    openRunQueue(*c, {1}, c->currentSettings());
    c->autoSave = true;

    destination.answers = {test::FakeDestination::Fail{}};
    test::runTask(c->start());
    EXPECT_EQ(c->status.get(), "保存先を選び直してください。処理は開始していません");
    EXPECT_FALSE(c->busy.get());
    EXPECT_FALSE(c->automaticDestination);

    destination.answers = {std::optional<fs::path>()};
    test::runTask(c->start());
    EXPECT_EQ(c->status.get(), "保存先の選択を取消しました。処理は開始していません");
    EXPECT_FALSE(c->busy.get());
    EXPECT_EQ(destination.asked, 2);
    EXPECT_EQ(destination.askFlags, (std::vector<bool>{false, false}));

    // A queue holding a private input asks nothing and gets no TXT.
    const fs::path secret = test::writeDocument(tmp / "secret.pdf", 1);
    openQueue(*c, {{secret, InputOrigin::privateSession}}, c->currentSettings(), false);
    runToEnd(*c);
    EXPECT_EQ(destination.asked, 2);
    EXPECT_EQ(c->status.get(), completedSentence);
    EXPECT_TRUE(c->lastExports->empty());
    EXPECT_FALSE(fs::exists(c->output));
}

TEST_F(Run, AStartWhoseQuestionIsOvertakenEndsWithoutEffect) {
    c = gated();
    test::FakeDestination destination;
    c->destinationProvider = destination.provider();
    openQueue(*c, {{test::writeDocument(tmp / "a.pdf", 2)}}, c->currentSettings(), false);
    c->autoSave = true;
    const fs::path second = tmp / "second";
    destination.answers = {test::FakeDestination::Hold{}, std::optional<fs::path>(second)};

    test::Spawned<void> first(c->start());
    ASSERT_TRUE(test::spinUntil([&] { return destination.holding(); }));
    EXPECT_FALSE(c->busy.get());
    // The second start, answered at once, is running when its await returns.
    test::runTask(c->start());
    EXPECT_TRUE(c->busy.get());
    const UUID launched = c->generation;
    destination.release(tmp / "first");
    ASSERT_TRUE(first.finish());
    EXPECT_EQ(c->generation, launched);
    EXPECT_EQ(c->automaticDestination, second);
    EXPECT_TRUE(c->busy.get());  // the gate holds the one run
    gate.open();
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }));
    EXPECT_EQ(c->status.get(), completedSentence);
    EXPECT_EQ(gate.counts(), (std::map<int64_t, int>{{1, 1}, {2, 1}}));
    EXPECT_TRUE(fs::exists(second / "OCR-結果.txt"));
    EXPECT_FALSE(fs::exists(tmp / "first"));
}

// ---- passwords

TEST_F(Run, TheTypedPasswordGoesToTheFirstWaitingPDF) {
    c = controller();
    const fs::path a = test::lockPDF(test::writeDocument(tmp / "a-plain.pdf", 1), tmp / "a.pdf", "あ");
    const fs::path b = test::lockPDF(test::writeDocument(tmp / "b-plain.pdf", 1), tmp / "b.pdf", "い");
    auto engine = openQueue(*c, {{a}, {b}}, c->currentSettings(), false);
    const UUID first = engine->snapshot().inputs[0].id;
    const UUID second = engine->snapshot().inputs[1].id;

    runToEnd(*c);
    EXPECT_EQ(c->status.get(), needPassword);
    EXPECT_FALSE(c->passwordsWereSupplied);

    // The second is selected; the password is typed for the first waiting.
    c->selectedID = second;
    c->password = "あ";
    runToEnd(*c);
    EXPECT_TRUE(c->passwordsWereSupplied);
    EXPECT_EQ(c->password.get(), "");
    EXPECT_EQ(c->snapshot->value().input(first)->status, InputStatus::completed);
    EXPECT_EQ(c->snapshot->value().input(second)->status, InputStatus::waitingPassword);
    // A password was typed and a PDF still waits: it reads as a wrong one.
    EXPECT_EQ(c->status.get(), wrongPassword);

    c->password = "違う";
    runToEnd(*c);
    EXPECT_EQ(c->status.get(), wrongPassword);
    EXPECT_EQ(QueueRunProbe::unlocked(*c).at(second), "違う");

    c->password = "い";
    runToEnd(*c);
    EXPECT_EQ(c->status.get(), completedSentence);
}

TEST_F(Run, AnEmptyFieldStillPassesThePasswordTypedBefore) {
    c = gated();
    const fs::path locked = test::lockPDF(test::writeDocument(tmp / "plain.pdf", 3), tmp / "locked.pdf", "ひらけ");
    auto engine = openQueue(*c, {{locked}}, c->currentSettings(), false);
    c->automatic = false;
    c->password = "ひらけ";
    test::runTask(c->start());
    ASSERT_TRUE(gate.held(1));
    c->stop(JobControl::Stop::pause);
    gate.allow(1);
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }));
    EXPECT_EQ(c->status.get(), pausedSentence);
    EXPECT_EQ(c->snapshot->value().completedPages(), 1);

    // Nothing typed this time: the stored password still opens the PDF.
    gate.open();
    runToEnd(*c);
    EXPECT_FALSE(c->passwordsWereSupplied);
    EXPECT_EQ(c->status.get(), completedSentence);
    EXPECT_EQ(c->snapshot->value().completedPages(), 3);
}

// Opened, a locked PDF says so at once; its password typed, its page shows
// while it is read, and a wrong one leaves it asking.
TEST_F(Run, ALockedPDFSaysSoOnOpeningAndShowsItsPageOnceUnlocked) {
    c = gated();
    c->automatic = false;
    const fs::path locked = test::lockPDF(test::writeDocument(tmp / "plain.pdf", 2), tmp / "locked.pdf", "ひらけ");
    test::runTask(c->requestSelection({locked}));
    ASSERT_TRUE(test::spinUntil([&] { return !c->importing.get() && c->engine; }));
    ASSERT_TRUE(test::pictured(*c));
    EXPECT_EQ(c->status.get(), "パスワードで保護されたPDFです。PDFパスワードを入力して「解除してOCR」を押してください。");
    EXPECT_TRUE(c->shownLocked());
    EXPECT_FALSE(c->preview->has_value());

    c->password = "違う";
    test::runTask(c->start());
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }));
    ASSERT_TRUE(test::pictured(*c));
    EXPECT_EQ(c->status.get(), wrongPassword);
    EXPECT_TRUE(c->shownLocked());
    EXPECT_FALSE(c->preview->has_value());

    c->password = "ひらけ";
    test::runTask(c->start());
    ASSERT_TRUE(gate.held(1));
    EXPECT_TRUE(c->busy.get());
    ASSERT_TRUE(test::pictured(*c));
    EXPECT_FALSE(c->shownLocked());
    ASSERT_TRUE(c->preview->has_value());
    EXPECT_EQ(c->previewPageCount.get(), 2);
    gate.open();
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }));
    EXPECT_FALSE(c->shownLocked());
}

TEST_F(Run, CancellingAPasswordGivesUpTheSelectedInputOnly) {
    c = controller();
    const fs::path locked = test::lockPDF(test::writeDocument(tmp / "plain.pdf", 1), tmp / "locked.pdf", "pw");
    const fs::path open = test::writeDocument(tmp / "open.pdf", 1);
    auto engine = openQueue(*c, {{locked}, {open}}, c->currentSettings(), false);
    runToEnd(*c);
    EXPECT_EQ(c->status.get(), needPassword);

    c->password = "途中";
    c->setBusy(true);
    c->cancelPassword();
    EXPECT_EQ(c->status.get(), needPassword);
    EXPECT_EQ(c->password.get(), "途中");
    c->setBusy(false);

    const UUID selected = c->selectedID->value();
    c->selectedID = UUID::random();  // the engine refuses an input it does not hold
    c->cancelPassword();
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::invalidInput));

    c->selectedID = selected;
    c->cancelPassword();
    EXPECT_EQ(c->status.get(), "このファイルを取消しました。他の未処理ファイルは続行できます。");
    EXPECT_EQ(c->password.get(), "");
    EXPECT_EQ(c->snapshot->value().inputs[0].status, InputStatus::cancelled);
    // The rest runs; a queue with no completed page of the given-up input
    // but one of another is simply done.
    runToEnd(*c);
    EXPECT_EQ(c->status.get(), completedSentence);
}

TEST_F(Run, ClosingStoresTheEditAndForgetsPasswordsOnlyWhenItCan) {
    c = controller();
    openRunQueue(*c, {1}, c->currentSettings());
    c->showPage();
    c->password = "typed";
    runToEnd(*c);  // keeps "typed" for the selected input
    ASSERT_EQ(QueueRunProbe::unlocked(*c).size(), 1u);
    c->password = "again";

    const fs::path file = folderOf(*c) / "queue.json";
    c->engine->flush();  // no earlier store still on its way
    const std::string good = test::readFile(file);
    c->loadingDecoration = true;
    c->setEdited(test::fixedText(1) + "。");
    c->loadingDecoration = false;
    test::writeFile(file, good + " ");
    EXPECT_THROW(c->prepareToClose(), BrindlexError);
    EXPECT_EQ(c->password.get(), "again");
    EXPECT_EQ(QueueRunProbe::unlocked(*c).size(), 1u);

    test::writeFile(file, good);
    c->prepareToClose();
    EXPECT_EQ(c->password.get(), "");
    EXPECT_TRUE(QueueRunProbe::unlocked(*c).empty());
    EXPECT_EQ(OCRQueueEngine::inspect(folderOf(*c)).inputs[0].editedPages.at(1), test::fixedText(1) + "。");
}

// ---- how a run ends

TEST_F(Run, StoppingSaysSoAndTheRunEndsAsAsked) {
    c = gated();
    auto engine = openQueue(*c, {{test::writeDocument(tmp / "a.pdf", 3)}}, c->currentSettings(), false);
    c->automatic = false;

    test::runTask(c->start());
    EXPECT_EQ(c->status.get(), running);
    ASSERT_TRUE(gate.held(1));
    c->stop(JobControl::Stop::pause);
    EXPECT_EQ(c->status.get(), "一時停止を受付中。実行中ページの確定を待っています");
    gate.allow(1);
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }));
    EXPECT_EQ(c->status.get(), pausedSentence);
    EXPECT_EQ(pageStates(*engine), (std::vector<PageState>{PageState::completed, PageState::pending,
                                                           PageState::pending}));

    // Cancel after pause wins, and a later pause cannot take it back.
    test::runTask(c->start());
    ASSERT_TRUE(gate.held(1));
    c->stop(JobControl::Stop::pause);
    c->stop(JobControl::Stop::cancel);
    EXPECT_EQ(c->status.get(), "中止を受付中。新しいページは投入しません");
    c->stop(JobControl::Stop::pause);
    EXPECT_EQ(c->status.get(), "一時停止を受付中。実行中ページの確定を待っています");
    gate.allow(1);
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }));
    EXPECT_EQ(c->status.get(), cancelledSentence);
    EXPECT_EQ(c->snapshot->value().status, QueueStatus::cancelled);
    EXPECT_EQ(c->snapshot->value().completedPages(), 2);

    // A stop with no run only says so.
    c->stop(JobControl::Stop::pause);
    EXPECT_EQ(c->status.get(), "一時停止を受付中。実行中ページの確定を待っています");
    EXPECT_FALSE(c->busy.get());
}

TEST_F(Run, TheEndSentenceTableIsReadInOrder) {
    c = gated();
    c->automatic = false;
    // Paused with a failed page from before: the failed page says it.
    const fs::path failing = test::writeDocument(tmp / "failing.pdf", 2);
    const fs::path next = test::writeDocument(tmp / "next.pdf", 2);
    auto engine = openQueue(*c, {{failing}, {next}}, c->currentSettings(), false);
    {
        // The set-up run fails the first page of the first document and is
        // paused before the second document.
        JobControl setUp;
        gate.allow(1);
        engine->run(setUp, false, {}, {{engine->snapshot().inputs[0].id, {1}}},
                    [&](const QueueSnapshot& s) {
                        if (s.inputs[0].status == InputStatus::completed) setUp.request(JobControl::Stop::pause);
                    });
    }
    ASSERT_EQ(engine->snapshot().failedPages(), 1);
    c->snapshot = engine->snapshot();
    test::runTask(c->start());
    ASSERT_TRUE(gate.held(1));
    c->stop(JobControl::Stop::pause);
    gate.allow(1);
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }));
    EXPECT_EQ(c->snapshot->value().status, QueueStatus::paused);
    EXPECT_EQ(c->status.get(), failedPagesSentence);

    // Run to its end with the failed page still there.
    gate.open();
    runToEnd(*c);
    EXPECT_EQ(c->snapshot->value().status, QueueStatus::completed);
    EXPECT_EQ(c->status.get(), failedPagesSentence);

    // A plain finished queue.
    openQueue(*c, {{test::writeDocument(tmp / "plain.pdf", 1)}}, c->currentSettings(), false);
    runToEnd(*c);
    EXPECT_EQ(c->status.get(), completedSentence);

    // Nothing read at all: not "some pages".
    test::writeFile(tmp / "notes.pdf", "PDFではない文書");
    openQueue(*c, {{tmp / "notes.pdf"}}, c->currentSettings(), false);
    runToEnd(*c);
    EXPECT_EQ(c->snapshot->value().inputs[0].status, InputStatus::failed);
    EXPECT_EQ(c->status.get(), "ページを読み取れませんでした。原稿を確認してください。");
}

TEST_F(Run, PagesOfTheOtherOrientationSayWhichModeReadsThem) {
    c = gated();
    c->automatic = false;
    gate.open();
    // Every page refused as vertical text: the end says to change the mode.
    gate.failing = {{1, ErrorCase::looksVertical}, {2, ErrorCase::looksVertical}};
    openQueue(*c, {{test::writeDocument(tmp / "columns.pdf", 2)}}, c->currentSettings(), false);
    runToEnd(*c);
    ASSERT_EQ(c->snapshot->value().failedPages(), 2);
    EXPECT_EQ(c->status.get(), QueueController::errorSentence(ErrorCase::looksVertical));

    // A run with another failure as well keeps the plain sentence: the
    // other mode would not read that one.
    test::writeFile(tmp / "notes.pdf", "PDFではない文書");
    gate.failing = {{1, ErrorCase::looksHorizontal}};
    openQueue(*c, {{test::writeDocument(tmp / "lines.pdf", 1)}, {tmp / "notes.pdf"}}, c->currentSettings(), false);
    runToEnd(*c);
    ASSERT_EQ(c->snapshot->value().failedPages(), 1);
    EXPECT_EQ(c->status.get(), "ページを読み取れませんでした。原稿を確認してください。");

    // Some pages read: the sentence keeps the results they hold.
    gate.failing = {{1, ErrorCase::looksVertical}};
    openQueue(*c, {{test::writeDocument(tmp / "mixed.pdf", 2)}}, c->currentSettings(), false);
    runToEnd(*c);
    EXPECT_EQ(c->snapshot->value().failedPages(), 1);
    EXPECT_EQ(c->status.get(), failedPagesSentence);
}

TEST_F(Run, ARunThatThrowsClearsBusyAndShowsItsError) {
    c = controller();
    auto engine = openQueue(*c, {{test::writeDocument(tmp / "a.pdf", 1)}}, c->currentSettings(), false);
    const fs::path file = folderOf(*c) / "queue.json";
    test::writeFile(file, test::readFile(file) + " ");
    runToEnd(*c);
    EXPECT_FALSE(c->busy.get());
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::confirmationChanged));
    EXPECT_EQ(c->snapshot->value().completedPages(), 0);
}

TEST_F(Run, ABlankResultSaysSoOnlyWhenPagesCompleted) {
    c = gated();
    gate.open();
    gate.blank = true;
    openQueue(*c, {{test::writeDocument(tmp / "blank.pdf", 2)}}, c->currentSettings(), false);
    runToEnd(*c);
    EXPECT_EQ(c->snapshot->value().status, QueueStatus::completed);
    EXPECT_EQ(c->status.get(), noText);

    // Done without one completed page: the given-up PDF has nothing to say.
    const fs::path locked = test::lockPDF(test::writeDocument(tmp / "plain.pdf", 1), tmp / "locked.pdf", "pw");
    openQueue(*c, {{locked}}, c->currentSettings(), false);
    runToEnd(*c);
    c->cancelPassword();
    runToEnd(*c);
    EXPECT_EQ(c->snapshot->value().status, QueueStatus::completed);
    EXPECT_EQ(c->snapshot->value().completedPages(), 0);
    EXPECT_EQ(c->status.get(), completedSentence);
}

// ---- the automatic TXT

TEST_F(Run, AFinishedQueuePublishesItsTextOnceAndRecordsIt) {
    c = controller();
    c->autoSave = true;
    auto engine = openQueue(*c, {{test::writeDocument(tmp / "a.pdf", 2)}}, c->currentSettings(), false);
    runToEnd(*c);
    EXPECT_EQ(c->status.get(), completedSentence);
    const fs::path txt = c->output / "OCR-結果.txt";
    ASSERT_EQ(c->lastExports.get(), std::vector<fs::path>{txt});
    EXPECT_EQ(test::readFile(txt), "--- ページ 1 ---\n" + test::fixedText(1) + "\n\n--- ページ 2 ---\n" + test::fixedText(2));
    EXPECT_FALSE(c->automaticDestination);
    const QueueSnapshot stored = OCRQueueEngine::inspect(folderOf(*c));
    ASSERT_TRUE(stored.automaticExports);
    EXPECT_EQ(*stored.automaticExports, std::vector<std::string>{"queue-completed"});
    auto entries = AppHistory::required()->entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].id, stored.id);
    EXPECT_EQ(entries[0].kind, "ocr");
    EXPECT_EQ(entries[0].state, "completed");
    ASSERT_EQ(entries[0].outputs.size(), 1u);
    EXPECT_EQ(entries[0].outputs[0].path, txt.string());
    EXPECT_EQ(entries[0].outputs[0].state, SavedOutput::State::available);

    // Started again when done: nothing new, and the last exports stay.
    const std::vector<fs::path> manual{tmp / "manual.txt"};
    c->lastExports = manual;
    runToEnd(*c);
    EXPECT_EQ(c->lastExports.get(), manual);
    EXPECT_EQ(test::listNames(c->output), std::vector<std::string>{"OCR-結果.txt"});
    EXPECT_EQ(AppHistory::required()->entries().size(), 1u);

    // Another queue into the same folder takes the next name.
    openQueue(*c, {{test::writeDocument(tmp / "b.pdf", 1)}}, c->currentSettings(), false);
    runToEnd(*c);
    EXPECT_EQ(c->lastExports.get(), std::vector<fs::path>{c->output / "OCR-結果_001.txt"});
    EXPECT_EQ(test::readFile(c->output / "OCR-結果.txt"),
              "--- ページ 1 ---\n" + test::fixedText(1) + "\n\n--- ページ 2 ---\n" + test::fixedText(2));
    EXPECT_EQ(AppHistory::required()->entries().size(), 2u);
}

TEST_F(Run, OnlyACompletedQueueGetsItsText) {
    c = gated();
    c->autoSave = true;
    c->automatic = false;
    openQueue(*c, {{test::writeDocument(tmp / "a.pdf", 2)}}, c->currentSettings(), false);
    test::runTask(c->start());
    ASSERT_TRUE(gate.held(1));
    c->stop(JobControl::Stop::pause);
    gate.allow(1);
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }));
    EXPECT_EQ(c->status.get(), pausedSentence);
    EXPECT_FALSE(fs::exists(c->output));
    EXPECT_TRUE(c->lastExports->empty());
    EXPECT_FALSE(c->automaticDestination);
}

TEST_F(Run, AHistoryFailureKeepsTheTextAndTheKey) {
    c = controller();
    test::FakeDestination destination;
    c->destinationProvider = destination.provider();
    c->autoSave = true;
    const fs::path elsewhere = tmp / "elsewhere";
    destination.answers = {std::optional<fs::path>(elsewhere)};
    openQueue(*c, {{test::writeDocument(tmp / "a.pdf", 1)}}, c->currentSettings(), false);
    runToEnd(*c);
    EXPECT_EQ(c->status.get(), completedSentence);
    EXPECT_TRUE(fs::exists(elsewhere / "OCR-結果.txt"));
    EXPECT_EQ(AppHistory::startupNotice().get(), historyNotice);
    EXPECT_TRUE(AppHistory::required()->entries().empty());
    EXPECT_EQ(*OCRQueueEngine::inspect(folderOf(*c)).automaticExports, std::vector<std::string>{"queue-completed"});
}

TEST_F(Run, ADestinationThatCannotBeOpenedKeepsTheResults) {
    c = controller();
    test::FakeDestination destination;
    c->destinationProvider = destination.provider();
    c->autoSave = true;
    const fs::path blocked = tmp / "blocked";
    test::writeFile(blocked, "a file where the folder should be");
    destination.answers = {std::optional<fs::path>(blocked)};
    openQueue(*c, {{test::writeDocument(tmp / "a.pdf", 2)}}, c->currentSettings(), false);
    runToEnd(*c);
    EXPECT_EQ(c->status.get(), textFailed);
    EXPECT_EQ(c->snapshot->value().completedPages(), 2);
    EXPECT_TRUE(c->lastExports->empty());
    EXPECT_FALSE(OCRQueueEngine::inspect(folderOf(*c)).automaticExports.has_value() &&
                 !OCRQueueEngine::inspect(folderOf(*c)).automaticExports->empty());
    EXPECT_FALSE(c->automaticDestination);
}

// ---- delivery

TEST_F(Run, ReportsOfAnotherGenerationOrAfterTheEndChangeNothing) {
    c = gated();
    c->automatic = false;
    auto engine = openQueue(*c, {{test::writeDocument(tmp / "a.pdf", 2)}}, c->currentSettings(), false);
    test::runTask(c->start());
    ASSERT_TRUE(gate.held(1));
    // The queue is let go of while it runs: its reports and its end are
    // someone else's now.
    c->detachQueue();
    const std::string status = c->status.get();
    gate.open();
    ASSERT_TRUE(test::spinUntil([&] { return engine->snapshot().status == QueueStatus::completed; }));
    test::spinFor(100ms);
    EXPECT_FALSE(c->snapshot->has_value());
    EXPECT_EQ(c->status.get(), status);
    EXPECT_TRUE(c->busy.get());  // as the newer state left it

    // A run that ended drops a report that comes after its end.
    c->setBusy(false);
    openRunQueue(*c, {1}, c->currentSettings());
    runToEnd(*c);
    const QueueSnapshot ended = c->snapshot->value();
    QueueSnapshot late = ended;
    late.status = QueueStatus::running;
    QueueRunProbe::deliver(*c, late, c->generation);
    EXPECT_EQ(c->snapshot->value(), ended);
    c->setBusy(true);
    QueueRunProbe::deliver(*c, late, UUID::random());
    EXPECT_EQ(c->snapshot->value(), ended);
    QueueRunProbe::deliver(*c, late, c->generation);
    EXPECT_EQ(c->snapshot->value(), late);
    c->setBusy(false);
}

TEST_F(Run, HowFarThePageUnderWayIsReadIsPublishedUntilItsEnd) {
    // Each page tells half of it read, then waits to be let through.
    std::atomic<int> released{0};
    QueuePorts ports;
    ports.configureEngine = [&released](OCRQueueEngine& engine) {
        engine.setRecognizer([&released](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                                         const std::function<bool()>&) {
            RecognitionProgress::report(0.5);
            while (released.load() < page) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return PageResult(page, test::fixedRegions(page), 0.01, image.width(), image.height());
        });
    };
    c = controller(ports);
    c->automatic = false;
    openQueue(*c, {{test::writeDocument(tmp / "a.pdf", 2)}}, c->currentSettings(), false);
    const UUID input = c->snapshot->value().inputs[0].id;
    test::runTask(c->start());
    ASSERT_TRUE(test::spinUntil([&] { return c->reading->has_value(); }));
    EXPECT_EQ(c->reading.get(), (QueueController::Reading{input, 1, 0.5}));

    // Its page done, the next one's reading replaces it.
    released = 1;
    ASSERT_TRUE(test::spinUntil([&] { return c->reading->has_value() && c->reading->value().page == 2; }));
    EXPECT_EQ(c->snapshot->value().completedPages(), 1);
    // A late report of the finished page, or of another run, changes nothing.
    QueueRunProbe::read(*c, input, 1, 0.9, c->generation);
    QueueRunProbe::read(*c, input, 2, 0.9, UUID::random());
    EXPECT_EQ(c->reading.get(), (QueueController::Reading{input, 2, 0.5}));

    released = 2;
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }));
    EXPECT_FALSE(c->reading->has_value());
    EXPECT_EQ(c->status.get(), "完了");
}

TEST_F(Run, TheCompletedCountNeverGoesBackAndTheSelectedPageShowsWhenDone) {
    c = controller();
    c->automatic = true;  // pages on two workers, reporting concurrently
    openQueue(*c, {{test::writeDocument(tmp / "long.pdf", 60)}}, c->currentSettings(), false);
    std::vector<int64_t> seen;
    sigc::connection watch = c->changed.connect([&] {
        if (c->snapshot->has_value()) seen.push_back(c->snapshot->value().completedPages());
    });
    runToEnd(*c);
    watch.disconnect();
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.back(), 60);

    c = gated();
    c->automatic = false;
    openQueue(*c, {{test::writeDocument(tmp / "three.pdf", 3)}}, c->currentSettings(), false);
    c->page = 2;
    test::runTask(c->start());
    gate.allow(1);
    ASSERT_TRUE(test::spinUntil([&] { return c->snapshot->value().completedPages() == 1; }));
    EXPECT_EQ(c->original.get(), "");
    gate.allow(1);
    // Shown while the third page still waits at the gate, so by a report.
    ASSERT_TRUE(test::spinUntil([&] { return c->original.get() == test::fixedText(2); }));
    EXPECT_TRUE(c->busy.get());
    EXPECT_EQ(c->page.get(), 2);
    gate.open();
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }));
}

TEST_F(Run, AControllerReleasedMidRunLeavesItsQueuePausedAndResumable) {
    c = gated();
    gate.passOnStop = true;
    c->automatic = false;
    auto engine = openQueue(*c, {{test::writeDocument(tmp / "a.pdf", 12)}}, c->currentSettings(), false);
    const fs::path folder = folderOf(*c);
    test::runTask(c->start());
    gate.allow(2);
    ASSERT_TRUE(test::spinUntil([&] { return c->snapshot->value().completedPages() == 2; }));
    ASSERT_TRUE(gate.held(1));

    std::weak_ptr<QueueController> weak = c;
    c = nullptr;
    // The destructor paused the run and waited for its thread: the page in
    // flight was committed and the run is over.
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(engine->active());
    test::spinFor(50ms);  // what the thread posted finds nobody
    const QueueSnapshot left = OCRQueueEngine::inspect(folder);
    EXPECT_EQ(left.status, QueueStatus::paused);
    EXPECT_EQ(left.completedPages(), 3);
    engine = nullptr;

    c = gated();
    gate.open();
    auto resumed = std::shared_ptr<OCRQueueEngine>(OCRQueueEngine::resume(folder, c->currentSettings()));
    c->ports().configure(*resumed);
    c->engine = resumed;
    c->snapshot = resumed->snapshot();
    c->selectedID = resumed->snapshot().inputs[0].id;
    runToEnd(*c);
    EXPECT_EQ(c->status.get(), completedSentence);
    const auto counts = gate.counts();
    ASSERT_EQ(counts.size(), 12u);
    for (const auto& [page, times] : counts) EXPECT_EQ(times, 1) << "page " << page;
}
