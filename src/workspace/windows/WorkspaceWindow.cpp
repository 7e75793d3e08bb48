#include "workspace/windows/WorkspaceWindow.hpp"

#include <gtkmm/headerbar.h>

#include "foundation/ProductBrand.hpp"
#include "gui/GtkConfirmation.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/model/WebWorkspaceRules.hpp"
#include "workspace/windows/WorkspaceView.hpp"
#include "workspace/windows/WorkspaceWindows.hpp"

namespace velmora {

WorkspaceWindow::WorkspaceWindow(WorkspaceWindows& set, AppServices& services, int index,
                                 std::optional<RestoredWindow> restored, int number)
    : set_(set), index_(index), number_(number) {
    model_ = WindowModel::create(services, std::move(restored), set_);
    window_ = std::make_unique<Gtk::ApplicationWindow>();
    // Two windows are told apart by their titles: the second is numbered.
    window_->set_title(WebWorkspaceRules::windowTitle(ProductPresentation::windowTitle(), number_));
    window_->set_default_size(defaultWidth, defaultHeight);
    window_->set_size_request(minimumWidth, minimumHeight);
    // The title bar of the desktop's own applications, drawn by the window
    // itself, so the window looks the same with or without a compositor.
    window_->set_titlebar(*Gtk::make_managed<Gtk::HeaderBar>());
    // The application's menus, in the window where the desktop does not
    // show them itself.
    window_->set_show_menubar(true);
    // A window let go is hidden; the set destroys it on a later turn.
    window_->set_hide_on_close(true);
    window_->signal_close_request().connect([this] { return !closeRequested(); }, false);
    activeChanged_ = window_->property_is_active().signal_changed().connect([this] { set_.changed.emit(); });
    view_ = Gtk::make_managed<WorkspaceView>(model_, set_);
    window_->set_child(*view_);
}

WorkspaceWindow::~WorkspaceWindow() {
    // A window let go may be destroyed after its set.
    activeChanged_.disconnect();
    // A window that goes without closing (its set goes first) still ends
    // its tabs, busy ones included: the web pane's views hold the model and
    // may outlive this object, and a page that went on loading, or a save
    // or download that went on running, would report to a set that is gone.
    if (!closed_) model_->shutDownTabs();
    // The view goes with the window's child; the web frames inside it
    // belong to their sessions, which may outlive the window.
    window_->unset_child();
    view_ = nullptr;
    window_->hide();
    if (auto app = window_->get_application()) app->remove_window(*window_);
}

bool WorkspaceWindow::closeRequested() {
    if (closed_) return true;
    // Closing the only window is quitting: the snapshot keeps its tabs for
    // the next start.
    if (!set_.terminating() && set_.windows().size() == 1 && set_.windows().contains(model_->id)) {
        if (set_.requestTermination() == WorkspaceWindows::TerminateReply::now) set_.quitApplication();
        return false;
    }
    if (!shouldClose()) return false;
    willClose();
    return true;
}

bool WorkspaceWindow::shouldClose() {
    if (acceptedClose_) return true;
    if (!model_->needsCloseConfirmation()) return true;
    if (closePrompt_) return false;
    closePrompt_ = true;
    spawn(closeAfterAnswer(alive_, this, model_->active()));
    return false;
}

Task<void> WorkspaceWindow::closeAfterAnswer(std::weak_ptr<bool> alive, WorkspaceWindow* self, bool running) {
    bool confirmed = false;
    {
        // The dialog lives in this frame until the answer.
        GtkConfirmation dialog([alive, self]() -> Gtk::Window* { return alive.expired() ? nullptr : &self->window(); });
        const Confirmation::Request request{running ? runningQuestion : editsQuestion, closeInformative,
                                            running ? runningKeep : editsKeep, running ? runningClose : editsClose};
        auto answer = dialog.confirm(request);
        confirmed = co_await answer;
    }
    if (alive.expired()) co_return;
    self->closePrompt_ = false;
    if (!confirmed) co_return;
    // Kept here while the work stops, even if the window goes meanwhile.
    auto model = self->model_;
    model->cancelForClose();
    co_await model->waitForStop();
    if (alive.expired()) co_return;
    try {
        model->finishClosing();
    } catch (...) {
        // The edit stays in the queue; the user decides what to do with it.
        model->closing = false;
        model->message = closeFailed;
        co_return;
    }
    self->acceptedClose_ = true;
    self->window_->close();
}

void WorkspaceWindow::willClose() {
    if (closed_) return;
    closed_ = true;
    try {
        model_->finishClosing();
    } catch (...) {
        // The window goes anyway.
    }
    set_.remove(model_->id);
}

}  // namespace velmora
