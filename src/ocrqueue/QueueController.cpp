#include "ocrqueue/QueueController.hpp"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cassert>
#include <chrono>
#include <utility>

#include "foundation/DateFormat.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/UptimeClock.hpp"
#include "ocrjobs/QueueEditJournal.hpp"
#include "recognition/handwriting/AnnotationClassification.hpp"
#include "recognition/automatic/AutoOCR.hpp"

namespace velmora {

namespace {

constexpr std::string_view verticalEngineVersion = "vertical-reflow-r1";

bool annotationModeOf(OCRMode mode) { return mode == OCRMode::handwriting || mode == OCRMode::automatic; }

}  // namespace

std::shared_ptr<QueueController> QueueController::create(std::optional<std::filesystem::path> parent,
                                                         std::optional<std::filesystem::path> output,
                                                         QueuePorts ports) {
    assert(isMainThread());
    std::filesystem::path queues = parent ? std::move(*parent) : AppRuntime::current().storage / "queues";
    std::filesystem::path outputs = output ? std::move(*output) : DevPaths::outputs();
    auto controller = std::make_shared<QueueController>(Passkey{}, std::move(queues), std::move(outputs),
                                                        std::move(ports));
    controller->refreshSaved();
    return controller;
}

QueueController::QueueController(Passkey, std::filesystem::path parent, std::filesystem::path output, QueuePorts ports)
    : parent(std::move(parent)), output(std::move(output)), ports_(std::move(ports)) {}

QueueController::~QueueController() {
    assert(isMainThread());
    // A run still going is paused and waited for first, so that the edit
    // below is written after its last page.
    releaseRun();
    // Closing the window writes what the interval still held back; a
    // failure has nobody left to tell, and the queue keeps its last write.
    if (editWriteSource_ != 0 || (engine && engine->unwritten())) {
        // Nobody observes a controller on its way out.
        changed.clear();
        busyChanged.clear();
        try {
            storeNow();
        } catch (const std::exception&) {
        }
    }
    cancelEditWrite();
}

// ---- hooked assignments

void QueueController::setEdited(std::string text) {
    assert(isMainThread());
    edited.set(std::move(text));
    if (!loadingDecoration) editHook();
}

void QueueController::editHook() {
    if (!decorationKey) return;
    auto it = decorations.find(*decorationKey);
    if (it == decorations.end()) return;
    it->second.update(edited.get());
    // One write of a large queue costs more than a keystroke may: the text
    // waits in memory for at most one interval.
    scheduleEditWrite();
}

void QueueController::scheduleEditWrite() {
    if (editWriteSource_ != 0) return;
    auto* weak = new std::weak_ptr<QueueController>(weak_from_this());
    editWriteSource_ = g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(editWriteInterval.count()),
        [](gpointer data) -> gboolean {
            auto self = static_cast<std::weak_ptr<QueueController>*>(data)->lock();
            if (!self) return G_SOURCE_REMOVE;
            self->editWriteSource_ = 0;
            try {
                self->applyEdit();
            } catch (const std::exception&) {
                // The text stays in `edited` and in its state; the next
                // store tries again.
                self->status = unsavedSentence;
            }
            return G_SOURCE_REMOVE;
        },
        weak, [](gpointer data) { delete static_cast<std::weak_ptr<QueueController>*>(data); });
}

void QueueController::cancelEditWrite() {
    if (editWriteSource_ == 0) return;
    g_source_remove(editWriteSource_);
    editWriteSource_ = 0;
}

void QueueController::setSearch(std::string text) {
    assert(isMainThread());
    const bool differs = text != search.get();
    search.set(std::move(text));
    if (differs) searchSelection = std::nullopt;
}

void QueueController::setBusy(bool value) {
    assert(isMainThread());
    busy.set(value);
    busyChanged.emit();
}

bool QueueController::isPrivateQueue() const { return snapshot->has_value() && !snapshot.get()->persistent(); }

// ---- settings and view options

OCRSettings QueueController::currentSettings() const {
    // The languages and every other field keep the built defaults, so each
    // road that makes settings builds the same value.
    OCRSettings settings;
    settings.languageCorrection = languageCorrection;
    return withMode(std::move(settings), recognitionMode);
}

OCRSettings QueueController::withMode(OCRSettings settings, OCRMode mode) {
    settings.mode = mode;
    switch (mode) {
    case OCRMode::standard:
        settings.engineVersion = OCRSettings().engineVersion;
        break;
    case OCRMode::vertical:
        settings.engineVersion = std::string(verticalEngineVersion);
        break;
    case OCRMode::handwriting:
        settings.engineVersion = std::string(AnnotationOCR::version);
        break;
    case OCRMode::automatic:
        settings.engineVersion = std::string(AutoOCR::version);
        break;
    }
    return settings;
}

QueuePresentation QueueController::currentPresentation() const {
    return QueuePresentation(annotationFilter->includeHandwriting, annotationFilter->instructionsOnly, preserveLines,
                             pageSeparators, autoSave);
}

QueuePresentation QueueController::presentation(const UUID& inputID) const {
    if (selectedID.get() == inputID) return currentPresentation();
    if (const auto& s = snapshot.get()) {
        if (s->viewStates) {
            if (auto it = s->viewStates->find(inputID.text()); it != s->viewStates->end()) return it->second;
        }
        if (const QueueInput* input = s->input(inputID); input && input->presentation) return *input->presentation;
    }
    return currentPresentation();
}

void QueueController::loadPresentation(const std::optional<UUID>& inputID) {
    if (!inputID || !snapshot->has_value()) return;
    const QueueSnapshot& s = *snapshot.get();
    std::optional<QueuePresentation> stored;
    if (s.viewStates) {
        if (auto it = s.viewStates->find(inputID->text()); it != s.viewStates->end()) stored = it->second;
    }
    if (!stored) {
        if (const QueueInput* input = s.input(*inputID); input && input->presentation) stored = input->presentation;
    }
    if (!stored) return;
    annotationFilter = AnnotationFilter{stored->includeHandwriting, stored->instructionsOnly};
    preserveLines = stored->preserveLines;
    pageSeparators = stored->pageSeparators;
}

void QueueController::applyProductDefaults(const ProductDefaults& defaults) {
    recognitionMode = defaults.ocrMode;
    annotationFilter = AnnotationFilter{defaults.handwriting, false};
    preserveLines = defaults.preserveLines;
    pageSeparators = defaults.pageSeparators;
    combined = defaults.combinedTXT;
    exportOneFile = defaults.combinedTXT;
    autoSave = defaults.ocrAutoSave;
}

bool QueueController::annotationMode(const std::optional<UUID>& inputID) const {
    const auto& s = snapshot.get();
    if (!s) return false;
    if (inputID) {
        if (const QueueInput* input = s->input(*inputID); input && input->settings) {
            return annotationModeOf(input->settings->mode);
        }
    }
    return annotationModeOf(s->settings.mode);
}

bool QueueController::hasAnnotationResult() const { return annotationMode(selectedID.get()); }

// ---- keys, highlight states, edit state

std::string QueueController::pageKey(const UUID& inputID, int64_t page) {
    return inputID.text() + "-" + std::to_string(page);
}

std::string QueueController::pageDecorationKey(const UUID& inputID, int64_t page) const {
    std::string key = pageKey(inputID, page);
    if (annotationMode(inputID)) {
        const QueuePresentation p = presentation(inputID);
        key += "-annotation-" + AnnotationFilter{p.includeHandwriting, p.instructionsOnly}.key() + "-" +
               (p.preserveLines ? "true" : "false");
    }
    return key;
}

std::string QueueController::editorDocumentKey() const { return decorationKey.value_or(""); }

const OCRDecorationState& QueueController::currentDecoration() const {
    if (auto it = decorations.find(decorationKey.value_or("")); it != decorations.end()) return it->second;
    if (plainDecoration_.text() != edited.get()) plainDecoration_ = OCRDecorationState(edited.get(), {});
    return plainDecoration_;
}

void QueueController::editText(std::string text, std::optional<TextRange> range, std::optional<std::string> replacement,
                               bool undoOrRedo) {
    assert(isMainThread());
    auto it = decorationKey ? decorations.find(*decorationKey) : decorations.end();
    if (it == decorations.end()) {
        setEdited(std::move(text));
    } else {
        std::optional<std::string_view> change;
        if (replacement) change = *replacement;
        it->second.update(text, range, change, undoOrRedo);
        // The state has the text already: the edit hook's second comparison
        // of the whole page is left out.
        edited.set(std::move(text));
        if (!loadingDecoration) scheduleEditWrite();
    }
    searchSelection = std::nullopt;
}

std::vector<TextRegion> QueueController::previewRegions() const {
    const std::optional<UUID>& selected = selectedID.get();
    if (selected && annotationMode(selected)) {
        // In annotation mode the preview draws every stored region, whatever
        // the filter hides in the text; a result that cannot be read draws
        // nothing rather than failing the view.
        if (!engine) return {};
        try {
            if (auto result = engine->result(*selected, page)) return result->regions;
        } catch (const std::exception&) {
        }
        return {};
    }
    return regions.get();
}

bool QueueController::selectedComplete() const {
    const auto& s = snapshot.get();
    const std::optional<UUID>& selected = selectedID.get();
    if (!s || !selected) return false;
    const QueueInput* input = s->input(*selected);
    if (!input) return false;
    return std::any_of(input->pages.begin(), input->pages.end(), [this](const PageRecord& record) {
        return record.page == page.get() && record.state == PageState::completed;
    });
}

std::string QueueController::recognisedText(const UUID& inputID, int64_t pageNumber) const {
    if (!engine) return "";
    // A page whose result cannot be read counts as having no recognised
    // text, so a stored edit of it still counts as an edit.
    try {
        if (auto result = engine->result(inputID, pageNumber)) return result->text();
    } catch (const std::exception&) {
    }
    return "";
}

std::optional<std::string> QueueController::storedKey(const PageRecord& record, std::string_view variant) {
    if (record.state != PageState::completed || !record.checksum) return std::nullopt;
    std::string key = *record.checksum;
    key += '/';
    key += variant;
    return key;
}

std::string QueueController::storedText(const PageRecord& record, std::string_view variant,
                                        const std::function<std::string()>& read) const {
    std::optional<std::string> key = storedKey(record, variant);
    if (!key) return read();
    if (auto it = storedTexts_.find(*key); it != storedTexts_.end()) return it->second;
    std::string text = read();
    // A bound on what is kept: past it the texts are read again as needed.
    if (storedTextBytes_ + text.size() > maxStoredTextBytes) {
        storedTexts_.clear();
        storedTextBytes_ = 0;
    }
    storedTextBytes_ += text.size();
    storedTexts_.emplace(std::move(*key), text);
    return text;
}

bool QueueController::shownPageUntouched() const {
    const std::optional<UUID>& selected = selectedID.get();
    if (selected && annotationMode(selected)) {
        // An annotation page is shown in its readable form while line breaks
        // are off; that form is what the user has not touched.
        const std::string shown = presentation(*selected).preserveLines ? original.get()
                                                                         : OCRProduct::readable(original.get());
        return OCRProduct::sameUTF16(edited.get(), shown);
    }
    return OCRProduct::sameUTF16(edited.get(), original.get());
}

std::optional<std::string> QueueController::shownExportKey() const {
    const std::optional<UUID>& selected = selectedID.get();
    if (!selected) return std::nullopt;
    // The export records an annotation page under its decoration key.
    if (annotationMode(selected)) return pageDecorationKey(*selected, page);
    return pageKey(*selected, page);
}

bool QueueController::hasEditedText() const {
    for (const auto& [key, state] : decorations) {
        if (state.text16() != state.baseline16()) return true;
    }
    if (!shownPageUntouched()) return true;
    if (const auto& s = snapshot.get()) {
        for (const QueueInput& input : s->inputs) {
            for (const auto& [number, text] : input.editedPages) {
                if (!OCRProduct::sameUTF16(text, recognisedText(input.id, number))) return true;
            }
        }
    }
    return false;
}

bool QueueController::hasUnsavedEdits() const {
    auto exportedAs = [this](const std::string& key, std::string_view text) {
        auto it = exportedEdits.find(key);
        return it != exportedEdits.end() && OCRProduct::sameUTF16(it->second, text);
    };
    for (const auto& [key, state] : decorations) {
        if (state.text16() != state.baseline16() && !exportedAs(key, state.text())) return true;
    }
    if (selectedID->has_value() && !shownPageUntouched()) {
        if (!exportedAs(*shownExportKey(), edited.get())) return true;
    }
    if (const auto& s = snapshot.get()) {
        for (const QueueInput& input : s->inputs) {
            // The export is asked first: it needs no page read from disk.
            for (const auto& [number, text] : input.editedPages) {
                if (exportedAs(pageKey(input.id, number), text)) continue;
                if (!OCRProduct::sameUTF16(text, recognisedText(input.id, number))) return true;
            }
        }
    }
    return false;
}

// ---- saved queues

void QueueController::refreshSaved() {
    assert(isMainThread());
    struct Entry {
        std::string name;
        std::optional<std::chrono::nanoseconds> modified;
    };
    std::vector<Entry> entries;
    try {
        const SecureDirectory folder(parent, false);
        std::vector<std::string> names = folder.list();
        std::sort(names.begin(), names.end());
        const std::string queueFile(OCRQueueEngine::queueFileName);
        for (std::string& name : names) {
            if (!UUID::parse(name)) continue;
            struct stat entry {};
            // A link named like a queue is not one of ours: never followed.
            if (fstatat(folder.descriptor(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (!S_ISDIR(entry.st_mode)) continue;
            struct stat file {};
            if (fstatat(folder.descriptor(), (name + "/" + queueFile).c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            entries.push_back({std::move(name), std::chrono::seconds(entry.st_mtim.tv_sec) +
                                                    std::chrono::nanoseconds(entry.st_mtim.tv_nsec)});
        }
    } catch (const std::exception&) {
        // No folder of saved queues yet, or one that cannot be listed: the
        // list is empty and nothing is created.
        entries.clear();
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (!a.modified || !b.modified) return a.modified.has_value() && !b.modified.has_value();
        return *a.modified > *b.modified;
    });
    // The queue on screen is no candidate for resuming: it is open already,
    // and its label would be read from what its folder held at this moment.
    std::optional<std::filesystem::path> open;
    if (engine && engine->directory()) open = engine->directory()->url();
    std::vector<std::filesystem::path> folders;
    folders.reserve(entries.size());
    for (const Entry& e : entries) {
        if (!open || parent / e.name != *open) folders.push_back(parent / e.name);
    }
    savedQueues = std::move(folders);
    if (open && selectedSaved.get() == open) selectedSaved = std::nullopt;
    if (!selectedSaved->has_value() && !savedQueues->empty()) selectedSaved = savedQueues->front();
}

std::string QueueController::savedQueueLabel(const std::filesystem::path& folder) const {
    QueueSnapshot s;
    try {
        s = OCRQueueEngine::inspect(folder);
    } catch (const std::exception&) {
        return incompatibleLabel;
    }
    const std::string name =
        s.inputs.empty() ? std::string("原稿") : std::filesystem::path(s.inputs.front().path).filename().string();
    const char* state = s.status == QueueStatus::paused      ? "一時停止中"
                        : s.status == QueueStatus::completed ? "処理済み"
                                                             : "未完了";
    std::string label = name + " · " + std::to_string(s.inputs.size()) + "ファイル · 成功" +
                        std::to_string(s.completedPages()) + "/失敗" + std::to_string(s.failedPages());
    // A file that failed before any page was read fails no page.
    if (const int64_t failed = s.failedInputs(); failed > 0) label += " · 失敗" + std::to_string(failed) + "ファイル";
    label += std::string(" · ") + state;
    // Two trials of one file are told apart by when each was last worked on.
    if (const std::optional<Date> worked = lastWorked(folder)) {
        label += " · " + DateFormat::format(*worked, workedPattern);
    }
    return label;
}

std::optional<Date> QueueController::lastWorked(const std::filesystem::path& folder) {
    // The queue file is replaced whole and the edit journal appended to;
    // either is the last work, and the folder's own time when both are
    // older (a job folder made).
    std::optional<Date> latest;
    for (const std::filesystem::path& path :
         {folder, folder / OCRQueueEngine::queueFileName, folder / std::string(QueueEditJournal::fileName)}) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;
        const Date at{std::chrono::seconds(st.st_mtim.tv_sec)};
        if (!latest || at > *latest) latest = at;
    }
    return latest;
}

}  // namespace velmora
