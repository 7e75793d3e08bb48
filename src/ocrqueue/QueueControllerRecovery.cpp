// The lenient way back into a queue interrupted by a quit or a crash: the
// queue's own recognition mode and language correction are adopted rather
// than demanded, and nothing runs until the user starts it.
//
// Reading "queue.json", hashing the originals, reopening the checkpoints and
// reading the stored editor states all run on workers; the main thread only
// applies the outcome, and only while the generation it captured is still
// the controller's, so any later opening, loading or closing wins.
#include <sys/stat.h>

#include <cassert>
#include <system_error>

#include "foundation/CancellationError.hpp"
#include "foundation/Digest.hpp"
#include "foundation/UptimeClock.hpp"
#include "ocrqueue/QueueController.hpp"

namespace velmora {

namespace {

constexpr const char* checkingSentence = "原稿と再開情報を確認しています…";
constexpr const char* recoveredSentence = "再開情報を読み込みました。開始するまでOCRは動きません。";
constexpr const char* rejectedSentence =
    "再開条件を確認できません。旧結果を保持しています。原稿を選び直すか新しい試行を選んでください。";

ErrorCase reasonOf(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const BrindlexError& e) {
        return e.errorCase();
    } catch (...) {
        return ErrorCase::damagedCheckpoint;
    }
}

bool originalExists(const QueueInput& input) {
    try {
        struct stat st {};
        return ::stat(input.fileURL().c_str(), &st) == 0;
    } catch (const std::exception&) {
        return false;
    }
}

// What the workers found: the reopened engine with its editor states, or
// the error of the first check that failed.
struct Reopened {
    std::shared_ptr<OCRQueueEngine> engine;
    std::map<std::string, OCRDecorationState> editors;
    std::exception_ptr editorsFailure;
};

// On a worker: the originals still at their paths must hold the bytes first
// chosen, the checkpoints must reopen under the recovery settings, and the
// originals must be there to read (as the run would find them).
Reopened reopen(const QueueSnapshot& candidate, const std::filesystem::path& folder, const OCRSettings& settings,
                const std::function<void(OCRQueueEngine&)>& configure) {
    for (const QueueInput& input : candidate.inputs) {
        if (!input.expectedSHA256 || !originalExists(input)) continue;
        std::string digest;
        try {
            digest = Digest::file(input.fileURL());
        } catch (const std::system_error&) {
            raise(ErrorCase::accessDenied);
        }
        if (digest != *input.expectedSHA256) raise(ErrorCase::sourceChanged);
    }
    Reopened out;
    out.engine = OCRQueueEngine::resume(folder, settings);
    if (configure) configure(*out.engine);
    const OCRQueueEngine::AccessCheck check = out.engine->accessCheck();
    for (const QueueInput& input : out.engine->snapshot().inputs) check(input.fileURL());
    try {
        out.editors = out.engine->restoreEditors();
    } catch (...) {
        out.editorsFailure = std::current_exception();
    }
    return out;
}

}  // namespace

Task<void> QueueController::loadRecovery() { return recoveryTask(weak_from_this()); }

Task<void> QueueController::recoveryTask(std::weak_ptr<QueueController> weak) {
    auto self = weak.lock();
    if (!self || self->busy || self->importing || !self->selectedSaved->has_value()) co_return;

    // A memory-only queue keeps its edits nowhere else: letting it go loses
    // them, so the user is asked as an opening would ask.
    if (self->isPrivateQueue() && self->hasUnsavedEdits()) {
        const std::shared_ptr<OCRQueueEngine> asked = self->engine;
        const UUID generation = self->generation;
        auto question = self->confirmDiscard("別の原稿を開きますか？", "開く");
        self.reset();
        const bool proceed = co_await question;
        self = weak.lock();
        if (!self || !proceed) co_return;
        if (self->busy || self->importing || !self->selectedSaved->has_value() || self->engine != asked ||
            self->generation != generation) {
            co_return;
        }
    }

    try {
        self->applyEdit();
    } catch (const std::exception&) {
        self->status = "編集を保持できません。";
        co_return;
    }
    if (self->engine && self->engine->unwritten()) {
        // The queue to recover may be the open one, read again below: its
        // staged edit goes to disk first, written on a worker.
        const std::shared_ptr<OCRQueueEngine> open = self->engine;
        const UUID generation = self->generation;
        self.reset();
        bool stored = true;
        try {
            auto write = runOnWorker([](const std::shared_ptr<OCRQueueEngine>& e) { e->flush(); }, open);
            co_await write;
        } catch (const std::exception&) {
            stored = false;
        }
        self = weak.lock();
        if (!self) co_return;
        if (!stored) {
            self->status = "編集を保持できません。";
            co_return;
        }
        if (self->busy || self->importing || !self->selectedSaved->has_value() || self->engine != open ||
            self->generation != generation) {
            co_return;
        }
    }
    const std::filesystem::path url = *self->selectedSaved.get();
    self->detachQueue();
    const UUID generation = self->generation;
    self->importing = true;
    self->status = checkingSentence;
    const OCRSettings current = self->currentSettings();
    const std::function<void(OCRQueueEngine&)> configure = self->ports_.configureEngine;
    auto mine = std::make_shared<Completion>();
    self->importTask = mine;
    self.reset();

    std::optional<QueueSnapshot> candidate;
    std::optional<OCRSettings> recovery;
    Reopened reopened;
    std::exception_ptr failure;
    try {
        auto inspect = runOnWorker([](const std::filesystem::path& folder) { return OCRQueueEngine::inspect(folder); },
                                   url);
        candidate = co_await inspect;
        OCRSettings settings = withMode(current, candidate->settings.mode);
        settings.languageCorrection = candidate->settings.languageCorrection;
        recovery = settings;
        auto check = runOnWorker(reopen, *candidate, url, settings, configure);
        reopened = co_await check;
    } catch (...) {
        failure = std::current_exception();
    }

    self = weak.lock();
    if (!self) {
        mine->finish();
        co_return;
    }
    if (self->generation != generation) {
        // Dropped: the later operation keeps what it set, but the flag this
        // recovery raised must not stay up for good, unless a newer import
        // raised it again.
        if (self->importTask == mine) self->importing = false;
        mine->finish();
        co_return;
    }
    if (!failure) {
        self->engine = reopened.engine;
        self->reportJournal(*self->engine);
        self->snapshot = self->engine->snapshot();
        failure = reopened.editorsFailure;
    }
    if (failure) {
        // After unreadable editor states the engine stays open beside the
        // rejection.
        self->rejection = ResumeRejection{std::move(candidate), url, reasonOf(failure), false, std::nullopt};
        self->status = rejectedSentence;
    } else {
        self->decorations = std::move(reopened.editors);
        self->decorationKey.reset();
        self->recognitionMode = recovery->mode;
        self->languageCorrection = recovery->languageCorrection;
        const QueueSnapshot& opened = *self->snapshot.get();
        if (opened.selectedInput) {
            self->selectedID = opened.selectedInput;
        } else if (!opened.inputs.empty()) {
            self->selectedID = opened.inputs.front().id;
        } else {
            self->selectedID = std::nullopt;
        }
        self->page = opened.selectedPage.value_or(1);
        self->loadPresentation(self->selectedID);
        self->managedQueue = true;
        self->processingList = true;
        self->rejection = std::nullopt;
        self->showPage();
        self->status = recoveredSentence;
    }
    if (self->importTask == mine) self->importing = false;
    mine->finish();
}

}  // namespace velmora
