#pragma once

// What the OCR pane lays out, labels and enables, as functions of the
// controller's published state and the pane's size, without a display. The
// pane's widgets call these and hold no other logic.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/OCRMode.hpp"
#include "ocrjobs/QueueInput.hpp"
#include "recognition/page/RecognitionRecords.hpp"

namespace velmora {

class QueueController;

namespace PaneLayout {

// Points are the toolkit's logical pixels.
inline constexpr double padding = 12;
inline constexpr double spacing = 8;
inline constexpr double minimumContent = 680;
inline constexpr double compactBelow = 900;
inline constexpr double dividerWidth = 8;
inline constexpr const char* dividerLabel = "原稿とOCR結果の幅を変更";

// The width of the page's stack in a pane W wide: never below 680, so a
// narrower pane scrolls sideways.
double contentWidth(double paneWidth);
// Control rows stack in a pane narrower than 900 points.
bool compact(double paneWidth);
// The least height of the split in a pane H high, `room` being what the
// pane's other rows leave of it (the queue panel, when open, at its usable
// height: its toolbars, its summary and three inputs): that room, up to half
// the pane, never below `minimumSplit`. The split takes whatever the rows
// leave above that. In a pane too low for that (the least window), the
// queue panel gives up its height next, down to its least height and
// scrolling its rows, so that the rows under the split stay in the window;
// only below that does the page scroll.
inline constexpr double minimumSplit = 200;
double splitMinimum(double paneHeight, double room);

// The compact layout of a control row: its items (a pair of controls that
// belong together counts as one) left to right, each as wide as it asks
// when that fits, wrapping to a new line when the next does not fit in what
// is left of the line; one wider than the whole line gets the line, never
// less than its minimum.
struct FlowItem {
    double minimum = 0;
    double natural = 0;
};
struct FlowSlot {
    std::size_t line = 0;
    double x = 0;
    double width = 0;

    bool operator==(const FlowSlot&) const = default;
};
std::vector<FlowSlot> flow(const std::vector<FlowItem>& items, double width, double spacing);
// The source column's width in a split Ws wide, and the result column's.
double sourceWidth(double preferred, double splitWidth);
double resultWidth(double preferred, double splitWidth);
// The preferred width that a drag proposing a result column `resultSize`
// wide stands for, clamped as the split will show it.
double draggedPreferred(double resultSize, double splitWidth);

// The banner that offers the saved queues: only while nothing is open, some
// are saved, and the user has not put it off. The window's activity strip
// says the same sentence while another section is shown.
inline constexpr const char* savedWorkSentence = "保存した処理があります。自動では開始しません。";
bool showsRecoveryBanner(bool recoveryDeferred, bool hasSavedQueues, bool queueOpen);

}  // namespace PaneLayout

// The controller's state that the control panel and the option rows read,
// taken at once.
struct PaneFacts {
    bool busy = false;
    bool managedQueue = false;
    bool queueOpen = false;
    int64_t completedPages = 0;
    int64_t knownPages = 0;
    int64_t failedInputs = 0;
    int64_t failedPages = 0;
    // The page being read now (its number in its input) and how far.
    std::optional<int64_t> readingPage;
    double readingFraction = 0;
    QueueStatus queueStatus = QueueStatus::ready;
    bool waitingPassword = false;
    // The shown PDF cannot be opened until its password is given.
    bool shownLocked = false;
    OCRMode mode = OCRMode::standard;
    bool annotationResult = false;
    std::optional<AutoPresentation> autoPresentation;
    bool rejection = false;
    // Run part way and able to go on from there.
    bool resumable = false;
    // The status sentence is the refusal last said.
    bool refusal = false;
    // The status sentence is the last save's, and its files are known.
    bool saved = false;
    bool unsavedEdits = false;
    bool privateQueue = false;

    // `details`: also the automatic verdict and the unsaved-edit state, which
    // read stored pages; only the control panel shows them.
    static PaneFacts of(const QueueController& controller, bool details = true);
};

namespace ControlPanelRules {

inline constexpr int modeWidth = 240;
inline constexpr int targetWidth = 220;
inline constexpr int passwordWidth = 220;

// "続きから再開" for a queue run part way that can go on; else "OCRを再実行"
// for an open queue with a page read or failed, or a cancelled run.
std::string runLabel(const PaneFacts& facts);
bool openEnabled(const PaneFacts& facts);
bool runEnabled(const PaneFacts& facts);
bool cancelEnabled(const PaneFacts& facts);
// The mode applies to inputs added later, so a managed queue takes a change
// during its run.
bool modeEnabled(const PaneFacts& facts);

// The picker's choices, in order.
const std::vector<OCRMode>& modes();
std::string modeLabel(OCRMode mode);
std::string modeExplanation(OCRMode mode);

bool showsHandwriting(const PaneFacts& facts);
bool handwritingEnabled(const PaneFacts& facts);
// The automatic mode's verdict line, when there is one.
std::optional<std::string> verdict(const std::optional<AutoPresentation>& presentation);

bool showsPassword(const PaneFacts& facts);
// "保存先を開く" beside the sentence of a save, while it is said.
bool showsOpenOutput(const PaneFacts& facts);
bool passwordButtonsEnabled(const PaneFacts& facts);

// "完了 1 / 3 ページ", when a queue is open and its page count is known;
// "3 / 3 ページ" beside the status sentence "完了"; then "・失敗1ファイル"
// when inputs failed (alone when no page count is known); then, while a page
// is being read, "・2ページ目を読み取り中 45%".
inline constexpr const char* finishedStatus = "完了";
std::optional<std::string> pageCount(const PaneFacts& facts, const std::string& status = "");
// A page's reading in whole percent, at most 99: a page is finished only
// once its result is stored.
int readingPercent(double fraction);

}  // namespace ControlPanelRules

namespace OptionRowRules {

inline constexpr int linesWidth = 350;
inline constexpr int txtWidth = 170;

std::string searchPlaceholder(bool annotationResult);
// The hit count's width, in characters: "999999件" fits.
inline constexpr int hitsWidthChars = 8;
// "3件".
std::string hitCount(std::size_t hits);

// The line-break option, the separators and the private note.
bool firstRowEnabled(const PaneFacts& facts);
std::string privateNote(bool privateQueue);

bool copyEnabled(const PaneFacts& facts);
bool txtEnabled(const PaneFacts& facts);
bool saveEnabled(const PaneFacts& facts);

}  // namespace OptionRowRules

}  // namespace velmora
