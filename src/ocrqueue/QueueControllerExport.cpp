#include <glib.h>

#include <algorithm>
#include <cassert>
#include <set>

#include "foundation/FolderText.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/UptimeClock.hpp"
#include "history/CaptureHistory.hpp"
#include "ocrqueue/QueueController.hpp"

namespace velmora {

namespace {

constexpr const char* incompleteManagedPage = "[途中結果：未完了または失敗]";
constexpr const char* unreadInput = "[途中結果：入力確認待ち]";
constexpr const char* partialSentence = "TXTを一部保存しました。保存済みファイルは保持しています。";
constexpr const char* historyNotice = "TXTは保存済みですが履歴へ登録できませんでした。ファイルは保持しています。";

std::string joinedText(const std::vector<TextRegion>& regions) {
    std::string text;
    for (std::size_t i = 0; i < regions.size(); ++i) {
        if (i > 0) text += '\n';
        text += regions[i].text;
    }
    return text;
}

std::vector<uint8_t> bytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<OCRProduct::Page> pagesOf(const UUID& inputID, const std::vector<OCRProduct::Page>& pages) {
    std::vector<OCRProduct::Page> own;
    for (const auto& p : pages) {
        if (p.inputID == inputID) own.push_back(p);
    }
    return own;
}

// One headed block per input, in the order given.
std::string sections(const std::vector<QueueInput>& inputs, const std::vector<OCRProduct::Page>& pages,
                     bool separators) {
    std::string text;
    for (std::size_t n = 0; n < inputs.size(); ++n) {
        const QueueInput& input = inputs[n];
        if (n > 0) text += "\n\n";
        text += "=== 文書 " + std::to_string(n + 1) + ": " + std::filesystem::path(input.path).filename().string() +
                " ===\n";
        text += input.source ? OCRProduct::text(pagesOf(input.id, pages), separators) : std::string(unreadInput);
    }
    return text;
}

// What the user reads of a failed save: our own error's sentence, else the
// general one of a failed save.
std::string saveFailure(const std::exception& error) {
    if (const auto* known = dynamic_cast<const BrindlexError*>(&error)) return known->what();
    return BrindlexError::message(ErrorCase::saveFailed);
}

}  // namespace

// ---- the document of the queue

std::vector<OCRProduct::Page> QueueController::documentPages() { return documentPages(false); }

std::vector<OCRProduct::Page> QueueController::documentPages(bool remembered, std::vector<std::string>* storedKeys) {
    assert(isMainThread());
    if (!engine) return {};
    const QueueSnapshot current = engine->snapshot();
    // What is written out reads every result file as it is now; the search,
    // which counts again after each keystroke, reads each one once.
    std::string key;
    auto stored = [&](const PageRecord& record, std::string_view variant, const std::function<std::string()>& read) {
        if (!remembered) return read();
        key = storedKey(record, variant).value_or("");
        return storedText(record, variant, read);
    };
    std::vector<OCRProduct::Page> pages;
    for (const QueueInput& input : current.inputs) {
        const bool annotation = annotationMode(input.id);
        const QueuePresentation shownAs = presentation(input.id);
        const AnnotationFilter filter{shownAs.includeHandwriting, shownAs.instructionsOnly};
        for (const PageRecord& record : input.pages) {
            std::string text;
            key.clear();
            if (selectedID.get() == input.id && page.get() == record.page && decorationKey) {
                text = edited.get();
            } else if (!annotation) {
                if (auto it = input.editedPages.find(record.page); it != input.editedPages.end()) {
                    text = it->second;
                } else {
                    text = stored(record, "", [&]() -> std::string {
                        if (auto result = engine->result(input.id, record.page)) return result->text();
                        return "";
                    });
                }
            } else {
                const std::string variant = filter.key() + (shownAs.preserveLines ? "/lines" : "/readable");
                text = stored(record, variant, [&] {
                    const auto result = engine->result(input.id, record.page);
                    const std::string joined =
                        joinedText(filter.regions(result ? result->regions : std::vector<TextRegion>{}));
                    return shownAs.preserveLines ? joined : OCRProduct::readable(joined);
                });
                if (auto state = decorations.find(pageDecorationKey(input.id, record.page));
                    state != decorations.end()) {
                    text = state->second.text();
                    key.clear();
                }
            }
            if (storedKeys) storedKeys->push_back(key);
            pages.push_back({input.id, record.page, std::move(text), record.state == PageState::completed});
        }
    }
    return pages;
}

std::vector<QueueInput> QueueController::exportCandidates(const std::vector<QueueInput>& inputs) const {
    if (exportWholeQueue) return inputs;
    std::vector<QueueInput> chosen;
    for (const QueueInput& input : inputs) {
        if (selectedID.get() == input.id) chosen.push_back(input);
    }
    return chosen;
}

std::string QueueController::managedExportText() {
    const std::vector<OCRProduct::Page> pages = documentPages();
    const std::vector<QueueInput> inputs =
        snapshot->has_value() ? exportCandidates(snapshot.get()->inputs) : std::vector<QueueInput>{};
    return sections(inputs, pages, pageSeparators);
}

// ---- TXT export

std::vector<std::filesystem::path> QueueController::exportManaged(const std::filesystem::path& to,
                                                                  std::vector<UUID>& writtenInputs) {
    const SecureDirectory folder(to, true);
    const std::vector<OCRProduct::Page> pages = documentPages();
    const std::vector<QueueInput> candidates = exportCandidates(engine->snapshot().inputs);
    const bool anyComplete = std::any_of(pages.begin(), pages.end(), [&](const OCRProduct::Page& p) {
        return p.complete && std::any_of(candidates.begin(), candidates.end(),
                                         [&](const QueueInput& input) { return input.id == p.inputID; });
    });
    if (!anyComplete) raise(ErrorCase::emptyResult);

    std::vector<std::filesystem::path> written;
    auto publish = [&](const std::string& text, const std::string& stem) {
        written.push_back(folder.exportData(bytesOf(text), stem, "txt", std::nullopt, nullptr, true));
        lastExports = written;
    };
    for (const QueueInput& input : candidates) writtenInputs.push_back(input.id);
    if (exportWholeQueue && exportOneFile) {
        publish(sections(candidates, pages, pageSeparators), "OCR-全結果");
        return written;
    }
    for (const QueueInput& input : candidates) {
        const std::string stem = std::filesystem::path(input.path).stem().string();
        const std::vector<OCRProduct::Page> own = pagesOf(input.id, pages);
        if (!combined && !exportWholeQueue) {
            for (const OCRProduct::Page& p : own) {
                publish(p.complete ? p.text : std::string(incompleteManagedPage), OCRProduct::pageStem(stem, p.page));
            }
        } else {
            publish(OCRProduct::text(own, pageSeparators), stem);
        }
    }
    return written;
}

std::vector<std::filesystem::path> QueueController::exportProduct(const std::filesystem::path& to) {
    const std::vector<OCRProduct::Page> pages = documentPages();
    if (std::none_of(pages.begin(), pages.end(), [](const OCRProduct::Page& p) { return p.complete; })) {
        raise(ErrorCase::emptyResult);
    }
    const SecureDirectory folder(to, true);
    const QueueSnapshot current = engine->snapshot();
    const std::string stem =
        current.inputs.size() == 1 ? std::filesystem::path(current.inputs.front().path).stem().string() : "キャプチャOCR";
    std::vector<std::filesystem::path> written;
    if (combined) {
        written.push_back(
            folder.exportData(bytesOf(OCRProduct::text(pages, pageSeparators)), stem, "txt", std::nullopt, nullptr, true));
        return written;
    }
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (!pages[i].complete) continue;
        written.push_back(folder.exportData(bytesOf(pages[i].text), OCRProduct::pageStem(stem, int64_t(i) + 1), "txt",
                                            std::nullopt, nullptr, true));
        lastExports = written;
    }
    return written;
}

void QueueController::registerExports(const std::vector<std::filesystem::path>& written) {
    const bool persistent = !snapshot->has_value() || snapshot.get()->persistent();
    if (!persistent || privateInput) return;
    std::vector<std::filesystem::path> sources;
    for (const QueueInput& input : engine->snapshot().inputs) sources.emplace_back(input.path);
    try {
        AppHistory::required()->registerOutputs(written, "ocr", false, std::nullopt, sources);
    } catch (const std::exception&) {
        // The files are written and stay; only the history missed them.
        AppHistory::startupNotice().set(historyNotice);
    }
}

void QueueController::recordExportedEdits(const std::vector<OCRProduct::Page>& pages,
                                          const std::vector<UUID>& writtenInputs) {
    const std::set<UUID> written(writtenInputs.begin(), writtenInputs.end());
    if (annotationMode(selectedID.get())) {
        for (const OCRProduct::Page& p : pages) {
            if (p.complete && written.count(p.inputID)) exportedEdits[pageDecorationKey(p.inputID, p.page)] = p.text;
        }
    }
    for (const QueueInput& input : engine->snapshot().inputs) {
        if (!written.count(input.id)) continue;
        for (const auto& [number, text] : input.editedPages) exportedEdits[pageKey(input.id, number)] = text;
    }
}

void QueueController::exportText(const std::filesystem::path& to) {
    assert(isMainThread());
    partialExport_ = false;
    if (!engine) raise(ErrorCase::emptyResult);
    applyEdit();
    lastExports = std::vector<std::filesystem::path>{};

    std::vector<std::filesystem::path> written;
    // Only the inputs whose text a file holds count as exported: an edit of
    // an input the export left out is still unsaved.
    std::vector<UUID> writtenInputs;
    try {
        if (managedQueue) {
            written = exportManaged(to, writtenInputs);
        } else {
            for (const QueueInput& input : engine->snapshot().inputs) writtenInputs.push_back(input.id);
            if (!productPresentation && !annotationMode(selectedID.get())) {
                written = engine->exportTo(to, TXTOptions(preserveLines, pageSeparators, combined));
            } else {
                written = exportProduct(to);
            }
        }
    } catch (...) {
        // The files written before the failure stay and are listed.
        partialExport_ = !lastExports->empty();
        if (partialExport_) status = partialSentence;
        throw;
    }
    lastExports = written;
    registerExports(written);
    recordExportedEdits(documentPages(), writtenInputs);
    status = savedSentence(written);
    savedStatus = status.get();
}

std::string QueueController::savedSentence(const std::vector<std::filesystem::path>& written) {
    if (written.empty()) return "TXTを0件保存しました。";
    const std::string name = "「" + written.front().filename().string() + "」";
    const std::string folder = folderText(written.front().parent_path());
    // A numbered name says that an earlier file of that name was kept.
    const std::string what = written.size() == 1
                                 ? "TXT" + name + "を保存しました。"
                                 : "TXTを" + std::to_string(written.size()) + "件保存しました（" + name + "ほか）。";
    return what + "保存先：" + folder;
}

void QueueController::revealExports() {
    assert(isMainThread());
    if (lastExports->empty()) return;
    ports_.reveal(lastExports->front());
}

// ---- the ways out

bool QueueController::stillOpen(const std::shared_ptr<OCRQueueEngine>& asked, const UUID& asOf) const {
    return engine && engine == asked && generation == asOf;
}

Task<void> QueueController::save(bool ask) { return saveTask(weak_from_this(), ask); }

Task<void> QueueController::saveTask(std::weak_ptr<QueueController> weak, bool ask) {
    auto self = weak.lock();
    if (!self || !self->engine) co_return;
    try {
        self->applyEdit();
    } catch (const std::exception& e) {
        self->status = saveFailure(e);
        co_return;
    }
    // Nothing read is nothing to save: no folder is asked for, and no word
    // of pages read empty.
    if (self->engine->snapshot().completedPages() == 0) {
        self->status = nothingReadSentence;
        co_return;
    }
    const std::shared_ptr<OCRQueueEngine> asked = self->engine;
    const UUID asOf = self->generation;

    std::optional<std::filesystem::path> destination;
    std::optional<std::string> failure;
    if (self->destinationProvider) {
        DestinationProvider provider = self->destinationProvider;
        self.reset();
        try {
            auto chosen = provider(ask);
            destination = co_await chosen;
        } catch (const std::exception& e) {
            failure = saveFailure(e);
        }
    } else if (ask) {
        auto panel = self->ports_.chooseSaveFolder(self->output, "このフォルダに保存", true);
        self.reset();
        destination = co_await panel;
    } else {
        destination = self->output;
    }
    if (!self) {
        // The queue may have been let go, replaced or closed meanwhile.
        self = weak.lock();
        if (!self || !self->stillOpen(asked, asOf)) co_return;
    }
    if (failure) {
        self->status = *failure;
        co_return;
    }
    if (!destination) {
        self->status = "保存を取消しました";
        co_return;
    }
    try {
        self->exportText(*destination);
    } catch (const std::exception& e) {
        self->status = self->partialExport_ ? partialSentence + saveFailure(e) : saveFailure(e);
    }
}

void QueueController::copyAll() {
    assert(isMainThread());
    try {
        applyEdit();
        // Before any page is read there is nothing to copy: saying it was
        // copied, or that the pages hold no text, would report what did not
        // happen, and the clipboard keeps what the user put there.
        if (!engine || engine->snapshot().completedPages() == 0) {
            status = nothingReadSentence;
            return;
        }
        std::string text;
        if (managedQueue) {
            text = managedExportText();
        } else if (!productPresentation && !annotationMode(selectedID.get())) {
            const TXTOptions options(preserveLines, pageSeparators, combined);
            const QueueSnapshot current = engine->snapshot();
            for (std::size_t i = 0; i < current.inputs.size(); ++i) {
                if (i > 0) text += "\n\n";
                text += engine->text(current.inputs[i].id, options);
            }
        } else {
            text = OCRProduct::text(documentPages(), pageSeparators);
        }
        ports_.setText(text);
        status = "コピーしました。";
    } catch (...) {
        status = BrindlexError::message(ErrorCase::saveFailed);
    }
}

std::string QueueController::currentName() const {
    const auto& s = snapshot.get();
    const std::optional<UUID>& selected = selectedID.get();
    if (!s || !selected) return "原稿未選択";
    const QueueInput* input = s->input(*selected);
    if (!input) return "原稿未選択";
    return std::filesystem::path(input->path).filename().string();
}

}  // namespace velmora
