#pragma once

// A window's request to save its selected tab's page: a tall PNG, or a
// print-style save. The request decides whether a save may start at all,
// gathers the window's capture and print choices, resolves and creates the
// output folder (asking the user when the preferences say so), names the
// output, locks the tab's page size and hands the work to the tab's web
// session; for a tall PNG with OCR on it attaches the hand-off to OCR.
//
// - Every refusal is one fixed sentence in the window's message and leaves
//   nothing started; the error behind it is never shown.
// - Nothing of the tab changes before the folder exists: a refusal before
//   then leaves no lock to undo. The one later refusal (the capture's
//   options) unlocks the request's own tab, never whichever tab happens to
//   be selected by then.
// - The window is held weakly while the folder chooser is open; a window
//   gone by its answer starts nothing, and one whose page changed meanwhile
//   is refused.
// Main thread only; no display (the window is reached through its port).

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "capture/CaptureOptions.hpp"
#include "capture/CaptureReceipt.hpp"
#include "capture/CaptureSelection.hpp"
#include "capture/PrintOptions.hpp"
#include "foundation/AppPreferences.hpp"
#include "foundation/Geometry.hpp"
#include "foundation/InputOrigin.hpp"
#include "foundation/OutputAccess.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/Task.hpp"
#include "foundation/UUID.hpp"

namespace velmora::SaveRequest {

inline constexpr const char* saving = "このタブでは保存を実行中です。";
inline constexpr const char* widthOutOfRange = "指定幅は現在の対応範囲（280〜4096px）で入力してください。";
inline constexpr const char* notLoaded = "ページの読み込みが完了していません。タブを開いてから保存してください。";
// The tab shows a load that failed, whatever page the view kept from before.
inline constexpr const char* loadFailed = "ページを読み込めなかったため保存できません。アドレスを確認して読み込み直してください。";
inline constexpr const char* pageEnded = "ページの表示処理が終了したため保存できません。再読み込みしてから保存してください。";
inline constexpr const char* otherCapture = "別のタブでキャプチャ中です。終了後に保存してください。";
inline constexpr const char* chooseAgain = "保存先を選び直してください。保存は開始していません。";
inline constexpr const char* cancelled = "保存を取消しました。処理は開始していません";
inline constexpr const char* pageChanged = "ページが変わりました。内容を確認して保存してください。";

inline constexpr const char* screenshotsKind = "Screenshots";
inline constexpr const char* printKind = "Print";

// The tab's page as a save starts from it (the capture context's fields
// the request uses).
struct Page {
    UUID tabID;
    InputOrigin origin = InputOrigin::normal;
    // The address shown; none when the view shows none.
    std::optional<std::string> url;
    std::string title;
    // The page view's size.
    Size size;
    // The width the page is captured at.
    int64_t viewportWidth = 0;
    // The validated capture choices.
    CaptureSelection settings;
    AppPreferences::SaveMode saveMode = AppPreferences::SaveMode::ask;
};

// The tab as it is when the user has answered the folder chooser.
struct TabNow {
    bool pending = false;
    std::optional<std::string> url;
    bool loading = false;
};

// The queue's flags as they were when the save was asked for.
struct QueueFlags {
    bool automatic = true;
    bool languageCorrection = true;
};

// What a request needs of the window it saves from. The window model is the
// real one.
class Window {
public:
    virtual ~Window() = default;

    // A save of the selected tab is under way, or the window is closing.
    virtual bool saveBlocked() const = 0;
    // The selected tab shows a load that failed, not a page.
    virtual bool pageFailed() const = 0;
    // The selected tab's page process ended; the view holds no page.
    virtual bool pageEnded() const = 0;
    virtual CaptureSelection captureSelection() const = 0;
    virtual PrintSelection printSelection() const = 0;
    // The selected tab's page; throws when it cannot be captured (the
    // selection does not validate, or the page is not ready).
    virtual Page page(const CaptureSelection& selection) = 0;
    virtual QueueFlags queueFlags() const = 0;
    // The container's services; they outlive the window.
    virtual SettingsStore& settingsStore() = 0;
    virtual OutputAccess& outputAccess() = 0;
    // The tab with that id as it is now; none when the window no longer
    // holds it or is closing.
    virtual std::optional<TabNow> tabNow(const UUID& tabID) const = 0;
    virtual void setMessage(std::string text) = 0;
    // The tab's page size held at size, and its last output the folder.
    virtual void lock(const UUID& tabID, Size size, const std::filesystem::path& folder) = 0;
    virtual void unlock(const UUID& tabID) = 0;
    // The hand-over to the tab's web session.
    virtual void capture(const UUID& tabID, CaptureOptions options, const std::filesystem::path& folder) = 0;
    virtual void print(const UUID& tabID, PrintOptions options, const std::filesystem::path& folder) = 0;
    // The OCR of a finished capture (CaptureHandOff); the text to show.
    virtual Task<std::string> queueCapture(CaptureReceipt receipt, std::filesystem::path folder, InputOrigin origin,
                                           bool automatic, bool languageCorrection) = 0;
};

// The message for a page that could not be captured: the width's when the
// custom width is the reason, the not-loaded one otherwise.
const char* contextRefusal(const CaptureSelection& selection);

// One request: returns once the save is handed over or refused (after the
// user's answer when the folder is asked for). The save itself goes on in
// the tab's web session.
Task<void> run(std::weak_ptr<Window> window, bool printing);

// The completion of a tall PNG with OCR on: the window's queueCapture, or
// CaptureHandOff::windowGone when the window is gone by then.
std::function<Task<std::optional<std::string>>(CaptureReceipt)> handOff(std::weak_ptr<Window> window,
                                                                         std::filesystem::path folder,
                                                                         InputOrigin origin, QueueFlags flags);

}  // namespace velmora::SaveRequest
