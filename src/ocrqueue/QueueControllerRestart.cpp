// New trials of a queue and the answers to a refused resume.
//
// What it guarantees:
// - No result is thrown away: a new trial is a new queue in a new folder,
//   the old queue's folder and results stay as they are and it remains in
//   the saved list.
// - A restart keeps `busy` and `importing` up from the moment it is asked
//   until its new queue is open, so no start, restart, opening or
//   re-selection runs meanwhile; a pause or cancel pressed while the queue is
//   built reaches the restart's own control and leaves the new queue
//   unstarted.
// - Every wait (a question, a file panel, a worker) is followed by taking
//   the controller again and checking that what held when it began still
//   holds; otherwise the action ends without effect.
#include <algorithm>
#include <cassert>

#include "foundation/CancellationError.hpp"
#include "foundation/UptimeClock.hpp"
#include "ocrqueue/QueueController.hpp"

namespace velmora {

namespace {

constexpr const char* restartQuestion = "別の試行として最初から処理しますか？";
constexpr const char* restartAnswer = "最初から処理";
constexpr const char* trialNotStarted = "新しい試行は未開始です。旧結果は保持しています。";
constexpr const char* reselectCancelled = "原稿の選び直しを取消しました。以前の結果は保持しています。";
constexpr const char* reselectEditFailed = "編集を保持できません。";
constexpr const char* reselectChecking = "選び直した原稿を確認しています…";
constexpr const char* reselectSame = "同じ原稿であることを確認しました。";

std::filesystem::path urlOf(const QueueInput& input) {
    try {
        return input.fileURL();
    } catch (const std::exception&) {
        // A stored path the queue could not hold is handed on as it is; the
        // new queue refuses it with its own error.
        return std::filesystem::path(input.path);
    }
}

// One input per input of the queue, in queue order, from its stored path and
// with its own origin.
std::vector<OCRQueueEngine::InputFile> trialInputs(const std::vector<QueueInput>& inputs) {
    std::vector<OCRQueueEngine::InputFile> files;
    files.reserve(inputs.size());
    for (const QueueInput& input : inputs) files.push_back({urlOf(input), input.origin});
    return files;
}

}  // namespace

std::string QueueController::restartInformative(bool edited, bool persistent) {
    const std::string what = edited ? "今の結果と編集" : "今の結果";
    if (persistent) {
        return what + "は前の試行として残り、「再開候補」から開けます。画面には新しい試行を表示します。保存済みファイルと原稿は削除しません。";
    }
    return "メモリ限定の処理のため、" + what +
           "は残りません。必要な場合は先にTXTを保存してください。保存済みファイルと原稿は削除しません。";
}

Task<void> QueueController::requestRestart() { return requestRestartTask(weak_from_this()); }
Task<void> QueueController::restart() { return restartTask(weak_from_this()); }
Task<void> QueueController::startProduct() { return startProductTask(weak_from_this()); }
Task<void> QueueController::restartRejected() { return restartRejectedTask(weak_from_this()); }
Task<void> QueueController::restartReplacement() { return restartReplacementTask(weak_from_this()); }
Task<void> QueueController::reselect() { return reselectTask(weak_from_this()); }

void QueueController::installTrial(std::shared_ptr<OCRQueueEngine> trial) {
    assert(isMainThread());
    // The queue that was open is let go as every replaced queue is: kept
    // aside as the previous engine, its page fields emptied, its run's late
    // reports made stale by the new generation.
    detachQueue();
    engine = std::move(trial);
    snapshot = engine->snapshot();
    const QueueSnapshot& opened = *snapshot.get();
    selectedID = opened.inputs.empty() ? std::nullopt : std::optional<UUID>(opened.inputs.front().id);
    page = 1;
    searchSelection = std::nullopt;
    rejection = std::nullopt;
    refreshSaved();
    showPage();
}

Task<void> QueueController::requestRestartTask(std::weak_ptr<QueueController> weak) {
    auto self = weak.lock();
    if (!self || self->busy || !self->engine) co_return;
    const bool edited = self->hasEditedText();
    // A queue never read has no results for the question to speak of: the
    // new trial simply takes its place.
    const bool read = [&] {
        const QueueSnapshot shown = self->engine->snapshot();
        return shown.completedPages() + shown.failedPages() + shown.failedInputs() > 0;
    }();
    // However the file was opened: a page read, failed or edited is what a
    // new trial would put aside.
    if (read || edited) {
        const std::shared_ptr<OCRQueueEngine> asked = self->engine;
        // The question says once what becomes of the results on screen: a
        // saved queue keeps them as its earlier trial, a queue in memory
        // loses them, and only then is going ahead destructive.
        const bool persistent = !self->isPrivateQueue();
        auto question = self->ports_.confirm(restartQuestion, restartInformative(edited, persistent), restartAnswer,
                                             persistent ? AnswerAhead::suggested : AnswerAhead::destructive);
        self.reset();
        const bool proceed = co_await question;
        self = weak.lock();
        if (!self || !proceed) co_return;
        if (self->busy || self->importing || self->engine != asked) co_return;
    }
    auto next = self->restart();
    self.reset();
    co_await next;
}

Task<void> QueueController::restartTask(std::weak_ptr<QueueController> weak) {
    auto self = weak.lock();
    if (!self || self->busy || self->importing || !self->engine) co_return;
    try {
        self->applyEdit();
    } catch (const std::exception&) {
        self->status = BrindlexError::message(ErrorCase::saveFailed);
        co_return;
    }
    std::vector<OCRQueueEngine::InputFile> inputs = trialInputs(self->engine->snapshot().inputs);
    OCRSettings settings = self->currentSettings();
    std::filesystem::path parent = self->parent;
    QueuePresentation presentation = self->currentPresentation();

    auto control = std::make_shared<JobControl>();
    self->control = control;
    self->setBusy(true);
    self->importing = true;
    self.reset();

    std::shared_ptr<OCRQueueEngine> made;
    std::exception_ptr failure;
    try {
        auto build = runOnWorker(
            [](const std::vector<OCRQueueEngine::InputFile>& files, const OCRSettings& s,
               const std::filesystem::path& folder, const QueuePresentation& p) {
                return std::shared_ptr<OCRQueueEngine>(OCRQueueEngine::create(files, s, folder, p));
            },
            std::move(inputs), std::move(settings), std::move(parent), presentation);
        made = co_await build;
    } catch (...) {
        failure = std::current_exception();
    }

    self = weak.lock();
    if (!self) co_return;
    self->importing = false;
    if (!made) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            self->status = failureSentence(e);
        } catch (...) {
            self->status = BrindlexError::message(ErrorCase::invalidInput);
        }
        self->setBusy(false);
        co_return;
    }
    self->ports_.configure(*made);
    self->installTrial(std::move(made));
    self->setBusy(false);
    if (control->stopRequested()) {
        self->status = trialNotStarted;
        co_return;
    }
    auto next = self->start();
    self.reset();
    co_await next;
}

bool QueueController::resumable() const {
    const auto& shown = snapshot.get();
    // A cancel keeps the pages read and leaves the rest pending, as a pause
    // does: either goes on from there.
    if (!engine || !shown || shown->status == QueueStatus::completed) return false;
    const QueueCounts counts(shown->inputs);
    if (counts.success + counts.failed < 1) return false;
    if (counts.pending + counts.running > 0) return true;
    return std::any_of(shown->inputs.begin(), shown->inputs.end(), [](const QueueInput& input) {
        return input.status == InputStatus::pending || input.status == InputStatus::running;
    });
}

Task<void> QueueController::startProductTask(std::weak_ptr<QueueController> weak) {
    auto self = weak.lock();
    if (!self || self->busy) co_return;
    // A queue brought back part way goes on: its finished pages stay.
    if (self->resumable()) {
        auto next = self->start();
        self.reset();
        co_await next;
        co_return;
    }
    // A queue with nothing read or edited is started again as it is, even
    // after a cancel: a new trial would only leave one more identical resume
    // candidate behind. Other settings still need a new trial.
    bool again = self->hasEditedText();
    if (const auto& shown = self->snapshot.get()) {
        again = again || shown->completedPages() + shown->failedPages() + shown->failedInputs() > 0;
    }
    if (!again) again = !self->engine || self->engine->snapshot().settings != self->currentSettings();
    auto next = again ? self->requestRestart() : self->start();
    self.reset();
    co_await next;
}

Task<void> QueueController::restartRejectedTask(std::weak_ptr<QueueController> weak) {
    auto self = weak.lock();
    if (!self || self->busy || !self->rejection->has_value()) co_return;
    ResumeRejection refused = *self->rejection.get();
    // Every refusal that names its queue is answered with a new trial: the
    // originals chosen again when the refusal carries them (a changed
    // original), otherwise the refused queue's own.
    if (!refused.candidate) co_return;
    if (!refused.replacementInputs) refused.replacementInputs = trialInputs(refused.candidate->inputs);
    self->rejection = std::move(refused);
    auto next = self->restartReplacement();
    self.reset();
    co_await next;
}

Task<void> QueueController::restartReplacementTask(std::weak_ptr<QueueController> weak) {
    auto self = weak.lock();
    if (!self || self->busy || self->importing) co_return;
    const auto& refused = self->rejection.get();
    if (!refused || !refused->replacementInputs) co_return;
    std::shared_ptr<OCRQueueEngine> made;
    try {
        made = OCRQueueEngine::create(*refused->replacementInputs, self->currentSettings(), self->parent);
        self->ports_.configure(*made);
    } catch (const std::exception& e) {
        self->status = failureSentence(e);
        co_return;
    }
    self->installTrial(std::move(made));
    auto next = self->start();
    self.reset();
    co_await next;
}

Task<void> QueueController::reselectTask(std::weak_ptr<QueueController> weak) {
    auto self = weak.lock();
    if (!self || self->busy || self->importing || !self->engine || !self->selectedID->has_value()) co_return;
    const std::shared_ptr<OCRQueueEngine> asked = self->engine;
    const UUID id = self->selectedID->value();
    auto panel = self->ports_.openFiles(false, {FileKind::png, FileKind::jpeg, FileKind::pdf});
    self.reset();
    std::vector<std::filesystem::path> chosen = co_await panel;
    self = weak.lock();
    if (!self || self->busy || self->importing || self->engine != asked || self->selectedID.get() != id) co_return;
    if (chosen.empty()) {
        self->status = reselectCancelled;
        co_return;
    }
    const std::filesystem::path url = chosen.front();
    try {
        self->applyEdit();
    } catch (const std::exception&) {
        self->status = reselectEditFailed;
        co_return;
    }
    self->importing = true;
    self->status = reselectChecking;
    self.reset();

    std::exception_ptr failure;
    try {
        auto check = runOnWorker(
            [](const std::shared_ptr<OCRQueueEngine>& queue, const UUID& input, const std::filesystem::path& file) {
                queue->reselect(input, file);
            },
            asked, id, url);
        co_await check;
    } catch (...) {
        failure = std::current_exception();
    }

    self = weak.lock();
    if (!self) co_return;
    if (self->engine != asked) {
        // Another queue is open now and keeps its state. The flag this check
        // raised comes down unless an opening under way holds it.
        if (!self->importTask || self->importTask->done()) self->importing = false;
        co_return;
    }
    if (!failure) {
        self->snapshot = asked->snapshot();
        self->showPage();
        self->status = reselectSame;
        self->importing = false;
        co_return;
    }
    ErrorCase error = ErrorCase::sourceChanged;
    try {
        std::rethrow_exception(failure);
    } catch (const BrindlexError& e) {
        error = e.errorCase();
    } catch (...) {
        // Whatever else stopped the check, the file was not shown to be the
        // same original.
    }
    if (error == ErrorCase::sourceChanged) {
        const QueueSnapshot refused = asked->snapshot();
        std::vector<OCRQueueEngine::InputFile> replacements;
        replacements.reserve(refused.inputs.size());
        for (const QueueInput& input : refused.inputs) {
            replacements.push_back({input.id == id ? url : urlOf(input), input.origin});
        }
        const std::filesystem::path folder = asked->directory() ? asked->directory()->url() : self->parent;
        self->detachQueue();
        self->rejection = ResumeRejection{refused, folder, ErrorCase::sourceChanged, false, std::move(replacements)};
    }
    self->status = BrindlexError::message(error);
    self->importing = false;
}

}  // namespace velmora
