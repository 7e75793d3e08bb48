#include <cassert>
#include <string>

#include "foundation/UptimeClock.hpp"
#include "ocrjobs/SourceIdentity.hpp"
#include "ocrqueue/QueueController.hpp"

namespace velmora {

namespace {

std::string joinedText(const std::vector<TextRegion>& regions) {
    std::string text;
    for (std::size_t i = 0; i < regions.size(); ++i) {
        if (i > 0) text += '\n';
        text += regions[i].text;
    }
    return text;
}

std::string lowered(std::string text) {
    for (char& ch : text) {
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    }
    return text;
}

}  // namespace

std::string QueueController::failureSentence(const std::exception& error) {
    if (const auto* known = dynamic_cast<const BrindlexError*>(&error)) return known->what();
    return BrindlexError::message(ErrorCase::invalidInput);
}

void QueueController::showPage() {
    assert(isMainThread());
    shownUnreadable_.reset();
    shownLockedPDF_ = false;
    if (!engine || !selectedID->has_value()) return;
    const UUID id = selectedID->value();
    const std::optional<QueueInput> input = engine->input(id);
    if (!input) return;

    std::optional<PageResult> result;
    try {
        result = engine->result(id, page);
    } catch (const std::exception& e) {
        status = failureSentence(e);
        return;
    }

    loadingDecoration = true;
    const bool annotation = annotationMode(id);
    std::vector<TextRegion> shown = result ? result->regions : std::vector<TextRegion>{};
    if (annotation) shown = annotationFilter->regions(shown);
    regions = shown;
    original = joinedText(regions);
    const std::string key = pageDecorationKey(id, page);

    auto stored = decorations.find(key);
    const auto editedPage = input->editedPages.find(page);
    const bool pageEdited = editedPage != input->editedPages.end();
    std::string text;
    if (stored != decorations.end()) {
        text = stored->second.text();
    } else if (!annotation && pageEdited) {
        text = editedPage->second;
    } else if (!annotation || preserveLines) {
        text = original;
    } else {
        text = OCRProduct::readable(original.get());
    }
    setEdited(std::move(text));

    if (result) {
        const bool stale = stored != decorations.end() && !annotation && preserveLines &&
                           stored->second.baseline() != original.get();
        if (stored == decorations.end() || stale) {
            OCRDecorationState state(original.get(), OCRProduct::recognitionLowRanges(original.get(), regions));
            // An untouched page of a plain input is shown as recognised, so
            // that text is its baseline: reformatting it to the readable form
            // and bringing it back would mark every joined line as typed.
            const bool shownAsRecognised = !annotation && !pageEdited;
            if (!preserveLines && !shownAsRecognised) state.reformat(OCRProduct::readable(original.get()));
            state.update(edited.get());
            decorations[key] = std::move(state);
        }
        decorationKey = key;
    } else {
        decorationKey.reset();
    }
    loadingDecoration = false;

    const std::filesystem::path file = input->fileURL();
    const std::optional<std::string> unlocked = [&]() -> std::optional<std::string> {
        if (auto it = unlockedPasswords.find(id); it != unlockedPasswords.end()) return it->second;
        return std::nullopt;
    }();
    int64_t count = 1;
    // Why the original is no document at all: a locked PDF waits for its
    // password and a file gone missing is the run's to report.
    std::optional<std::string> unreadable;
    if (input->source) {
        count = input->source->pageCount;
    } else {
        try {
            count = SourceIdentity::read(file, unlocked).pageCount;
        } catch (const BrindlexError& e) {
            count = 1;
            if (e.errorCase() == ErrorCase::lockedPDF) shownLockedPDF_ = true;
            else unreadable = e.what();
        } catch (const std::exception&) {
            count = 1;
        }
    }
    previewPageCount = count;
    shownUnreadable_ = std::move(unreadable);

    if (lowered(file.extension().string()) == ".pdf") {
        // A page that cannot be rendered (missing file, locked, out of range)
        // of a document that opens shows no image and no message.
        try {
            preview = Raster::pdf(file, static_cast<int>(page.get() - 1), 100, unlocked);
        } catch (const std::exception&) {
            preview = std::nullopt;
        }
    } else {
        try {
            preview = Raster::preview(file);
        } catch (const std::exception& e) {
            status = failureSentence(e);
        }
    }
}

bool QueueController::shownLocked() const {
    if (!shownLockedPDF_ || !engine || !selectedID->has_value()) return false;
    // A PDF given up or read before asks for nothing more.
    const auto& shown = snapshot.get();
    const QueueInput* input = shown ? shown->input(selectedID->value()) : nullptr;
    return input && (input->status == InputStatus::pending || input->status == InputStatus::waitingPassword);
}

std::optional<AutoPresentation> QueueController::autoPresentation() const {
    if (!engine || !selectedID->has_value()) return std::nullopt;
    // A result that cannot be read has no verdict to show.
    try {
        if (auto result = engine->result(selectedID->value(), page)) return result->autoPresentation;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

Task<bool> QueueController::confirmDiscard(std::string message, std::string ahead) const {
    return ports_.confirm(std::move(message),
                          "未保存の編集があります。必要な場合は先にTXTを保存してください。以前の認識・編集データと保存済みファイルは削除しません。",
                          std::move(ahead), AnswerAhead::suggested);
}

Task<bool> QueueController::confirmReplaceEditedText(std::string message, std::string ahead) const {
    return ports_.confirm(std::move(message),
                          "編集した認識結果が上書きされます。TXTへ保存済みの場合も、現在の編集内容は画面から置き換わります。保存済みファイルと原稿は削除しません。",
                          std::move(ahead), AnswerAhead::destructive);
}

}  // namespace velmora
