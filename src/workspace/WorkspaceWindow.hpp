#pragma once

// One workspace window: its model and the desktop window that shows it, and
// the window's half of closing: whether it may close now, the question it
// asks first while work runs or TXT edits are unsaved, stopping that work
// and waiting for it, and letting the window go. Main thread only.
//
// Until the workspace view exists, the window shows the web workspace (the
// tab bar above the selected tab's pane, every tab's web view in it) in the
// web section, a plain view for the sections without one, and under them the
// status line and, while the window closes, the stopping notice.

#include <memory>
#include <optional>
#include <utility>

#include <gtkmm/applicationwindow.h>
#include <gtkmm/box.h>
#include <gtkmm/label.h>
#include <gtkmm/stack.h>

#include "capture/TabSnapshot.hpp"
#include "foundation/Task.hpp"
#include "foundation/UUID.hpp"
#include "gui/GtkDesktopActions.hpp"
#include "workspace/WindowModel.hpp"

namespace velmora {

class AppServices;
class HistoryView;
class RecaptureHost;
class WebWorkspace;
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
    static constexpr const char* stoppingNotice = "処理を止めています。保存済みの結果は保持します。";

    // Widget names, for tests and the accessibility tree.
    static constexpr const char* messageName = "workspace.message";
    static constexpr const char* stoppingName = "workspace.stopping";
    static constexpr const char* webName = "workspace.web";

    // Where the window's content would start on a desktop that lets the
    // application place its windows: each window shifted from the last. GTK
    // leaves the placement to the window manager, so it is not applied.
    static std::pair<int, int> initialOrigin(int index) { return {60 + 32 * index, 60 + 24 * index}; }

    // The window's model and its desktop window, not yet shown.
    WorkspaceWindow(WorkspaceWindows& set, AppServices& services, int index, std::optional<RestoredWindow> restored);
    ~WorkspaceWindow();
    WorkspaceWindow(const WorkspaceWindow&) = delete;
    WorkspaceWindow& operator=(const WorkspaceWindow&) = delete;

    const std::shared_ptr<WindowModel>& model() const noexcept { return model_; }
    Gtk::ApplicationWindow& window() noexcept { return *window_; }
    int index() const noexcept { return index_; }

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

    void buildContent();
    void followModel();
    void showSection();

    WorkspaceWindows& set_;
    const int index_;
    std::shared_ptr<WindowModel> model_;
    std::unique_ptr<Gtk::ApplicationWindow> window_;
    bool closePrompt_ = false;
    bool acceptedClose_ = false;
    bool closed_ = false;

    // The folder, clipboard and download actions of the web pane; before
    // the widgets, so it outlives them.
    GtkDesktopActions desktop_;
    Gtk::Box content_{Gtk::Orientation::VERTICAL};
    Gtk::Stack sections_;
    WebWorkspace* web_ = nullptr;
    Gtk::Label message_;
    Gtk::Label stopping_;
    HistoryView* history_ = nullptr;
    // The settings screen while the settings section is chosen.
    Gtk::Widget* settings_ = nullptr;
    sigc::connection modelChanged_;
    sigc::connection activeChanged_;
    // Held weakly by the close question's task.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velmora
