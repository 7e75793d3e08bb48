#pragma once

// One workspace window: its model and the desktop window that shows it, and
// the window's half of closing: whether it may close now, the question it
// asks first while work runs or TXT edits are unsaved, stopping that work
// and waiting for it, and letting the window go. Main thread only.
//
// The window's content is its WorkspaceView, made with the window and kept
// until the window goes.

#include <memory>
#include <optional>
#include <utility>

#include <gtkmm/applicationwindow.h>

#include "capture/TabSnapshot.hpp"
#include "foundation/Task.hpp"
#include "foundation/UUID.hpp"
#include "workspace/model/WindowModel.hpp"

namespace velmora {

class AppServices;
class WorkspaceView;
class WorkspaceWindows;

class WorkspaceWindow {
public:
    static constexpr int defaultWidth = 1240;
    static constexpr int defaultHeight = 850;
    static constexpr int minimumWidth = 920;
    static constexpr int minimumHeight = 720;

    // The question before a close, with work running or without.
    static constexpr const char* runningQuestion = "処理を中止して閉じますか？";
    static constexpr const char* runningKeep = "処理を続ける（閉じない）";
    static constexpr const char* runningClose = "中止して閉じる";
    static constexpr const char* editsQuestion = "TXTに保存していない編集があります";
    static constexpr const char* editsKeep = "閉じない";
    static constexpr const char* editsClose = "TXTを保存せず閉じる";
    static constexpr const char* closeInformative =
        "閉じずに戻ると、処理と編集をそのまま続けられます。プライベートは再起動後に再開できません。"
        "明示保存したファイルやコピー結果は残ります。";
    static constexpr const char* closeFailed =
        "編集を保持できないため、ウインドウを閉じませんでした。TXTの保存を確認してください。";

    // Where the window's content would start on a desktop that lets the
    // application place its windows: each window shifted from the last. GTK
    // leaves the placement to the window manager, so it is not applied.
    static std::pair<int, int> initialOrigin(int index) { return {60 + 32 * index, 60 + 24 * index}; }

    // The window's model and its desktop window, not yet shown.
    // number: the window's number among those open (its title's, 1 for
    // the first).
    WorkspaceWindow(WorkspaceWindows& set, AppServices& services, int index, std::optional<RestoredWindow> restored,
                    int number = 1);
    ~WorkspaceWindow();
    WorkspaceWindow(const WorkspaceWindow&) = delete;
    WorkspaceWindow& operator=(const WorkspaceWindow&) = delete;

    const std::shared_ptr<WindowModel>& model() const noexcept { return model_; }
    Gtk::ApplicationWindow& window() noexcept { return *window_; }
    WorkspaceView& view() noexcept { return *view_; }
    int index() const noexcept { return index_; }
    int number() const noexcept { return number_; }

    // A close question of this window is on screen.
    bool closePrompt() const noexcept { return closePrompt_; }
    // The user agreed and the work has stopped: the next close goes through.
    bool acceptedClose() const noexcept { return acceptedClose_; }

    // Whether the window may close now; false while it asks or stops first.
    bool shouldClose();

private:
    // The window goes: its model shut down, its content dropped, the set
    // told.
    void willClose();
    // The close-request handler: true lets the window go.
    bool closeRequested();
    static Task<void> closeAfterAnswer(std::weak_ptr<bool> alive, WorkspaceWindow* self, bool running);

    WorkspaceWindows& set_;
    const int index_;
    const int number_;
    std::shared_ptr<WindowModel> model_;
    std::unique_ptr<Gtk::ApplicationWindow> window_;
    bool closePrompt_ = false;
    bool acceptedClose_ = false;
    bool closed_ = false;

    // The window's content; owned by the window once set as its child.
    WorkspaceView* view_ = nullptr;
    sigc::connection activeChanged_;
    // Held weakly by the close question's task.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velmora
