#pragma once

// The OCR that follows a tall-PNG capture when the window asks for it: the
// captured parts go, in page order, into an OCR queue that holds nothing
// else, standard recognition runs to its end, and one sentence about the
// outcome goes back to the web session, which adds it to its own notice.
//
// - The saving window's queue takes the files only when nothing is loaded
//   there, it is idle and no edit waits for its TXT; otherwise a new window
//   is opened and its queue takes them. A queue that holds anything is
//   never replaced, whichever window it belongs to.
// - The sentence says where the result is: the asking window's OCR画面, or
//   the new window by its title; that window is brought forward when its
//   run has ended.
// - The saved files are never touched: every outcome keeps them.
// - The sentences follow the save's own ("画像を保存しました（1枚）") in the
//   tab's status line, so none of them says again that the image was saved.
// - In the asking window the watch runs inside the capture's task. A cancel
//   of that task stops the queue once (cancel), and the watch keeps looking
//   until the run has really ended.
// - In a new window the capture ends once the run has started, with a
//   sentence naming that window: the capturing tab is free, and the run's
//   progress and its 中止 belong to the window that runs it.
// Main thread only; no display.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "capture/CaptureReceipt.hpp"
#include "foundation/InputOrigin.hpp"
#include "foundation/Task.hpp"
#include "ocrqueue/QueueController.hpp"

namespace velmora::CaptureHandOff {

inline constexpr const char* windowGone = "画像は保持しました。OCR画面から開いてください。";
inline constexpr const char* notStarted = "OCRは開始せず、画像を保持しました。";
inline constexpr const char* failed = "OCRに失敗しました。OCR画面から画像を開いてください。";
inline constexpr const char* replaced = "OCR画面で処理結果を確認してください。";
inline constexpr const char* stopped = "OCRを中止しました。保存済み画像は保持しています。";
inline constexpr const char* completed = "標準OCRが完了しました。OCR画面で確認できます。";
inline constexpr const char* partial = "OCRの一部を読み取れませんでした。OCR画面を確認してください。";

// How often the watch looks at the queue.
inline constexpr std::chrono::milliseconds watchPoll{50};

// The OCR section of the window that asked, as the sentences name it.
inline constexpr const char* ownOCR = "OCR画面";

// A window whose queue may take the captured files.
struct Target {
    std::shared_ptr<QueueController> queue;
    // Brings the window's OCR section forward.
    std::function<void()> showOCR;
    // Keeps the window alive while the hand-off watches its queue, so that a
    // window closed meanwhile ends the watch through its own queue stop
    // rather than freeing the queue under it.
    std::shared_ptr<const void> holder;
    // Another window than the one that asked: where its result is, as the
    // sentences say it (empty for the asking window's own OCR画面), and
    // how that window, with its OCR section, is brought in front of the
    // user once the run has ended.
    std::string where{};
    std::function<void()> bringForward{};
};

// The sentences that say where the result is, for the asking window's own
// OCR section (ownOCR: exactly `completed`, `replaced` and `partial`) or
// another window's.
std::string runningIn(std::string_view where);
std::string completedIn(std::string_view where);
std::string replacedIn(std::string_view where);
std::string partialIn(std::string_view where);

// The queue may take the files: nothing loaded, not busy, no unsaved edit.
bool takes(const QueueController& queue);

// The hand-off itself: the receipt's files listed in the folder they were
// published to, the target chosen (asking's, else the one openWindow makes;
// none there is a failure), its queue set up for standard recognition of
// these files alone (privateInput for a private tab's capture, the two
// remembered flags, no automatic TXT) and started, and the run watched to
// its end. Every path ends in one of the texts above; nothing throws.
Task<std::string> run(CaptureReceipt receipt, std::filesystem::path folder, InputOrigin origin, bool automatic,
                      bool languageCorrection, Target asking, std::function<std::optional<Target>()> openWindow);

}  // namespace velmora::CaptureHandOff
