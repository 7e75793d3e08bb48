// Moving through the queue, searching it, and the two switches that change
// how its text is shown: the line-break form and the annotation filter.
//
// What it guarantees:
// - The shown page's edit is stored before the page, the line form or the
//   filter changes; when it cannot be, nothing changes but the sentence.
// - A search hit is selected only on the page actually shown.
// - A re-flow rewrites each input in its own form: a plain input's stored
//   page text and highlight state, an annotation input's highlight state
//   only (its stored page texts never change), each annotation state under
//   the key of the filter and line form it was built with.
#include <algorithm>
#include <cassert>
#include <exception>
#include <map>

#include "foundation/UptimeClock.hpp"
#include "ocrqueue/QueueController.hpp"

namespace velmora {

namespace {

constexpr const char* pageNotSwitched = "編集を保持できませんでした。ページは切り替えていません。";
constexpr const char* linesQuestion = "認識原文から改行を整え直しますか？";
constexpr const char* linesFailed = "改行を変更できませんでした。保存済みの結果は保持しています。";
constexpr const char* filterQuestion = "表示対象を切り替えますか？";
constexpr const char* filterInformative =
    "現在の編集は表示対象ごとに保持します。元の表示対象へ戻すと編集内容も戻ります。必要なら先にTXTへ保存してください。";
constexpr const char* filterConfirm = "切り替える";
constexpr const char* filterEditFailed = "編集を保持できません";

std::string joinedText(const std::vector<TextRegion>& regions) {
    std::string text;
    for (std::size_t i = 0; i < regions.size(); ++i) {
        if (i > 0) text += '\n';
        text += regions[i].text;
    }
    return text;
}

}  // namespace

// ---- navigation and search

bool QueueController::goPage(int64_t number, std::optional<UUID> inputID) {
    assert(isMainThread());
    try {
        stageEdit(false);
        scheduleFlush();
    } catch (const std::exception&) {
        status = pageNotSwitched;
        return false;
    }
    if (inputID && selectedID.get() != inputID) {
        selectedID = inputID;
        loadPresentation(inputID);
    }
    page = std::max<int64_t>(number, 1);
    searchSelection = std::nullopt;
    showPage();
    // The queue reopens on the page shown, after a crash too. Not being able
    // to note it takes nothing from the user: the page is shown, and the
    // next store notes it again.
    try {
        stageSelection();
    } catch (const std::exception&) {
    }
    return true;
}

std::vector<OCRProduct::Match> QueueController::searchMatches() {
    assert(isMainThread());
    // The views ask on every change: an empty search reads no page at all.
    if (search->empty()) return {};
    std::vector<OCRProduct::Page> pages;
    std::vector<std::string> keys;
    try {
        pages = documentPages(true, &keys);
    } catch (const std::exception&) {
        // Pages that cannot be read leave nothing to find; the search has
        // no sentence of its own to report it with.
        return {};
    }
    if (storedQuery_ != search.get() || storedMatches_.size() > storedTexts_.size()) {
        storedMatches_.clear();
        storedQuery_ = search.get();
    }
    std::vector<OCRProduct::Match> out;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const UUID inputID = pages[i].inputID;
        const int64_t number = pages[i].page;
        if (keys[i].empty()) {
            for (OCRProduct::Match& m : OCRProduct::matches(search.get(), {std::move(pages[i])})) out.push_back(m);
            continue;
        }
        auto found = storedMatches_.find(keys[i]);
        if (found == storedMatches_.end()) {
            std::vector<TextRange> ranges;
            for (const OCRProduct::Match& m : OCRProduct::matches(search.get(), {std::move(pages[i])})) {
                ranges.push_back(m.range);
            }
            found = storedMatches_.emplace(keys[i], std::move(ranges)).first;
        }
        for (const TextRange& range : found->second) out.push_back({inputID, number, range});
    }
    return out;
}

void QueueController::find(int step) {
    assert(isMainThread());
    const std::vector<OCRProduct::Match> hits = searchMatches();
    if (hits.empty()) {
        searchSelection = std::nullopt;
        return;
    }
    const auto count = static_cast<int64_t>(hits.size());
    int64_t current = step > 0 ? -1 : 0;
    if (const auto& selected = searchSelection.get()) {
        if (auto it = std::find(hits.begin(), hits.end(), *selected); it != hits.end()) current = it - hits.begin();
    }
    const int64_t next = ((current + step) % count + count) % count;
    const OCRProduct::Match hit = hits[static_cast<std::size_t>(next)];
    // A refused switch keeps the page it could not leave: the hit, on
    // another page, is not selected in this one's text.
    if (goPage(hit.page, hit.inputID)) searchSelection = hit;
}

// ---- line re-flow

Task<void> QueueController::changeLines(bool preserve) { return changeLinesTask(weak_from_this(), preserve); }

Task<void> QueueController::changeLinesTask(std::weak_ptr<QueueController> weak, bool preserve) {
    auto self = weak.lock();
    if (!self) co_return;
    if (self->busy || !self->engine) {
        // Only the option: nothing is rewritten, now or later.
        self->preserveLines = preserve;
        co_return;
    }
    if (self->preserveLines == preserve) co_return;
    if (self->hasEditedText()) {
        const std::shared_ptr<OCRQueueEngine> asked = self->engine;
        auto question = self->confirmReplaceEditedText(linesQuestion, "整え直す");
        self.reset();
        const bool proceed = co_await question;
        self = weak.lock();
        if (!self || !proceed) co_return;
        if (self->busy || self->importing || self->engine != asked || self->preserveLines == preserve) co_return;
    }
    try {
        self->reflow(preserve);
    } catch (const std::exception&) {
        self->status = linesFailed;
        co_return;
    }
    self->showPage();
}

void QueueController::reflow(bool preserve) {
    assert(isMainThread());
    applyEdit();
    const QueueSnapshot current = engine->snapshot();
    const std::string annotationSuffix =
        "-annotation-" + annotationFilter->key() + "-" + (preserve ? "true" : "false");
    // Every rewritten page is stored with one write of the queue: a write
    // per page made a long queue's re-flow wait on the disk once a page.
    std::vector<OCRQueueEngine::PageEdit> edits;
    std::map<std::string, OCRDecorationState> states;
    std::exception_ptr failure;
    try {
        for (const QueueInput& input : current.inputs) {
            const bool annotation = annotationMode(input.id);
            for (const PageRecord& record : input.pages) {
                if (record.state != PageState::completed) continue;
                const std::string key = pageKey(input.id, record.page);
                if (!annotation) {
                    const std::optional<PageResult> result = engine->result(input.id, record.page);
                    const std::string recognised = result ? result->text() : std::string();
                    std::string text = preserve ? recognised : OCRProduct::readable(recognised);
                    OCRDecorationState state(recognised,
                                             OCRProduct::recognitionLowRanges(
                                                 recognised, result ? result->regions : std::vector<TextRegion>{}));
                    state.reformat(text);
                    edits.push_back({input.id, record.page, std::move(text)});
                    states[key] = std::move(state);
                    continue;
                }
                std::optional<PageResult> result;
                try {
                    result = engine->result(input.id, record.page);
                } catch (const std::exception&) {
                    // An annotation page whose result cannot be read is shown
                    // empty; its state holds nothing that could be lost.
                    result.reset();
                }
                const std::vector<TextRegion> shown =
                    annotationFilter->regions(result ? result->regions : std::vector<TextRegion>{});
                const std::string text = joinedText(shown);
                OCRDecorationState state(text, OCRProduct::recognitionLowRanges(text, shown));
                if (!preserve) state.reformat(OCRProduct::readable(text));
                states[key + annotationSuffix] = std::move(state);
            }
        }
    } catch (const std::exception&) {
        // A page that cannot be read ends the re-flow there: the pages
        // before it are still stored, as they were read.
        failure = std::current_exception();
    }
    if (!edits.empty()) engine->editPages(edits);
    for (auto& [key, state] : states) decorations[key] = std::move(state);
    if (failure) std::rethrow_exception(failure);
    preserveLines = preserve;
    snapshot = engine->snapshot();
}

// ---- the annotation filter

Task<bool> QueueController::changeAnnotationFilter(AnnotationFilter filter, std::function<Task<bool>()> confirmation) {
    return changeAnnotationFilterTask(weak_from_this(), filter, std::move(confirmation));
}

Task<bool> QueueController::changeAnnotationFilterTask(std::weak_ptr<QueueController> weak, AnnotationFilter filter,
                                                       std::function<Task<bool>()> confirmation) {
    auto self = weak.lock();
    if (!self || self->annotationFilter.get() == filter) co_return false;
    if (self->hasEditedText()) {
        const std::shared_ptr<OCRQueueEngine> asked = self->engine;
        Task<bool> question = confirmation ? confirmation()
                                           : self->ports_.confirm(filterQuestion, filterInformative, filterConfirm,
                                                                                AnswerAhead::suggested);
        self.reset();
        const bool proceed = co_await question;
        self = weak.lock();
        if (!self || !proceed) co_return false;
        if (self->engine != asked || self->annotationFilter.get() == filter) co_return false;
    }
    try {
        self->applyEdit();
    } catch (const std::exception&) {
        self->status = filterEditFailed;
        co_return false;
    }
    self->annotationFilter = filter;
    self->searchSelection = std::nullopt;
    self->showPage();
    co_return true;
}

}  // namespace velmora
