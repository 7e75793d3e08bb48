#pragma once

// What the queue panel shows and allows, as functions of the controller's
// published state, without a display. The panel's widgets call these and
// hold no other logic.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "foundation/UUID.hpp"
#include "ocrjobs/QueueInput.hpp"
#include "ocrjobs/QueueSnapshot.hpp"

namespace velmora {

class QueueController;

namespace QueuePanelRules {

inline constexpr const char* deferredStatus = "再開候補を保持しました。処理は開始しません。";
inline constexpr const char* newTrialQuestion = "旧結果を保持して別の試行を作りますか？";
inline constexpr const char* newTrialAnswer = "別の試行を作る";
inline constexpr const char* unselectedSaved = "未選択";
// How wide an input's error and a failed page's reason may grow before they
// wrap, in average characters.
inline constexpr int reasonChars = 40;

// The facts of the controller that decide the sections and the enablement.
struct PanelState {
    bool busy = false;
    bool importing = false;
    bool listing = false;
    bool engineOpen = false;
    bool queueOpen = false;  // a snapshot is published
    std::size_t candidates = 0;
    std::size_t savedQueues = 0;
    bool rejection = false;
    bool rejectionCandidate = false;  // the rejection carries a candidate snapshot
    int64_t failedPages = 0;

    bool operator==(const PanelState&) const = default;
};
PanelState state(const QueueController& controller);

// Which conditional parts of the panel show; the add row, the run row, the
// export row and the status line always do.
struct Sections {
    bool stopListing = false;  // "列挙を中止"
    bool candidates = false;
    bool saved = false;
    // The saved queues come after the open queue's rows, which the panel
    // shows first; with no queue open they stand under the toolbars.
    bool savedAfterQueue = false;
    bool rejection = false;
    bool queue = false;  // counts line, note, inputs
    bool retryAll = false;

    bool operator==(const Sections&) const = default;
};
Sections sections(const PanelState& state);

// Which controls take input now; the others never go grey.
struct Enablement {
    bool chooseFolder = false;
    bool order = false;  // the "処理方式" picker
    bool start = false;
    bool pause = false;
    bool cancel = false;
    bool restart = false;  // "最初から"
    bool retry = false;    // each page's retry and the retry of all
    bool loadSaved = false;
    bool reselect = false;
    bool newTrial = false;  // "現在の設定で別の試行を作る"

    bool operator==(const Enablement&) const = default;
};
Enablement enablement(const PanelState& state);

// "全体%lldページ：成功%lld／…・ページ数不明%lldファイル", and
// "・失敗%lldファイル" when inputs failed.
std::string countsLine(const QueueCounts& counts, int64_t unknownFiles, int64_t failedFiles = 0);
// The line of a queue: an input that failed before its pages were known is
// counted as a failed file, not as one of unknown pages.
std::string countsLine(const QueueSnapshot& snapshot);
std::string persistenceNote(bool persistent);
// "追加予定 3件（まだ処理していません）".
std::string candidatesTitle(std::size_t count);
// The last path component, as a line of the listing and in a row's label.
std::string fileName(const std::string& path);

// One failed page of an input.
struct FailedPage {
    int64_t page = 0;
    std::string text;  // "3ページ：" and the error's message

    bool operator==(const FailedPage&) const = default;
};

// Everything one input's group shows.
struct InputRow {
    UUID id;
    std::string label;     // "1. scan.pdf"
    std::string progress;  // "2 / 5" U+3000 "処理中": the row as one line
    std::string pages;     // "2 / 5", its column
    std::optional<double> fraction;  // the pages done, 0…1; none while the count is unknown
    std::string state;     // "処理中", its column
    bool selected = false;
    std::optional<std::string> error;
    std::vector<FailedPage> failed;

    bool operator==(const InputRow&) const = default;
};
// What an input's row is made of, cheap to compare with an input: a
// refresh of a long queue makes texts only for the rows whose facts changed.
struct InputFacts {
    UUID id;
    std::string path;
    InputStatus status = InputStatus::pending;
    std::optional<ErrorCase> error;
    int64_t completed = 0;
    std::optional<int64_t> pageCount;  // none while the source is unread
    bool selected = false;
    std::vector<std::pair<int64_t, std::optional<ErrorCase>>> failed;  // in record order
    // How far the page being read now has come, while the input has one.
    std::optional<double> reading;

    bool operator==(const InputFacts&) const = default;
};
InputFacts inputFacts(const QueueInput& input, bool selected, std::optional<double> reading = std::nullopt);
// Whether the facts are still those of the input; allocates nothing.
bool sameFacts(const InputFacts& facts, const QueueInput& input, bool selected,
               std::optional<double> reading = std::nullopt);

// position counts from 0.
InputRow inputRow(const InputFacts& facts, std::size_t position);
InputRow inputRow(const QueueInput& input, std::size_t position, const std::optional<UUID>& selectedID);
std::string progressText(const QueueInput& input);
std::string progressText(const InputFacts& facts);
// The two columns of the progress: "2 / 5" (the count "不明" while unread)
// and the state's name ("処理中 45%" while a page is being read). The bar
// counts the page being read by how far it has come.
std::string pagesText(const InputFacts& facts);
std::optional<double> pagesFraction(const InputFacts& facts);
std::string stateText(const InputFacts& facts);
std::string failedPageText(const PageRecord& record);
std::string failedPageText(int64_t page, const std::optional<ErrorCase>& error);

// The pickers' choices by index: the order picker ("自動調整", "順番") and
// the export picker ("全結果1TXT", "ファイル別TXT") put true first.
unsigned choiceIndex(bool value);
bool choiceValue(unsigned index);

// The saved-queue picker: "未選択" at 0, then the folders in order.
unsigned savedIndex(const std::vector<std::filesystem::path>& saved,
                    const std::optional<std::filesystem::path>& selected);
std::optional<std::filesystem::path> savedChoice(const std::vector<std::filesystem::path>& saved, unsigned index);

}  // namespace QueuePanelRules

}  // namespace velmora
