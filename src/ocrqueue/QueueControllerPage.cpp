#include <cassert>
#include <string>
#include <utility>

#include "foundation/UptimeClock.hpp"
#include "ocrqueue/OriginalAccess.hpp"
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

constexpr const char* lockedSentence =
    "パスワードで保護されたPDFです。PDFパスワードを入力して「解除してOCR」を押してください。";

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
    const std::optional<QueueInput> input =
        engine && selectedID->has_value() ? engine->input(selectedID->value()) : std::nullopt;
    // What is known of the original shown stays until its new picture
    // tells otherwise: the password field does not blink at every page.
    if (!input || input->id != pictureInput_) {
        shownUnreadable_.reset();
        shownLockedPDF_ = false;
        pictureInput_ = input ? std::optional<UUID>(input->id) : std::nullopt;
    }
    if (!input) return;
    const UUID id = input->id;

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
    // A page count the queue knows is shown at once; the picture follows.
    if (input->source) previewPageCount = input->source->pageCount;
    requestPicture(file, unlocked, input->source.has_value());
}

QueueController::Picture QueueController::preparePicture(const std::filesystem::path& file, int64_t page,
                                                         const std::optional<std::string>& password,
                                                         bool countKnown) {
    Picture picture;
    picture.pdf = lowered(file.extension().string()) == ".pdf";
    if (!countKnown) {
        // Why the original is no document at all: a locked PDF waits for its
        // password and a file gone missing is the run's to report.
        picture.count = 1;
        if (picture.pdf) {
            try {
                picture.count = Raster::pdfPageCount(file, password);
            } catch (const BrindlexError& e) {
                if (e.errorCase() == ErrorCase::lockedPDF) picture.locked = true;
                else picture.unreadable = unreadableOriginal(file).value_or(e.what());
            } catch (const std::exception&) {
            }
        }
    }
    if (picture.pdf) {
        // A page that cannot be rendered (missing file, locked, out of range)
        // of a document that opens shows no image and no message.
        try {
            picture.image = Raster::pdf(file, static_cast<int>(page - 1), 100, password);
        } catch (const std::exception&) {
        }
    } else {
        try {
            picture.image = Raster::preview(file);
        } catch (const std::exception& e) {
            picture.failure = unreadableOriginal(file).value_or(failureSentence(e));
        }
    }
    return picture;
}

void QueueController::requestPicture(const std::filesystem::path& file, const std::optional<std::string>& password,
                                     bool countKnown) {
    picturePending = true;
    PictureRequest request{file, page.get(), password, countKnown, ++pictureTicket_};
    // One picture at a time: pages turned faster than they render would
    // otherwise each hold a page's pixels at once. The latest request waits
    // in place of any other.
    if (pictureRunning_) {
        waitingPicture_ = std::move(request);
    } else {
        startPicture(std::move(request));
    }
}

void QueueController::startPicture(PictureRequest request) {
    pictureRunning_ = true;
    detail::runOnWorkerThread([weak = weak_from_this(), request = std::move(request)] {
        Picture picture = preparePicture(request.file, request.page, request.password, request.countKnown);
        // The picture is let go on the main thread, shown or dropped there,
        // even while the window paints every frame.
        postToMain([weak, ticket = request.ticket, picture = std::move(picture)]() mutable {
            auto self = weak.lock();
            if (!self) return;
            self->pictureRunning_ = false;
            self->showPicture(std::move(picture), ticket);
            if (auto next = std::exchange(self->waitingPicture_, std::nullopt)) self->startPicture(std::move(*next));
        });
    });
}

void QueueController::forgetPicture() {
    ++pictureTicket_;
    waitingPicture_.reset();
    picturePending = false;
}

void QueueController::showPicture(Picture picture, uint64_t ticket) {
    assert(isMainThread());
    // Another page, input or queue has been shown since it was asked for.
    if (ticket != pictureTicket_) return;
    if (picture.count) previewPageCount = *picture.count;
    shownLockedPDF_ = picture.locked;
    shownUnreadable_ = std::move(picture.unreadable);
    if (picture.pdf) {
        preview = std::move(picture.image);
    } else if (picture.image) {
        preview = std::move(picture.image);
    } else if (picture.failure) {
        status = *picture.failure;
    }
    if (ticket == announcedTicket_ && !busy) {
        // Refused as an image that cannot be decoded is (its failure said
        // so above): the queue stays open, its run reports the same.
        if (shownUnreadable_) status = *shownUnreadable_;
        // A locked PDF is said to be one at once, beside the field it needs,
        // rather than after a run that could not read it.
        if (shownLocked()) status = lockedSentence;
    }
    picturePending = false;
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
