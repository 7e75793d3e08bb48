#include <cassert>

#include "foundation/UptimeClock.hpp"
#include "ocrqueue/OriginalAccess.hpp"
#include "ocrqueue/QueueController.hpp"
#include "recognition/page/OCRProduct.hpp"

namespace velmora {

namespace {

constexpr const char* refusedKinds = "PNG・JPEG・PDFを選んでください。";
// The load limit's own sentence speaks of the web capture's width, which
// the OCR section has not.
constexpr const char* oversizeSentence = "画像の画素数が多すぎて読み込めません。画像を縮小してから開き直してください。";

// Why one original cannot be opened, or none: a PDF that opens (a locked one
// waits for its password) with at least one page, or an image that decodes.
std::optional<std::string> refusalOfOne(const std::filesystem::path& url) {
    if (auto unreadable = unreadableOriginal(url)) return unreadable;
    try {
        if (OCRProduct::isPDF(url)) {
            if (Raster::pdfPageCount(url) < 1) return std::string(emptyPDFSentence);
        } else {
            (void)Raster::image(url);
        }
    } catch (const BrindlexError& e) {
        if (e.errorCase() == ErrorCase::lockedPDF) return std::nullopt;
        if (e.errorCase() == ErrorCase::budgetExceeded || e.errorCase() == ErrorCase::dimensionOverflow) {
            return std::string(oversizeSentence);
        }
        return std::string(e.what());
    } catch (const std::exception&) {
        return BrindlexError::message(ErrorCase::invalidInput);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> QueueController::kindRefusal(const std::vector<std::filesystem::path>& urls) {
    for (const auto& url : urls) {
        if (!OCRProduct::accepts(url)) return url.filename().string() + "：" + refusedKinds;
    }
    return std::nullopt;
}

std::optional<std::string> QueueController::refusalOf(const std::vector<std::filesystem::path>& urls) {
    for (const auto& url : urls) {
        std::optional<std::string> refusal = refusalOfOne(url);
        if (!refusal) continue;
        // The one refused is named, alone or among several: two refusals in
        // a row then read as two.
        return url.filename().string() + "：" + *refusal;
    }
    return std::nullopt;
}

Task<std::optional<std::string>> QueueController::admitOriginals(std::weak_ptr<QueueController> weak,
                                                                 std::vector<std::filesystem::path> urls) {
    auto self = weak.lock();
    if (!self) co_return std::nullopt;
    // Nothing else opens, adds or loads while the files are read.
    self->importing = true;
    self.reset();
    std::optional<std::string> refusal;
    try {
        auto check = runOnWorker([](const std::vector<std::filesystem::path>& files) { return refusalOf(files); },
                                 std::move(urls));
        refusal = co_await check;
    } catch (const std::exception&) {
        refusal = BrindlexError::message(ErrorCase::invalidInput);
    }
    self = weak.lock();
    if (!self) co_return refusal;
    self->importing = false;
    if (refusal) self->refuse(*refusal);
    co_return refusal;
}

void QueueController::refuse(std::string sentence) {
    refusedStatus = sentence;
    status = std::move(sentence);
}

// ---- the edit road

void QueueController::applyEdit() {
    stageEdit();
    scheduleFlush();
}

void QueueController::stageEdit(bool selection) {
    assert(isMainThread());
    // This write takes whatever the interval held back.
    cancelEditWrite();
    if (!engine || !selectedID->has_value()) return;
    if (!selectedComplete()) return;
    const UUID id = selectedID->value();
    OCRQueueEngine::EditorRecord record;
    record.inputID = id;
    record.page = page;
    if (decorationKey) {
        if (auto it = decorations.find(*decorationKey); it != decorations.end()) {
            // Given every time, also unchanged: it carries the checksum of
            // the page's result as it is now.
            record.key = *decorationKey;
            record.decoration = it->second;
            record.presentation = currentPresentation();
        }
    }
    // The one input and the selection, not a copy of the whole queue: a
    // store costs what its page costs.
    const std::optional<QueueInput> input = engine->input(id);
    if (!annotationMode(id)) {
        std::string stored = original;
        if (input) {
            if (auto it = input->editedPages.find(page); it != input->editedPages.end()) stored = it->second;
        }
        if (!OCRProduct::sameUTF16(edited.get(), stored)) record.text = edited.get();
    }
    const auto [selectedInput, selectedPage] = engine->selection();
    record.selection = selection && (selectedInput != id || selectedPage != page.get());
    // Durable when this returns, as one record of the queue's edit journal.
    // Only a whole write of the queue (a journal grown past its size, a
    // failed store) goes to a worker.
    engine->stageEditor(record);
    if (snapshot->has_value() && snapshot->value().input(id)) {
        snapshot.update([&](std::optional<QueueSnapshot>& mirror) { engine->mirrorEditor(*mirror, id, record.key); });
    } else {
        snapshot = engine->snapshot();
    }
}

void QueueController::stageSelection() {
    assert(isMainThread());
    if (!engine || !selectedID->has_value()) return;
    const UUID id = selectedID->value();
    const auto [storedInput, storedPage] = engine->selection();
    if (storedInput == id && storedPage == page.get()) return;
    OCRQueueEngine::EditorRecord record;
    record.inputID = id;
    record.page = page;
    record.selection = true;
    engine->stageEditor(record);
    if (snapshot->has_value() && snapshot->value().input(id)) {
        snapshot.update([&](std::optional<QueueSnapshot>& mirror) { engine->mirrorEditor(*mirror, id, std::nullopt); });
    } else {
        snapshot = engine->snapshot();
    }
    scheduleFlush();
}

void QueueController::reportJournal(const OCRQueueEngine& reopened) const {
    // Never a reason to refuse the queue: what was left out is at most the
    // store a crash cut short, and the log is where it is told.
    if (reopened.setAsideJournalBytes() > 0 && journalDamaged) {
        journalDamaged(reopened.snapshot().id, ErrorCase::damagedCheckpoint);
    }
}

void QueueController::storeNow() {
    stageEdit();
    // The queue is closed or let go: its journal is folded into it.
    if (engine) engine->compact();
}

void QueueController::scheduleFlush() {
    if (!engine || !engine->unwritten()) return;
    ++flushesInFlight_;
    // Started at once on a worker, not at the next turn: the sooner the
    // edit is on disk, the less a crash can take. Flushes of one engine may
    // overlap: each writes the snapshot as it is when its write begins, and
    // one finding a later write done writes nothing, so none takes back
    // what a later one stored.
    detail::runOnWorkerThread([weak = weak_from_this(), target = engine]() mutable {
        bool failed = false;
        try {
            target->flush();
        } catch (const std::exception&) {
            failed = true;
        }
        // The engine and the controller are let go on the main thread, as
        // every owner of them is: nothing of either is left to this thread
        // once the report is posted.
        detail::onMainContext([weak = std::move(weak), target = std::move(target), failed] {
            auto self = weak.lock();
            if (!self) return;
            --self->flushesInFlight_;
            // A later write that went through has taken the failed one's
            // changes.
            if (failed && target->unwritten()) self->status = unsavedSentence;
        });
    });
}

// ---- preparations in order

void QueueController::Completion::finish() {
    done_ = true;
    for (const Resumer<void>& waiter : std::exchange(waiters_, {})) waiter.resume();
}

CallbackAwaiter<void> QueueController::Completion::wait() {
    return awaitCallback<void>([this](Resumer<void> resumer) {
        if (done_) {
            resumer.resume();
        } else {
            waiters_.push_back(std::move(resumer));
        }
    });
}

// ---- opening originals

Task<void> QueueController::choose() { return chooseTask(weak_from_this()); }

Task<void> QueueController::requestSelection(std::vector<std::filesystem::path> urls) {
    return requestSelectionTask(weak_from_this(), std::move(urls));
}

Task<void> QueueController::chooseTask(std::weak_ptr<QueueController> weak) {
    auto self = weak.lock();
    if (!self) co_return;
    if (self->busy || self->importing) {
        self->status = "原稿の確認が終わるまでお待ちください。";
        co_return;
    }
    auto panel = self->ports_.openFiles(true, {FileKind::png, FileKind::jpeg, FileKind::pdf});
    self.reset();
    std::vector<std::filesystem::path> chosen = co_await panel;
    // A run or an import begun while the panel was open makes the answer
    // moot: it ends without effect, not with the refusal of a new request.
    self = weak.lock();
    if (!self || chosen.empty() || self->busy || self->importing) co_return;
    self.reset();
    auto next = requestSelectionTask(weak, std::move(chosen));
    co_await next;
}

Task<void> QueueController::requestSelectionTask(std::weak_ptr<QueueController> weak,
                                                 std::vector<std::filesystem::path> urls) {
    auto self = weak.lock();
    if (!self) co_return;
    if (self->busy || self->importing) {
        self->status = "OCRまたは原稿確認の完了後に原稿を開いてください。";
        co_return;
    }
    if (auto refusal = kindRefusal(urls)) {
        self->refuse(*refusal);
        co_return;
    }
    // A file that will be refused is refused before anything is asked: the
    // open document, its edits and its page stay as they are.
    self.reset();
    auto check = admitOriginals(weak, urls);
    const std::optional<std::string> refused = co_await check;
    if (refused) co_return;
    self = weak.lock();
    if (!self || self->busy || self->importing) co_return;
    // A file chosen twice would be two items of the new queue: asked as an
    // addition of it asks.
    if (self->firstDuplicate(urls, false)) {
        auto question = self->confirmDuplicateAdding();
        self.reset();
        const bool add = co_await question;
        self = weak.lock();
        if (!self || !add || self->busy || self->importing) co_return;
    }
    if (self->hasUnsavedEdits()) {
        // What held when the question was asked must still hold when it is
        // answered: no run, no other opening begun or finished meanwhile.
        const std::shared_ptr<OCRQueueEngine> asked = self->engine;
        const UUID generation = self->generation;
        auto question = self->confirmDiscard("別の原稿を開きますか？", "開く");
        self.reset();
        const bool proceed = co_await question;
        self = weak.lock();
        if (!self || !proceed) co_return;
        if (self->busy || self->importing || self->engine != asked || self->generation != generation) co_return;
    }
    if (urls.size() >= 2) {
        self->managedQueue = true;
        self->processingList = true;
    }
    self->prepareEngine(urls);
}

std::vector<OCRQueueEngine::InputFile> QueueController::inputFiles(
    const std::vector<std::filesystem::path>& urls) const {
    const InputOrigin origin = privateInput ? InputOrigin::privateSession : InputOrigin::normal;
    std::vector<OCRQueueEngine::InputFile> files;
    files.reserve(urls.size());
    for (const auto& url : urls) files.push_back({url, origin});
    return files;
}

void QueueController::prepareEngine(const std::vector<std::filesystem::path>& urls,
                                    std::optional<CallSettings> atCall) {
    assert(isMainThread());
    if (nextProductDefaults) {
        applyProductDefaults(*nextProductDefaults);
        nextProductDefaults.reset();
    }
    if (nextAutomaticDefault) {
        automatic = *nextAutomaticDefault;
        nextAutomaticDefault.reset();
    }
    if (!atCall) atCall = CallSettings{currentSettings(), currentPresentation(), privateInput};
    const InputOrigin origin = atCall->privateInput ? InputOrigin::privateSession : InputOrigin::normal;
    std::shared_ptr<Completion> previous = importTask;
    auto mine = std::make_shared<Completion>();
    importing = true;
    importTask = mine;
    spawn(preparation(weak_from_this(), urls, std::move(atCall->settings), origin, atCall->presentation, parent,
                      std::move(previous), std::move(mine)));
}

Task<void> QueueController::preparation(std::weak_ptr<QueueController> weak, std::vector<std::filesystem::path> urls,
                                        OCRSettings settings, InputOrigin origin, QueuePresentation presentation,
                                        std::filesystem::path parent, std::shared_ptr<Completion> previous,
                                        std::shared_ptr<Completion> mine) {
    if (previous) {
        auto before = previous->wait();
        co_await before;
    }
    std::shared_ptr<OCRQueueEngine> made;
    std::exception_ptr failure;
    try {
        auto build = runOnWorker(
            [](const std::vector<std::filesystem::path>& files, const OCRSettings& s, InputOrigin o,
               const QueuePresentation& p, const std::filesystem::path& folder) {
                std::vector<OCRQueueEngine::InputFile> inputs;
                for (const auto& url : files) inputs.push_back({url, o});
                return std::shared_ptr<OCRQueueEngine>(OCRQueueEngine::create(inputs, s, folder, p));
            },
            urls, settings, origin, presentation, parent);
        made = co_await build;
    } catch (...) {
        failure = std::current_exception();
    }
    if (auto self = weak.lock()) {
        if (made) {
            self->ports_.configure(*made);
            self->select(urls, made);
        } else {
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& e) {
                self->status = failureSentence(e);
            } catch (...) {
                self->status = BrindlexError::message(ErrorCase::invalidInput);
            }
        }
        // A later preparation already under way keeps the flag up.
        if (self->importTask == mine) self->importing = false;
    }
    mine->finish();
}

void QueueController::select(const std::vector<std::filesystem::path>& urls,
                             std::shared_ptr<OCRQueueEngine> prepared) {
    assert(isMainThread());
    if (busy || urls.empty()) return;
    if (auto refusal = kindRefusal(urls)) {
        refuse(*refusal);
        return;
    }
    try {
        // The queue is let go below: its edit is on disk before it is.
        storeNow();
    } catch (const std::exception& e) {
        status = failureSentence(e);
        return;
    }
    unlockedPasswords.clear();
    if (!prepared) {
        try {
            prepared = OCRQueueEngine::create(inputFiles(urls), currentSettings(), parent, currentPresentation());
            ports_.configure(*prepared);
        } catch (const std::exception& e) {
            status = failureSentence(e);
            return;
        }
    }
    engine = std::move(prepared);
    dropFolderList();
    decorations.clear();
    decorationKey.reset();
    generation = UUID::random();
    rejection = std::nullopt;
    setSearch("");
    searchSelection = std::nullopt;
    previewPageCount = 1;
    snapshot = engine->snapshot();
    const QueueSnapshot& opened = *snapshot.get();
    selectedID = opened.inputs.empty() ? std::nullopt : std::optional<UUID>(opened.inputs.front().id);
    page = 1;
    original = "";
    setEdited("");
    regions = std::vector<TextRegion>{};
    preview = std::nullopt;
    forgetPicture();
    status = "原稿を開きました。「OCRを開始」を押してください。";
    refreshSaved();
    showPage();
    // Its picture says why the first original shows nothing, if it does not.
    announcedTicket_ = pictureTicket_;
}

}  // namespace velmora
