#pragma once

// The set of open workspace windows: it opens them (new, or restored from the
// last quit), knows the one the user works in, carries out the window
// commands, keeps the tab snapshot up to date 200 ms after the last change,
// and decides whether the application may quit: at once, after asking and
// stopping all work, or not at all.
//
// - `windows` and `order` hold the same ids, changed together; the snapshot
//   follows `order`.
// - While `terminating`, no window opens and neither a scheduled snapshot nor
//   a window's removal writes one: the quit writes it, before anything is
//   stopped.
// - Quitting stops the work of every window, then asks every queue to keep
//   its edits; only when every queue has, the tabs are shut down and the
//   application quits. One that cannot calls the quit off with every window
//   left as it was and usable.
// Main thread only.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <giomm/application.h>
#include <gtkmm/application.h>
#include <sigc++/sigc++.h>

#include "capture/TabSnapshot.hpp"
#include "foundation/Task.hpp"
#include "foundation/UUID.hpp"
#include "history/RecaptureHost.hpp"
#include "workspace/model/WindowSetLink.hpp"
#include "workspace/windows/WorkspaceWindow.hpp"

namespace velmora {

class AppServices;

class WorkspaceWindows final : public WindowSetLink, public RecaptureHost {
public:
    // The platform's answer to a quit request.
    enum class TerminateReply { cancel, now, later };

    static constexpr int snapshotDelayMilliseconds = 200;

    static constexpr const char* quitKeep = "終了をやめる";
    static constexpr const char* quitFailed =
        "編集を保持できないため終了を取り消しました。TXTの保存を確認してください。";
    static constexpr const char* helpInformative =
        "Webキャプチャ：URLを貼り付けて「開く」。内容を確認し「縦長PNGを保存」または「印刷用に保存」を選びます。\n\n"
        "OCR：「ファイルを開く」→「OCRを開始」。原稿と文字を確認し、編集後にTXTを保存します。\n\n"
        "履歴：保存物を開く、履歴だけを消す、確認してゴミ箱へ移す操作ができます。\n\n"
        "設定：保存方法や操作パネルの位置を変更できます。変更は次の処理から適用します。";
    static constexpr const char* helpClose = "閉じる";
    static constexpr const char* helpDialogName = "help";

    // The set of the process: the first one made, while it lives; null
    // before and after.
    static WorkspaceWindows* shared();

    // Windows join application when it is given (tests may leave it out).
    // services outlives the set.
    WorkspaceWindows(AppServices& services, Glib::RefPtr<Gtk::Application> application);
    ~WorkspaceWindows() override;
    WorkspaceWindows(const WorkspaceWindows&) = delete;
    WorkspaceWindows& operator=(const WorkspaceWindows&) = delete;

    // Ends the application once the quit is decided; quits `application`
    // unless set (tests count instead).
    std::function<void()> quitApplication;
    // Shows the settings screen's content in a window's settings section;
    // the settings views install it once they exist.
    std::function<void(WorkspaceWindow&)> settingsShown;

    // Windows opened, closed or reordered, a window becoming active, a
    // section changing.
    sigc::signal<void()> changed;
    // Every window once it is presented.
    sigc::signal<void(WorkspaceWindow&)> opened;

    const std::map<UUID, std::unique_ptr<WorkspaceWindow>>& windows() const noexcept { return windows_; }
    const std::vector<UUID>& order() const noexcept { return order_; }
    bool terminating() const noexcept { return terminating_; }
    // A debounced snapshot is waiting.
    bool snapshotPending() const noexcept { return snapshotTask_.has_value(); }

    // Opens, registers and presents one window (restored or new); none while
    // the application is terminating.
    WorkspaceWindow* open(std::optional<RestoredWindow> restored);
    // The windows of the last quit, or one new window; then the
    // restoration's notice in the current window.
    void start();
    // The window the user works in: the one whose desktop window (or a
    // dialog on it) is active, else any registered one; null when none.
    WorkspaceWindow* current() const;
    // The top of the chain of windows that window is a dialog of.
    static Gtk::Window* ownerWindow(Gtk::Window* window);
    // Unregisters a closed window (destroyed on a later turn of the main
    // loop) and, unless terminating, writes the snapshot at once.
    void remove(const UUID& id);

    // The window commands, on the current window.
    void cycleTab(int offset);
    void closeSelected();
    void focusAddress();
    void showSettings();
    // The help dialog, modal on the current window; returns at once.
    void showHelp();

    void scheduleSnapshot() override;
    void saveSnapshot();
    // What a quit now would stop or lose, over every window.
    WindowModel::PendingWork pendingWork() const;
    // What the application answers when asked to quit; `later` while the
    // question shows or work stops.
    TerminateReply requestTermination();

    // WindowSetLink.
    Gtk::Window* platformWindow(const UUID& modelID) override;
    // A new window (open), its model; none while terminating.
    std::shared_ptr<WindowModel> openWindow() override;
    // RecaptureHost: a normal tab in the current window's web section.
    bool reopenForRecapture(const std::string& url) override;

private:
    std::vector<RestoredWindow> snapshotList() const;
    std::vector<std::shared_ptr<WindowModel>> models() const;
    void cancelSnapshot();
    static Task<void> snapshotAfterDelay(std::weak_ptr<bool> alive, WorkspaceWindows* self);
    static Task<void> stopAndQuit(std::weak_ptr<bool> alive, WorkspaceWindows* self);

    AppServices& services_;
    Glib::RefPtr<Gtk::Application> application_;
    std::map<UUID, std::unique_ptr<WorkspaceWindow>> windows_;
    std::vector<UUID> order_;
    bool terminating_ = false;
    std::optional<TaskHandle> snapshotTask_;
    // Held weakly by every task of the set.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velmora
