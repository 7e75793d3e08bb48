// Originals added to the open queue: from the add panel, from a drop, or
// from a reviewed folder listing.
//
// Appends and openings share the `importTask` chain, so they reach the
// engine in the order they were asked for; drops chain through `dropTask`
// and each waits for the import it caused. Slow work (hashing the added
// files, walking a folder) runs on workers and comes back to the main thread
// only through the controller's weak reference.
#include <glib.h>

#include <algorithm>
#include <cassert>
#include <unordered_set>

#include "foundation/CancellationError.hpp"
#include "foundation/Unicode.hpp"
#include "foundation/UptimeClock.hpp"
#include "ocrjobs/QueueFolderInput.hpp"
#include "ocrqueue/QueueController.hpp"
#include "recognition/handwriting/AnnotationClassification.hpp"
#include "recognition/automatic/AutoOCR.hpp"

namespace velmora {

namespace {

constexpr const char* importingSentence = "原稿を確認中です。完了後に追加してください。";
constexpr const char* privateRule =
    "通常キューへprivate原稿は追加できません。新しいウインドウでメモリ限定の処理一覧を作成してください。";
constexpr const char* appendedSuffix = "件を末尾へ追加しました。設定は各項目に固定しました。";
constexpr const char* dropLimit = "一度に追加できる上限は5000件です。";
constexpr const char* partialDrop = "一部の入力を読み込めません。追加は行っていません。";
constexpr const char* replacedSentence = "確認中に処理一覧が替わったため、追加は行っていません。";
constexpr const char* listedSuffix = "件の一覧を確認してから追加してください。";

// The form two paths are compared in: the NFC of a UTF-8 path; the bytes
// themselves for one that is not UTF-8, which no NFC form can equal.
std::string comparisonKey(const std::string& path) {
    if (!g_utf8_validate(path.data(), static_cast<gssize>(path.size()), nullptr)) return path;
    return Unicode::nfc(path);
}

std::string sentenceOf(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const BrindlexError& e) {
        return e.what();
    } catch (const CancellationError&) {
        return BrindlexError::message(ErrorCase::cancelled);
    } catch (...) {
        return BrindlexError::message(ErrorCase::invalidInput);
    }
}

}  // namespace

// ---- adding

Task<void> QueueController::chooseAdditional() { return chooseAdditionalTask(weak_from_this()); }

Task<void> QueueController::chooseAdditionalTask(std::weak_ptr<QueueController> weak) {
    auto self = weak.lock();
    if (!self) co_return;
    auto panel = self->ports_.openFiles(true, {FileKind::png, FileKind::jpeg, FileKind::pdf});
    self.reset();
    std::vector<std::filesystem::path> chosen = co_await panel;
    if (chosen.empty()) co_return;
    auto next = appendTask(weak, std::move(chosen), true);
    co_await next;
}

Task<void> QueueController::appendFiles(std::vector<std::filesystem::path> urls, bool confirmDuplicate) {
    return appendTask(weak_from_this(), std::move(urls), confirmDuplicate);
}

std::optional<std::filesystem::path> QueueController::firstDuplicate(const std::vector<std::filesystem::path>& urls,
                                                                     bool againstQueue) const {
    std::unordered_set<std::string> queued;
    if (const auto& open = snapshot.get(); againstQueue && open) {
        queued.reserve(open->inputs.size() + urls.size());
        for (const QueueInput& input : open->inputs) queued.insert(comparisonKey(input.path));
    }
    // A file given twice in one call would become two items as surely as
    // one given again later: the earlier ones of the call count as queued.
    for (const auto& url : urls) {
        if (!queued.insert(comparisonKey(url.string())).second) return url;
    }
    return std::nullopt;
}

Task<bool> QueueController::confirmDuplicateAdding() const {
    return ports_.confirm("同じ原稿を別の項目として追加しますか？", "", "追加", AnswerAhead::suggested);
}

Task<void> QueueController::appendTask(std::weak_ptr<QueueController> weak, std::vector<std::filesystem::path> urls,
                                       bool confirmDuplicate) {
    auto self = weak.lock();
    if (!self) co_return;
    if (self->importing) {
        self->status = importingSentence;
        co_return;
    }
    if (urls.empty()) co_return;
    if (auto refusal = kindRefusal(urls)) {
        self->refuse(*refusal);
        co_return;
    }
    // What the call is about is fixed now, before the files are read: the
    // queue, the settings and the presentation shown at the call. Product
    // defaults waiting for the next opening describe new work too, but
    // stay for that opening.
    const std::shared_ptr<OCRQueueEngine> asked = self->engine;
    const UUID generation = self->generation;
    OCRSettings settings = self->currentSettings();
    QueuePresentation presentation = self->currentPresentation();
    if (const auto& defaults = self->nextProductDefaults) {
        settings = withMode(std::move(settings), defaults->ocrMode);
        presentation = QueuePresentation(defaults->handwriting, false, defaults->preserveLines,
                                         defaults->pageSeparators, defaults->ocrAutoSave);
    }
    const bool privateAtCall = self->privateInput;
    // Every file is read before anything is asked or added: one that would
    // fail only when the run reached it is refused now, with the sentence
    // of an opening, and nothing is added.
    self.reset();
    auto check = admitOriginals(weak, urls);
    const std::optional<std::string> refused = co_await check;
    if (refused) co_return;
    self = weak.lock();
    if (!self) co_return;
    if (self->importing) {
        self->status = importingSentence;
        co_return;
    }
    // The window shows another queue than the one the files were chosen
    // for: they go to neither.
    const auto stillAsked = [&] { return self->engine == asked && self->generation == generation; };
    if (!stillAsked()) {
        self->status = replacedSentence;
        co_return;
    }
    if (confirmDuplicate && self->firstDuplicate(urls, true)) {
        // The answer is about the queue open now: one replaced or an import
        // begun while the question was up makes it moot.
        auto question = self->confirmDuplicateAdding();
        self.reset();
        const bool add = co_await question;
        self = weak.lock();
        if (!self || !add) co_return;
        if (self->importing) {
            self->status = importingSentence;
            co_return;
        }
        if (!stillAsked()) {
            self->status = replacedSentence;
            co_return;
        }
    }
    const bool queueOpen = asked != nullptr;
    if (queueOpen && self->snapshot->has_value() && self->snapshot.get()->persistent() && privateAtCall) {
        self->status = privateRule;
        co_return;
    }
    self->managedQueue = true;
    self->processingList = true;
    if (!queueOpen) {
        self->prepareEngine(urls, CallSettings{std::move(settings), presentation, privateAtCall});
        co_return;
    }

    const InputOrigin origin = privateAtCall ? InputOrigin::privateSession : InputOrigin::normal;
    std::shared_ptr<Completion> previous = self->importTask;
    auto mine = std::make_shared<Completion>();
    self->importing = true;
    self->importTask = mine;
    spawn(appending(weak, self->engine, std::move(urls), std::move(settings), origin, presentation,
                    std::move(previous), std::move(mine)));
}

Task<void> QueueController::appending(std::weak_ptr<QueueController> weak, std::shared_ptr<OCRQueueEngine> target,
                                      std::vector<std::filesystem::path> urls, OCRSettings settings,
                                      InputOrigin origin, QueuePresentation presentation,
                                      std::shared_ptr<Completion> previous, std::shared_ptr<Completion> mine) {
    if (previous) {
        auto before = previous->wait();
        co_await before;
    }
    std::exception_ptr failure;
    try {
        // Each new item is hashed and read here: off the main thread.
        auto append = runOnWorker(
            [](const std::shared_ptr<OCRQueueEngine>& engine, const std::vector<std::filesystem::path>& files,
               const OCRSettings& s, InputOrigin o, const QueuePresentation& p) {
                std::vector<OCRQueueEngine::InputFile> inputs;
                inputs.reserve(files.size());
                for (const auto& url : files) inputs.push_back({url, o});
                engine->append(inputs, s, p);
            },
            target, urls, settings, origin, presentation);
        co_await append;
    } catch (...) {
        failure = std::current_exception();
    }
    if (auto self = weak.lock()) {
        if (failure) {
            self->status = sentenceOf(failure);
        } else if (self->engine == target) {
            // A queue replaced meanwhile took the files on its own; the
            // window shows another one now.
            self->snapshot = target->snapshot();
            self->status = std::to_string(urls.size()) + appendedSuffix;
        }
        if (self->importTask == mine) self->importing = false;
    }
    mine->finish();
}

// ---- drops

bool QueueController::receiveDrop(std::vector<DropItem> items) {
    assert(isMainThread());
    if (items.empty() || items.size() > maximumDrop) {
        status = dropLimit;
        return false;
    }
    std::shared_ptr<Completion> previous = dropTask;
    auto mine = std::make_shared<Completion>();
    dropTask = mine;
    spawn(dropping(weak_from_this(), std::move(items), std::move(previous), std::move(mine)));
    return true;
}

Task<void> QueueController::dropping(std::weak_ptr<QueueController> weak, std::vector<DropItem> items,
                                     std::shared_ptr<Completion> previous, std::shared_ptr<Completion> mine) {
    if (previous) {
        auto before = previous->wait();
        co_await before;
    }
    auto handled = handleDrop(std::move(weak), std::move(items));
    co_await handled;
    mine->finish();
}

Task<void> QueueController::handleDrop(std::weak_ptr<QueueController> weak, std::vector<DropItem> items) {
    const std::size_t itemCount = items.size();
    std::vector<std::filesystem::path> urls;
    urls.reserve(itemCount);
    for (const DropItem& item : items) {
        std::optional<std::filesystem::path> url;
        try {
            if (item) {
                auto load = item();
                url = co_await load;
            }
        } catch (const std::exception&) {
            // An item that fails to load gives no file, as one yielding
            // nothing does.
        }
        if (url && !url->empty()) urls.push_back(std::move(*url));
    }
    items.clear();

    auto self = weak.lock();
    if (!self) co_return;
    if (urls.size() < itemCount) {
        self->status = partialDrop;
        co_return;
    }
    // A single file refused says which one it was: a drop shows no name
    // anywhere else.
    const std::optional<std::string> single =
        urls.size() == 1 ? std::optional<std::string>(urls.front().filename().string()) : std::nullopt;
    self->refusedStatus = std::nullopt;
    if (!self->processingList && !self->busy && urls.size() <= 1) {
        auto open = requestSelectionTask(weak, std::move(urls));
        self.reset();
        co_await open;
    } else {
        auto add = appendTask(weak, std::move(urls), true);
        self.reset();
        co_await add;
    }
    // The next drop starts only after this one's import has ended.
    self = weak.lock();
    if (!self) co_return;
    // The reading of the files names the one it refused already.
    if (const auto& refused = self->refusedStatus.get();
        single && refused && *refused == self->status.get() && !refused->starts_with(*single + "：")) {
        self->refuse(*single + "：" + *refused);
    }
    std::shared_ptr<Completion> caused = self->importTask;
    self.reset();
    if (caused) {
        auto imported = caused->wait();
        co_await imported;
    }
}

// ---- folder listings

Task<void> QueueController::chooseFolder() { return chooseFolderTask(weak_from_this()); }

void QueueController::stopFolder() {
    assert(isMainThread());
    folderControl->request(JobControl::Stop::cancel);
}

void QueueController::dropFolderList() {
    assert(isMainThread());
    // A listing still walking ends unheard: it is no longer the latest.
    folderControl->request(JobControl::Stop::cancel);
    folderControl = std::make_shared<JobControl>();
    folderListing = false;
    folderCandidates = std::vector<std::filesystem::path>{};
}

Task<void> QueueController::chooseFolderTask(std::weak_ptr<QueueController> weak) {
    auto self = weak.lock();
    if (!self) co_return;
    auto panel = self->ports_.chooseFolder();
    self.reset();
    const std::optional<std::filesystem::path> folder = co_await panel;
    self = weak.lock();
    if (!self || !folder || folder->empty()) co_return;

    // An older listing still walking is stopped: its result would only be
    // dropped.
    self->folderControl->request(JobControl::Stop::cancel);
    auto control = std::make_shared<JobControl>();
    self->folderControl = control;
    const bool recursive = self->folderRecursive;
    self->folderListing = true;
    self->folderCandidates = std::vector<std::filesystem::path>{};
    self.reset();

    std::vector<std::filesystem::path> found;
    std::exception_ptr failure;
    try {
        auto walk = runOnWorker(
            [](const std::filesystem::path& root, bool deep, const std::shared_ptr<JobControl>& stop) {
                return QueueFolderInput::enumerate(root, deep, *stop);
            },
            *folder, recursive, control);
        found = co_await walk;
    } catch (...) {
        failure = std::current_exception();
    }
    self = weak.lock();
    // Only the latest listing speaks: an older one ending late would show
    // another folder's files under the newer folder's question.
    if (!self || self->folderControl != control) co_return;
    if (failure) {
        self->status = sentenceOf(failure);
    } else {
        const std::size_t count = found.size();
        self->folderCandidates = std::move(found);
        self->status = std::to_string(count) + listedSuffix;
    }
    self->folderListing = false;
}

}  // namespace velmora
