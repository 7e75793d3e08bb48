#include <sys/stat.h>

#include <cassert>
#include <system_error>

#include "foundation/Digest.hpp"
#include "foundation/UptimeClock.hpp"
#include "ocrqueue/QueueController.hpp"

namespace velmora {

namespace {

constexpr const char* rejectedSentence =
    "前回の原稿または設定と異なるか、再開用データを確認できないため、続きから再開できません。前回の編集と保存物は保持しています。";

// Whether something is at the path an input names; a path no queue could
// hold names nothing, and the engine's own checks report it.
bool originalExists(const QueueInput& input) {
    std::filesystem::path url;
    try {
        url = input.fileURL();
    } catch (const std::exception&) {
        return false;
    }
    struct stat st {};
    return ::stat(url.c_str(), &st) == 0;
}

// The originals still at their paths must hold the bytes first chosen.
void checkOriginals(const QueueSnapshot& candidate) {
    for (const QueueInput& input : candidate.inputs) {
        if (!input.expectedSHA256 || !originalExists(input)) continue;
        std::string digest;
        try {
            digest = Digest::file(input.fileURL());
        } catch (const std::system_error&) {
            // Something at the path that cannot be read as a file (no
            // permission, a FIFO or a folder, refused without blocking).
            raise(ErrorCase::accessDenied);
        }
        if (digest != *input.expectedSHA256) raise(ErrorCase::sourceChanged);
    }
}

}  // namespace

void QueueController::detachQueue() {
    assert(isMainThread());
    // Typing the interval still held back goes to the queue it was typed
    // in; the steps that let go of a queue have stored it already and
    // report their own failure, so this one has nothing left to say.
    if (editWritePending() || (engine && engine->unwritten())) {
        try {
            storeNow();
        } catch (const std::exception&) {
        }
    }
    if (engine) previousEngine = std::move(engine);
    engine.reset();
    dropFolderList();
    decorations.clear();
    decorationKey.reset();
    generation = UUID::random();
    snapshot = std::nullopt;
    selectedID = std::nullopt;
    original = "";
    // No page is shown any more, so the hook finds no state to store.
    setEdited("");
    regions = std::vector<TextRegion>{};
    preview = std::nullopt;
    forgetPicture();
    password = "";
    unlockedPasswords.clear();
    // The queue let go is a candidate again.
    refreshSaved();
}

void QueueController::loadSaved() {
    assert(isMainThread());
    if (busy || !selectedSaved->has_value()) return;
    try {
        // The saved queue may be the open one: it is read again below, so
        // what was staged must be on disk first.
        storeNow();
    } catch (const std::exception&) {
        status = BrindlexError::message(ErrorCase::saveFailed);
        return;
    }
    const std::filesystem::path url = *selectedSaved.get();
    detachQueue();

    std::optional<QueueSnapshot> candidate;
    try {
        candidate = OCRQueueEngine::inspect(url);
        checkOriginals(*candidate);
        std::shared_ptr<OCRQueueEngine> resumed = OCRQueueEngine::resume(url, currentSettings());
        ports_.configure(*resumed);
        // The engine reopens a queue without looking at its originals; a
        // queue whose original is gone or unreadable is refused here, with
        // the error the engine's own check gives, rather than at the run.
        const OCRQueueEngine::AccessCheck check = resumed->accessCheck();
        for (const QueueInput& input : resumed->snapshot().inputs) check(input.fileURL());
        // Read before the engine is installed: a queue refused for a stale
        // state leaves the window's previous engine as the one let go.
        std::map<std::string, OCRDecorationState> restored = resumed->restoreEditors();
        engine = std::move(resumed);
        reportJournal(*engine);
        snapshot = engine->snapshot();
        rejection = std::nullopt;
        decorations = std::move(restored);
        decorationKey.reset();
    } catch (const std::exception& error) {
        detachQueue();
        const auto* known = dynamic_cast<const BrindlexError*>(&error);
        const ErrorCase reason = known ? known->errorCase() : ErrorCase::damagedCheckpoint;
        bool canRestore = false;
        if (reason == ErrorCase::settingsChanged && candidate) {
            OCRSettings stored = candidate->settings;
            stored.languageCorrection = languageCorrection;
            canRestore = stored == currentSettings();
        }
        rejection = ResumeRejection{std::move(candidate), url, reason, canRestore, std::nullopt};
        status = rejectedSentence;
        return;
    }

    managedQueue = true;
    processingList = true;
    const QueueSnapshot& opened = *snapshot.get();
    if (opened.selectedInput) {
        selectedID = opened.selectedInput;
    } else if (!opened.inputs.empty()) {
        selectedID = opened.inputs.front().id;
    } else {
        selectedID = std::nullopt;
    }
    page = opened.selectedPage.value_or(1);
    loadPresentation(selectedID);
    status = "保存済み条件で続きから再開できます。処理はまだ開始していません。";
    showPage();
    refreshSaved();
}

void QueueController::closeRejection() {
    assert(isMainThread());
    if (busy) return;
    detachQueue();
    rejection = std::nullopt;
    status = "再開を取消しました。新しい処理は開始していません。";
}

}  // namespace velmora
