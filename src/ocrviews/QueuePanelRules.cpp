#include "ocrviews/QueuePanelRules.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "foundation/BrindlexError.hpp"
#include "ocrqueue/QueueController.hpp"

namespace velmora {

namespace QueuePanelRules {

PanelState state(const QueueController& c) {
    PanelState s;
    s.busy = c.busy.get();
    s.importing = c.importing.get();
    s.listing = c.folderListing.get();
    s.engineOpen = c.engine != nullptr;
    const auto& snapshot = c.snapshot.get();
    s.queueOpen = snapshot.has_value();
    s.candidates = c.folderCandidates->size();
    s.savedQueues = c.savedQueues->size();
    const auto& rejection = c.rejection.get();
    s.rejection = rejection.has_value();
    s.rejectionCandidate = rejection && rejection->candidate.has_value();
    s.failedPages = snapshot ? snapshot->failedPages() : 0;
    return s;
}

Sections sections(const PanelState& s) {
    Sections shown;
    shown.stopListing = s.listing;
    shown.candidates = s.candidates > 0;
    shown.saved = s.savedQueues > 0;
    shown.rejection = s.rejection;
    shown.queue = s.queueOpen;
    shown.savedAfterQueue = shown.saved && shown.queue;
    shown.retryAll = s.queueOpen && s.failedPages >= 1;
    return shown;
}

Enablement enablement(const PanelState& s) {
    Enablement e;
    e.chooseFolder = !s.listing;
    e.order = !s.busy;
    e.start = !s.busy && s.engineOpen;
    e.pause = s.busy;
    e.cancel = s.busy;
    e.restart = !s.busy && s.engineOpen;
    e.retry = !s.busy;
    e.loadSaved = !s.busy;
    e.reselect = !s.busy;
    e.newTrial = !s.busy && !s.importing && s.rejectionCandidate;
    return e;
}

std::string countsLine(const QueueSnapshot& snapshot) {
    int64_t unknown = 0;
    for (const QueueInput& input : snapshot.inputs) {
        if (!input.source && input.status != InputStatus::failed) ++unknown;
    }
    return countsLine(QueueCounts(snapshot.inputs), unknown, snapshot.failedInputs());
}

std::string countsLine(const QueueCounts& counts, int64_t unknownFiles, int64_t failedFiles) {
    char text[512];
    std::snprintf(text, sizeof text, "全体%lldページ：成功%lld／失敗%lld／処理中%lld／未処理%lld／スキップ%lld・ページ数不明%lldファイル",
                  static_cast<long long>(counts.total()), static_cast<long long>(counts.success),
                  static_cast<long long>(counts.failed), static_cast<long long>(counts.running),
                  static_cast<long long>(counts.pending), static_cast<long long>(counts.skipped),
                  static_cast<long long>(unknownFiles));
    std::string line = text;
    if (failedFiles > 0) line += "・失敗" + std::to_string(failedFiles) + "ファイル";
    return line;
}

std::string persistenceNote(bool persistent) {
    return persistent ? "通常キュー：確定結果と編集を保存"
                      : "メモリ限定：終了後は再開できません。明示保存TXT・コピーは残ります。";
}

std::string candidatesTitle(std::size_t count) {
    return "追加予定 " + std::to_string(count) + "件（まだ処理していません）";
}

std::string fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

InputFacts inputFacts(const QueueInput& input, bool selected, std::optional<double> reading) {
    InputFacts facts;
    facts.reading = reading;
    facts.id = input.id;
    facts.path = input.path;
    facts.status = input.status;
    facts.error = input.error;
    if (input.source) facts.pageCount = input.source->pageCount;
    facts.selected = selected;
    for (const PageRecord& record : input.pages) {
        if (record.state == PageState::completed) ++facts.completed;
        if (record.state == PageState::failed) facts.failed.emplace_back(record.page, record.error);
    }
    return facts;
}

bool sameFacts(const InputFacts& facts, const QueueInput& input, bool selected, std::optional<double> reading) {
    if (facts.reading != reading) return false;
    if (facts.id != input.id || facts.status != input.status || facts.error != input.error ||
        facts.selected != selected || facts.pageCount.has_value() != input.source.has_value() ||
        (input.source && *facts.pageCount != input.source->pageCount) || facts.path != input.path) {
        return false;
    }
    int64_t completed = 0;
    std::size_t failed = 0;
    for (const PageRecord& record : input.pages) {
        if (record.state == PageState::completed) ++completed;
        if (record.state != PageState::failed) continue;
        if (failed == facts.failed.size() || facts.failed[failed] != std::pair(record.page, record.error)) {
            return false;
        }
        ++failed;
    }
    return completed == facts.completed && failed == facts.failed.size();
}

std::string pagesText(const InputFacts& facts) {
    return std::to_string(facts.completed) + " / " +
           (facts.pageCount ? std::to_string(*facts.pageCount) : std::string("不明"));
}

std::optional<double> pagesFraction(const InputFacts& facts) {
    if (!facts.pageCount) return std::nullopt;
    if (*facts.pageCount <= 0) return 0.0;
    const double done = static_cast<double>(facts.completed) + std::clamp(facts.reading.value_or(0.0), 0.0, 1.0);
    return std::clamp(done / static_cast<double>(*facts.pageCount), 0.0, 1.0);
}

std::string stateText(const InputFacts& facts) {
    std::string state(displayName(facts.status));
    if (facts.reading) {
        // At most 99: the page counts as done once its result is stored.
        const int percent = std::min(static_cast<int>(std::floor(std::clamp(*facts.reading, 0.0, 1.0) * 100)), 99);
        state += " " + std::to_string(percent) + "%";
    }
    return state;
}

std::string progressText(const InputFacts& facts) { return pagesText(facts) + "\u3000" + stateText(facts); }

std::string progressText(const QueueInput& input) { return progressText(inputFacts(input, false)); }

std::string failedPageText(int64_t page, const std::optional<ErrorCase>& error) {
    return std::to_string(page) + "ページ：" + (error ? QueueController::errorSentence(*error) : "認識できませんでした");
}

std::string failedPageText(const PageRecord& record) { return failedPageText(record.page, record.error); }

InputRow inputRow(const InputFacts& facts, std::size_t position) {
    InputRow row;
    row.id = facts.id;
    row.label = std::to_string(position + 1) + ". " + fileName(facts.path);
    row.progress = progressText(facts);
    row.pages = pagesText(facts);
    row.fraction = pagesFraction(facts);
    row.state = stateText(facts);
    row.selected = facts.selected;
    if (facts.error) row.error = QueueController::errorSentence(*facts.error);
    for (const auto& [page, error] : facts.failed) row.failed.push_back({page, failedPageText(page, error)});
    return row;
}

InputRow inputRow(const QueueInput& input, std::size_t position, const std::optional<UUID>& selectedID) {
    return inputRow(inputFacts(input, selectedID && *selectedID == input.id), position);
}

unsigned choiceIndex(bool value) { return value ? 0 : 1; }

bool choiceValue(unsigned index) { return index == 0; }

unsigned savedIndex(const std::vector<std::filesystem::path>& saved,
                    const std::optional<std::filesystem::path>& selected) {
    if (!selected) return 0;
    const auto at = std::find(saved.begin(), saved.end(), *selected);
    return at == saved.end() ? 0 : static_cast<unsigned>(at - saved.begin()) + 1;
}

std::optional<std::filesystem::path> savedChoice(const std::vector<std::filesystem::path>& saved, unsigned index) {
    if (index == 0 || index > saved.size()) return std::nullopt;
    return saved[index - 1];
}

}  // namespace QueuePanelRules

}  // namespace velmora
