#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "PortFakes.hpp"
#include "RunFixtures.hpp"
#include "ocrjobs/QueueSnapshot.hpp"

using namespace velmora;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* restartQuestion = "別の試行として最初から処理しますか？";
constexpr const char* notStarted = "新しい試行は未開始です。旧結果は保持しています。";
constexpr const char* completedSentence = "完了";

std::map<fs::path, std::string> contents(const fs::path& folder) {
    std::map<fs::path, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files[fs::relative(entry.path(), folder)] = test::readFile(entry.path());
    }
    return files;
}

std::vector<fs::path> paths(const QueueSnapshot& s) {
    std::vector<fs::path> out;
    for (const QueueInput& input : s.inputs) out.emplace_back(input.path);
    return out;
}

class Restart : public ::testing::Test, protected test::RunRoots {
protected:
    // Declared before the controller: its destructor waits for a run held
    // at the gate, so the gate opens first (TearDown).
    test::PageGate gate;
    std::shared_ptr<test::FakeConfirmer> confirmer = std::make_shared<test::FakeConfirmer>();
    std::shared_ptr<test::FakeFilePicker> picker = std::make_shared<test::FakeFilePicker>();
    std::shared_ptr<QueueController> c;

    void TearDown() override { gate.open(); }

    // A controller whose pages pass the gate as the test allows.
    std::shared_ptr<QueueController> gated() {
        QueuePorts ports = gate.ports();
        ports.confirmer = confirmer;
        ports.filePicker = picker;
        return controller(std::move(ports));
    }
    std::shared_ptr<QueueController> free() {
        QueuePorts ports = test::fakeRecognition();
        ports.confirmer = confirmer;
        ports.filePicker = picker;
        return controller(std::move(ports));
    }

    static fs::path folderOf(const OCRQueueEngine& engine) { return engine.directory()->url(); }

    void waitIdle() { ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get() && !c->importing.get(); }, 60s)); }

    // The parent folder of saved queues replaced by a file, so no new queue
    // can be made there; the queues already open keep their folders.
    void blockParent() {
        fs::rename(c->parent, tmp / "queues-aside");
        test::writeFile(c->parent, "not a folder");
    }
    void unblockParent() {
        fs::remove(c->parent);
        fs::rename(tmp / "queues-aside", c->parent);
    }
};

}  // namespace

// ---- restart

TEST_F(Restart, ANewTrialOpensAndRunsWhileTheOldQueueStaysAsItWas) {
    c = gated();
    gate.allow(3);
    auto old = openRunQueue(*c, {2, 1}, c->currentSettings());
    const fs::path oldFolder = folderOf(*old);
    c->applyEdit();  // the selection is stored now, not by the restart
    ASSERT_TRUE(test::spinUntil([&] { return !c->editWritePending(); }));
    const auto before = contents(oldFolder);

    // Read: asked, however it was opened.
    confirmer->answers = {true};
    test::Spawned<void> restart(c->requestRestart());
    ASSERT_TRUE(test::spinUntil([&] { return restart.out->finished; }));
    EXPECT_EQ(confirmer->asked.size(), 1u);
    ASSERT_TRUE(c->engine);
    EXPECT_NE(c->engine, old);
    EXPECT_EQ(c->previousEngine, old);
    // Open at its first input and page, nothing shown yet, its run held at
    // the gate on its first page.
    const QueueSnapshot trial = c->engine->snapshot();
    EXPECT_EQ(paths(trial), paths(old->snapshot()));
    EXPECT_EQ(c->selectedID.get(), trial.inputs.front().id);
    EXPECT_EQ(c->page.get(), 1);
    EXPECT_TRUE(QueueControllerProbe::decorations(*c).empty());
    EXPECT_TRUE(c->busy.get());
    EXPECT_FALSE(c->importing.get());
    ASSERT_TRUE(gate.held(1));

    gate.open();
    waitIdle();
    EXPECT_EQ(c->status.get(), completedSentence);
    EXPECT_EQ(c->snapshot->value().completedPages(), 3);
    EXPECT_EQ(contents(oldFolder), before);
    const auto& saved = c->savedQueues.get();
    EXPECT_NE(std::find(saved.begin(), saved.end(), oldFolder), saved.end());
    // The trial on screen is no candidate for resuming.
    EXPECT_EQ(std::find(saved.begin(), saved.end(), folderOf(*c->engine)), saved.end());
}

TEST_F(Restart, AManagedOrEditedQueueAsksAndCancelChangesNothing) {
    c = free();
    auto old = openRunQueue(*c, {1}, c->currentSettings());
    c->managedQueue = true;
    c->status = "前の文";
    test::runTask(c->requestRestart());
    ASSERT_EQ(confirmer->asked.size(), 1u);
    EXPECT_EQ(confirmer->asked[0].message, restartQuestion);
    EXPECT_EQ(confirmer->asked[0].confirmLabel, "最初から処理");
    // Nothing was edited: no word of edits. The results stay with the
    // earlier trial, so going ahead loses nothing.
    EXPECT_EQ(confirmer->asked[0].informative,
              "今の結果は前の試行として残り、「再開候補」から開けます。画面には新しい試行を表示します。"
              "保存済みファイルと原稿は削除しません。");
    EXPECT_EQ(confirmer->asked[0].ahead, AnswerAhead::suggested);
    EXPECT_EQ(c->engine, old);
    EXPECT_EQ(c->status.get(), "前の文");
    EXPECT_FALSE(c->busy.get());

    // Edited text asks too; a run begun while the question was open makes
    // the answer void.
    c->managedQueue = false;
    c->showPage();
    c->editText("新" + test::fixedText(1), std::nullopt, std::nullopt, false);
    confirmer->answers = {true};
    confirmer->afterTurn = true;
    test::Spawned<void> asked(c->requestRestart());
    ASSERT_TRUE(test::spinUntil([&] { return confirmer->asked.size() == 2; }));
    // One account of the edits, and a true one: kept with the earlier
    // trial, which stays among the saved queues (below).
    EXPECT_EQ(confirmer->asked[1].informative,
              "今の結果と編集は前の試行として残り、「再開候補」から開けます。画面には新しい試行を表示します。"
              "保存済みファイルと原稿は削除しません。");
    c->setBusy(true);
    ASSERT_TRUE(test::spinUntil([&] { return asked.out->finished; }));
    EXPECT_EQ(c->engine, old);
    c->setBusy(false);

    confirmer->answers = {true};
    test::runTask(c->requestRestart());
    EXPECT_EQ(confirmer->asked.size(), 3u);
    EXPECT_NE(c->engine, old);
    waitIdle();
    EXPECT_EQ(c->status.get(), completedSentence);
    // The edit went with the old queue, stored before it was let go, and
    // the old queue is a resume candidate as the question said.
    EXPECT_EQ(old->snapshot().inputs[0].editedPages.at(1), "新" + test::fixedText(1));
    EXPECT_EQ(OCRQueueEngine::inspect(old->directory()->url()).inputs[0].editedPages.at(1), "新" + test::fixedText(1));
    const auto& saved = c->savedQueues.get();
    EXPECT_NE(std::find(saved.begin(), saved.end(), old->directory()->url()), saved.end());

    // A queue in memory keeps nothing once it is let go: the question says
    // so, and going ahead is destructive.
    EXPECT_EQ(QueueController::restartInformative(true, false),
              "メモリ限定の処理のため、今の結果と編集は残りません。必要な場合は先にTXTを保存してください。"
              "保存済みファイルと原稿は削除しません。");
    c->privateInput = true;
    openRunQueue(*c, {1}, c->currentSettings());
    c->snapshot.update([](std::optional<QueueSnapshot>& s) { s->inputs[0].origin = InputOrigin::privateSession; });
    ASSERT_TRUE(c->isPrivateQueue());
    c->managedQueue = true;
    confirmer->answers = {false};
    test::runTask(c->requestRestart());
    ASSERT_EQ(confirmer->asked.size(), 4u);
    EXPECT_EQ(confirmer->asked[3].informative, QueueController::restartInformative(false, false));
    EXPECT_EQ(confirmer->asked[3].ahead, AnswerAhead::destructive);
}

TEST_F(Restart, AStopDuringThePreparationLeavesTheNewTrialUnstarted) {
    c = gated();
    gate.allow(1);
    auto old = openRunQueue(*c, {1}, c->currentSettings());
    // The stop and another action are queued behind the restart's start, in
    // the main loop's same turn: they run once the trial's build is on its
    // worker and before its result can come back, however fast the build.
    test::Spawned<void> restart(c->restart());
    bool buildingWhenStopped = false;
    detail::onMainContext([&] {
        buildingWhenStopped = c->importing.get() && c->busy.get();
        c->stop(JobControl::Stop::pause);
    });
    // Every other action waits while the trial is built.
    test::Spawned<void> reselect(c->reselect());
    ASSERT_TRUE(test::spinUntil([&] { return restart.out->finished && reselect.out->finished; }));
    EXPECT_TRUE(buildingWhenStopped);
    EXPECT_TRUE(picker->openRequests.empty());
    EXPECT_NE(c->engine, old);
    EXPECT_EQ(c->snapshot->value().status, QueueStatus::ready);
    EXPECT_FALSE(c->busy.get());
    EXPECT_FALSE(c->importing.get());
    EXPECT_EQ(c->status.get(), notStarted);
    test::spinFor(50ms);
    EXPECT_TRUE(gate.counts().at(1) == 1);
}

TEST_F(Restart, ATrialThatCannotBeBuiltKeepsTheOldQueue) {
    c = free();
    auto old = openRunQueue(*c, {1}, c->currentSettings());
    blockParent();
    test::runTask(c->restart());
    EXPECT_EQ(c->engine, old);
    EXPECT_FALSE(c->busy.get());
    EXPECT_FALSE(c->importing.get());
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::unsafePath));
    unblockParent();

    // A queue without inputs: the engine makes no queue of nothing.
    QueueSnapshot empty(c->currentSettings(), {});
    const fs::path folder = c->parent / empty.id.text();
    fs::create_directories(folder);
    test::writeFile(folder / "queue.json", Json(QueueEnvelope::seal(empty)).dump());
    std::shared_ptr<OCRQueueEngine> none = OCRQueueEngine::resume(folder, c->currentSettings());
    c->engine = none;
    c->snapshot = none->snapshot();
    c->selectedID = std::nullopt;
    test::runTask(c->restart());
    EXPECT_EQ(c->engine, none);
    EXPECT_FALSE(c->busy.get());
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::invalidInput));
}

TEST_F(Restart, TheStartButtonRestartsOnlyAQueueWithResultsOrOtherSettings) {
    c = free();
    // Fresh, same settings: started as it is.
    auto fresh = openQueue(*c, {{test::writeDocument(tmp / "fresh.pdf", 1)}}, c->currentSettings(), false);
    test::runTask(c->startProduct());
    waitIdle();
    EXPECT_EQ(c->engine, fresh);
    EXPECT_EQ(c->status.get(), completedSentence);

    // With a completed page: a new trial, once the question is answered.
    confirmer->answers = {true};
    test::runTask(c->startProduct());
    EXPECT_NE(c->engine, fresh);
    waitIdle();
    EXPECT_EQ(c->status.get(), completedSentence);

    // Cancelled before any page: the same queue starts again, leaving no
    // identical resume candidate behind per stop.
    auto cancelled = openQueue(*c, {{test::writeDocument(tmp / "cancelled.pdf", 1)}}, c->currentSettings(), false);
    c->refreshSaved();
    const std::size_t candidates = c->savedQueues->size();
    JobControl stop;
    stop.request(JobControl::Stop::cancel);
    cancelled->run(stop, false, {}, {}, [](const QueueSnapshot&) {});
    c->snapshot = cancelled->snapshot();
    ASSERT_EQ(c->snapshot->value().status, QueueStatus::cancelled);
    ASSERT_EQ(c->snapshot->value().completedPages(), 0);
    test::runTask(c->startProduct());
    EXPECT_EQ(c->engine, cancelled);
    waitIdle();
    EXPECT_EQ(c->status.get(), completedSentence);
    c->refreshSaved();
    EXPECT_EQ(c->savedQueues->size(), candidates);

    // Made under other settings: a new trial under the current ones.
    auto other = openQueue(*c, {{test::writeDocument(tmp / "other.pdf", 1)}}, test::settingsIn(OCRMode::vertical),
                           false);
    test::runTask(c->startProduct());
    EXPECT_NE(c->engine, other);
    EXPECT_EQ(c->engine->snapshot().settings, c->currentSettings());
    waitIdle();
    EXPECT_EQ(c->status.get(), completedSentence);
}

TEST_F(Restart, AQueueNeverReadIsReplacedWithoutAQuestion) {
    c = free();
    // Shown in the list and made under another mode, nothing read yet: the
    // start makes the new trial at once.
    auto unread = openQueue(*c, {{test::writeDocument(tmp / "dropped.pdf", 1)}}, test::settingsIn(OCRMode::vertical),
                            false);
    c->managedQueue = true;
    test::runTask(c->startProduct());
    EXPECT_TRUE(confirmer->asked.empty());
    EXPECT_NE(c->engine, unread);
    waitIdle();
    EXPECT_EQ(c->engine->snapshot().settings, c->currentSettings());
    EXPECT_EQ(c->status.get(), completedSentence);

    // Once read, the results are what the question is about.
    confirmer->answers = {false};
    const auto read = c->engine;
    test::runTask(c->startProduct());
    EXPECT_EQ(confirmer->asked.size(), 1u);
    EXPECT_EQ(c->engine, read);
}

TEST_F(Restart, AFileOpenedAloneAsksBeforeItsReadOrFailedPagesArePutAside) {
    c = free();
    // Read to its end, opened as a file (not through the queue panel).
    auto read = openRunQueue(*c, {2}, c->currentSettings());
    ASSERT_FALSE(c->managedQueue.get());
    test::runTask(c->startProduct());
    ASSERT_EQ(confirmer->asked.size(), 1u);
    EXPECT_EQ(confirmer->asked[0].message, restartQuestion);
    EXPECT_EQ(c->engine, read);
    EXPECT_EQ(c->snapshot->value().completedPages(), 2);

    // A failed page is a result too.
    auto failed = openRunQueue(*c, {1}, c->currentSettings(), {{0, {1}}});
    ASSERT_EQ(c->snapshot->value().failedPages(), 1);
    test::runTask(c->startProduct());
    EXPECT_EQ(confirmer->asked.size(), 2u);
    EXPECT_EQ(c->engine, failed);
}

TEST_F(Restart, ACancelPartWayGoesOnFromThereAsTheMainAction) {
    c = gated();
    gate.passOnStop = true;
    auto queue = openQueue(*c, {{test::writeDocument(tmp / "long.pdf", 6)}}, c->currentSettings(), false);
    gate.allow(1);
    test::runTask(c->start());
    ASSERT_TRUE(test::spinUntil([&] { return c->snapshot->value().completedPages() >= 1; }, 60s));
    c->stop(JobControl::Stop::cancel);
    waitIdle();
    ASSERT_EQ(c->snapshot->value().status, QueueStatus::cancelled);
    const int64_t kept = c->snapshot->value().completedPages();
    ASSERT_LT(kept, 6);
    EXPECT_TRUE(c->resumable());

    // Nothing is asked and no new trial is made: the pages read stay.
    gate.open();
    test::runTask(c->startProduct());
    EXPECT_TRUE(confirmer->asked.empty());
    EXPECT_EQ(c->engine, queue);
    waitIdle();
    EXPECT_EQ(c->status.get(), completedSentence);
    EXPECT_EQ(c->snapshot->value().completedPages(), 6);
    for (int64_t page = 1; page <= kept; ++page) EXPECT_EQ(gate.counts().at(page), 1) << page;
}

// ---- answering a refused resume

TEST_F(Restart, EveryRefusalWithItsQueueIsAnsweredWithANewTrial) {
    c = free();
    const fs::path a = test::writeDocument(tmp / "a.pdf", 1);
    const fs::path b = test::writeDocument(tmp / "b.pdf", 1);
    auto refusedWith = [&](OCRSettings settings) {
        auto engine = openQueue(*c, {{a}, {b}}, settings, false);
        const fs::path folder = folderOf(*engine);
        c->selectedSaved = folder;
        c->loadSaved();
        EXPECT_FALSE(c->engine);
        EXPECT_TRUE(c->rejection->has_value());
        return std::make_pair(folder, contents(folder));
    };
    auto answered = [&](const fs::path& folder, const std::map<fs::path, std::string>& before,
                        const std::vector<fs::path>& expected) {
        test::runTask(c->restartRejected());
        ASSERT_TRUE(c->engine);
        EXPECT_FALSE(c->rejection->has_value());
        EXPECT_EQ(paths(c->engine->snapshot()), expected);
        EXPECT_EQ(c->engine->snapshot().settings, c->currentSettings());
        EXPECT_EQ(c->selectedID.get(), c->engine->snapshot().inputs.front().id);
        waitIdle();
        EXPECT_EQ(c->status.get(), completedSentence);
        EXPECT_EQ(contents(folder), before);
    };

    {  // only the language correction differs: its settings could be restored
        OCRSettings corrected = c->currentSettings();
        corrected.languageCorrection = false;
        auto [folder, before] = refusedWith(corrected);
        ASSERT_TRUE(c->rejection->value().canRestoreSettings);
        answered(folder, before, {a, b});
    }
    {  // another mode: they could not
        auto [folder, before] = refusedWith(test::settingsIn(OCRMode::vertical));
        ASSERT_FALSE(c->rejection->value().canRestoreSettings);
        answered(folder, before, {a, b});
    }
    {  // an original changed: the originals chosen again are the new trial's
        auto engine = openQueue(*c, {{a}, {b}}, c->currentSettings(), false);
        const fs::path folder = folderOf(*engine);
        const fs::path chosen = test::writeDocument(tmp / "chosen.pdf", 2);
        c->goPage(1, engine->snapshot().inputs[1].id);
        picker->files = {chosen};
        test::runTask(c->reselect());
        ASSERT_TRUE(c->rejection->has_value());
        ASSERT_EQ(c->rejection->value().reason, ErrorCase::sourceChanged);
        const auto before = contents(folder);
        answered(folder, before, {a, chosen});
    }
    {  // a queue whose stored state failed its check, as a recovery reports it
        auto engine = openQueue(*c, {{b}}, c->currentSettings(), false);
        const fs::path folder = folderOf(*engine);
        const QueueSnapshot s = engine->snapshot();
        c->detachQueue();
        c->rejection = QueueController::ResumeRejection{s, folder, ErrorCase::damagedCheckpoint, false, std::nullopt};
        const auto before = contents(folder);
        answered(folder, before, {b});
    }
}

TEST_F(Restart, ARefusalWithoutItsQueueOrABuildThatFailsKeepsTheRefusal) {
    c = free();
    c->rejection = QueueController::ResumeRejection{std::nullopt, c->parent / "gone", ErrorCase::damagedCheckpoint,
                                                    false, std::nullopt};
    c->status = "前の文";
    test::runTask(c->restartRejected());
    EXPECT_FALSE(c->engine);
    EXPECT_TRUE(c->rejection->has_value());
    EXPECT_EQ(c->status.get(), "前の文");

    const fs::path a = test::writeDocument(tmp / "a.pdf", 1);
    auto engine = openQueue(*c, {{a}}, c->currentSettings(), false);
    const QueueSnapshot s = engine->snapshot();
    c->detachQueue();
    c->rejection =
        QueueController::ResumeRejection{s, folderOf(*engine), ErrorCase::settingsChanged, true, std::nullopt};
    blockParent();
    test::runTask(c->restartRejected());
    EXPECT_FALSE(c->engine);
    ASSERT_TRUE(c->rejection->has_value());
    EXPECT_EQ(c->rejection->value().candidate->id, s.id);
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::unsafePath));
    EXPECT_FALSE(c->busy.get());
    unblockParent();
}

// ---- choosing an original again

TEST_F(Restart, AChosenOriginalIsCheckedAgainstTheOneRecorded) {
    c = free();
    const fs::path a = test::writeDocument(tmp / "a.pdf", 2);
    const fs::path b = test::writeDocument(tmp / "b.pdf", 1);
    auto engine = openRunQueue(*c, {2}, c->currentSettings());
    const fs::path original = engine->snapshot().inputs[0].path;

    // Cancelled: only the sentence.
    picker->files = {};
    test::runTask(c->reselect());
    ASSERT_EQ(picker->openRequests.size(), 1u);
    EXPECT_FALSE(picker->openRequests[0].first);
    EXPECT_EQ(picker->openRequests[0].second, (std::vector<FileKind>{FileKind::png, FileKind::jpeg, FileKind::pdf}));
    EXPECT_EQ(c->status.get(), "原稿の選び直しを取消しました。以前の結果は保持しています。");
    EXPECT_EQ(c->engine, engine);

    // The same bytes under another name: accepted, every result kept.
    const fs::path copy = tmp / "copy.pdf";
    fs::copy_file(original, copy);
    picker->files = {copy};
    picker->afterTurn = true;
    test::runTask(c->reselect());
    EXPECT_EQ(c->status.get(), "同じ原稿であることを確認しました。");
    EXPECT_EQ(c->engine, engine);
    EXPECT_FALSE(c->importing.get());
    EXPECT_EQ(c->snapshot->value().completedPages(), 2);
    EXPECT_EQ(c->edited.get(), test::fixedText(1));

    // A file that is not there: its error, the queue kept.
    picker->files = {tmp / "missing.pdf"};
    test::runTask(c->reselect());
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::sourceMissing));
    EXPECT_EQ(c->engine, engine);
    EXPECT_FALSE(c->importing.get());
    EXPECT_FALSE(c->rejection->has_value());

    // Another document: the queue is let go and refused, offering every
    // input again in queue order with the chosen file in its place.
    auto two = openQueue(*c, {{a}, {b}}, c->currentSettings(), false);
    c->goPage(1, two->snapshot().inputs[0].id);
    picker->files = {b};
    test::runTask(c->reselect());
    EXPECT_FALSE(c->engine);
    EXPECT_EQ(c->previousEngine, two);
    EXPECT_FALSE(c->importing.get());
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::sourceChanged));
    ASSERT_TRUE(c->rejection->has_value());
    const auto& refused = c->rejection->value();
    EXPECT_EQ(refused.reason, ErrorCase::sourceChanged);
    EXPECT_FALSE(refused.canRestoreSettings);
    EXPECT_EQ(refused.url, folderOf(*two));
    ASSERT_TRUE(refused.candidate);
    EXPECT_EQ(refused.candidate->id, two->snapshot().id);
    ASSERT_TRUE(refused.replacementInputs);
    ASSERT_EQ(refused.replacementInputs->size(), 2u);
    EXPECT_EQ((*refused.replacementInputs)[0].url, b);
    EXPECT_EQ((*refused.replacementInputs)[1].url, b);
}

TEST_F(Restart, AQueueReplacedWhileTheCheckRunsIsLeftAlone) {
    c = free();
    auto engine = openRunQueue(*c, {1}, c->currentSettings());
    picker->files = {test::writeDocument(tmp / "other.pdf", 3)};
    test::Spawned<void> check(c->reselect());
    ASSERT_TRUE(test::spinUntil([&] { return c->importing.get(); }));
    EXPECT_EQ(c->status.get(), "選び直した原稿を確認しています…");
    auto replacement = openRunQueue(*c, {1}, c->currentSettings());
    c->status = "別のキュー";
    ASSERT_TRUE(test::spinUntil([&] { return check.out->finished; }));
    EXPECT_EQ(c->engine, replacement);
    EXPECT_FALSE(c->rejection->has_value());
    EXPECT_EQ(c->status.get(), "別のキュー");
    EXPECT_FALSE(c->importing.get());
    EXPECT_EQ(c->snapshot->value().id, replacement->snapshot().id);
}
