#include "workspace/windows/WorkspaceWindows.hpp"

#include <glibmm/main.h>
#include <gtkmm/messagedialog.h>

#include <algorithm>

#include "browser/TabRestorationView.hpp"
#include "foundation/ProductBrand.hpp"
#include "gui/GtkConfirmation.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/model/WebWorkspaceRules.hpp"

namespace velmora {

namespace {

WorkspaceWindows* sharedSet = nullptr;

}  // namespace

WorkspaceWindows* WorkspaceWindows::shared() { return sharedSet; }

WorkspaceWindows::WorkspaceWindows(AppServices& services, Glib::RefPtr<Gtk::Application> application)
    : services_(services), application_(std::move(application)) {
    if (!sharedSet) sharedSet = this;
    quitApplication = [this] {
        if (application_) application_->quit();
    };
}

WorkspaceWindows::~WorkspaceWindows() {
    if (sharedSet == this) sharedSet = nullptr;
    cancelSnapshot();
    alive_.reset();
    order_.clear();
    windows_.clear();
}

WorkspaceWindow* WorkspaceWindows::open(std::optional<RestoredWindow> restored) {
    if (terminating_) return nullptr;
    const int index = static_cast<int>(windows_.size());
    std::vector<int> taken;
    for (const auto& [id, window] : windows_) taken.push_back(window->number());
    auto made = std::make_unique<WorkspaceWindow>(*this, services_, index, std::move(restored),
                                                  WebWorkspaceRules::windowNumber(taken));
    WorkspaceWindow* window = made.get();
    const UUID id = window->model()->id;
    windows_.emplace(id, std::move(made));
    order_.push_back(id);
    if (application_) application_->add_window(window->window());
    window->window().present();
    changed.emit();
    opened.emit(*window);
    scheduleSnapshot();
    return window;
}

void WorkspaceWindows::start() {
    const auto restored = services_.restoration.load();
    if (restored.empty()) {
        open(std::nullopt);
    } else {
        for (const auto& window : restored) open(window);
    }
    const std::string& notice = services_.restoration.notice();
    if (!notice.empty()) {
        if (auto* window = current()) window->model()->message = notice;
    }
}

WorkspaceWindow* WorkspaceWindows::current() const {
    if (windows_.empty()) return nullptr;
    Gtk::Window* active = nullptr;
    for (Gtk::Window* w : Gtk::Window::list_toplevels()) {
        if (w->is_active()) active = w;
    }
    if (Gtk::Window* owner = ownerWindow(active)) {
        for (const auto& [id, window] : windows_) {
            if (&window->window() == owner) return window.get();
        }
    }
    return windows_.begin()->second.get();
}

Gtk::Window* WorkspaceWindows::ownerWindow(Gtk::Window* window) {
    if (!window) return nullptr;
    // Bounded: a cycle of transient-for links would otherwise never end.
    for (int depth = 0; depth < 64; ++depth) {
        Gtk::Window* parent = window->get_transient_for();
        if (!parent) break;
        window = parent;
    }
    return window;
}

void WorkspaceWindows::remove(const UUID& id) {
    auto found = windows_.find(id);
    std::unique_ptr<WorkspaceWindow> gone;
    if (found != windows_.end()) {
        gone = std::move(found->second);
        windows_.erase(found);
    }
    order_.erase(std::remove(order_.begin(), order_.end(), id), order_.end());
    if (!terminating_) saveSnapshot();
    changed.emit();
    // Never inside the window's own signal handlers.
    if (gone) Glib::signal_idle().connect_once([window = gone.release()] { delete window; });
}

void WorkspaceWindows::cycleTab(int offset) {
    auto* window = current();
    if (!window) return;
    auto& model = *window->model();
    if (model.section.get() != WindowModel::Section::web) return;
    const auto tabs = model.tabs.get();
    const auto n = static_cast<int>(tabs.size());
    int position = -1;
    for (int i = 0; i < n; ++i) {
        if (tabs[i]->id == model.selectedTabID.get()) position = i;
    }
    if (position < 0) return;
    const int target = ((position + offset) % n + n) % n;
    model.selectTab(tabs[target]->id, true);
}

void WorkspaceWindows::closeSelected() {
    auto* window = current();
    if (!window) return;
    auto& model = *window->model();
    if (model.section.get() == WindowModel::Section::web) {
        model.requestCloseTab(model.selectedTabID.get());
    } else {
        window->window().close();
    }
}

void WorkspaceWindows::focusAddress() {
    auto* window = current();
    if (!window || window->model()->section.get() != WindowModel::Section::web) return;
    window->model()->addressFocusRequest = UUID::random();
}

void WorkspaceWindows::showSettings() {
    if (windows_.empty()) open(std::nullopt);
    auto* window = current();
    if (!window) return;
    window->model()->section = WindowModel::Section::settings;
    if (settingsShown) settingsShown(*window);
    window->window().present();
}

void WorkspaceWindows::showHelp() {
    auto* dialog = new Gtk::MessageDialog(ProductBrand::current().displayName + "の使い方", false,
                                          Gtk::MessageType::INFO, Gtk::ButtonsType::NONE, true);
    dialog->set_name(helpDialogName);
    dialog->set_secondary_text(helpInformative, false);
    dialog->add_button(helpClose, Gtk::ResponseType::CLOSE)->add_css_class(GtkConfirmation::suggestedStyle);
    dialog->set_default_response(Gtk::ResponseType::CLOSE);
    if (auto* window = current()) dialog->set_transient_for(window->window());
    dialog->set_hide_on_close(true);
    dialog->signal_response().connect([dialog](int) { dialog->hide(); });
    dialog->signal_hide().connect([dialog] { Glib::signal_idle().connect_once([dialog] { delete dialog; }); });
    dialog->present();
}

void WorkspaceWindows::cancelSnapshot() {
    if (snapshotTask_) snapshotTask_->cancel();
    snapshotTask_.reset();
}

void WorkspaceWindows::scheduleSnapshot() {
    if (terminating_) return;
    cancelSnapshot();
    snapshotTask_ = spawn(snapshotAfterDelay(alive_, this));
}

Task<void> WorkspaceWindows::snapshotAfterDelay(std::weak_ptr<bool> alive, WorkspaceWindows* self) {
    try {
        co_await sleepFor(std::chrono::milliseconds(snapshotDelayMilliseconds));
    } catch (const CancellationError&) {
        co_return;
    }
    if (alive.expired() || isCurrentTaskCancelled()) co_return;
    self->snapshotTask_.reset();
    self->saveSnapshot();
}

void WorkspaceWindows::saveSnapshot() {
    cancelSnapshot();
    services_.restoration.save(snapshotList());
}

std::vector<RestoredWindow> WorkspaceWindows::snapshotList() const {
    std::vector<RestoredWindow> list;
    for (const auto& id : order_) {
        auto found = windows_.find(id);
        if (found == windows_.end()) continue;
        const auto& model = *found->second->model();
        if (auto window = snapshotWindow(model.id, model.tabs.get(), model.selectedTabID.get())) {
            list.push_back(std::move(*window));
        }
    }
    return list;
}

std::vector<std::shared_ptr<WindowModel>> WorkspaceWindows::models() const {
    std::vector<std::shared_ptr<WindowModel>> list;
    for (const auto& [id, window] : windows_) list.push_back(window->model());
    return list;
}

WindowModel::PendingWork WorkspaceWindows::pendingWork() const {
    WindowModel::PendingWork work;
    for (const auto& model : models()) work |= model->pendingWork();
    return work;
}

WorkspaceWindows::TerminateReply WorkspaceWindows::requestTermination() {
    if (terminating_) return TerminateReply::later;
    // The question names what a quit would stop or lose, in every window.
    const WindowModel::PendingWork work = pendingWork();
    const std::string question = work.question();
    if (question.empty()) {
        saveSnapshot();
        terminating_ = true;
        return TerminateReply::now;
    }
    auto* window = current();
    if (!window) return TerminateReply::cancel;
    terminating_ = true;
    auto parent = [alive = std::weak_ptr<bool>(alive_), this, id = window->model()->id]() -> Gtk::Window* {
        return alive.expired() ? nullptr : platformWindow(id);
    };
    spawn([](std::weak_ptr<bool> alive, WorkspaceWindows* self, std::function<Gtk::Window*()> parent,
             std::string question, std::string informative, std::string quitLabel,
             Confirmation::Ahead ahead) -> Task<void> {
        bool confirmed = false;
        {
            GtkConfirmation dialog(std::move(parent));
            const Confirmation::Request request{question, informative, quitKeep, quitLabel, ahead};
            auto answer = dialog.confirm(request);
            confirmed = co_await answer;
        }
        if (alive.expired()) co_return;
        if (!confirmed) {
            self->terminating_ = false;
            self->changed.emit();
            co_return;
        }
        co_await stopAndQuit(alive, self);
    }(alive_, this, std::move(parent), question, work.informative(), work.quitLabel(), work.quitAhead()));
    return TerminateReply::later;
}

Task<void> WorkspaceWindows::stopAndQuit(std::weak_ptr<bool> alive, WorkspaceWindows* self) {
    const auto all = self->models();
    // The windows as they were before anything is stopped.
    self->saveSnapshot();
    if (all.empty()) {
        self->quitApplication();
        co_return;
    }
    for (const auto& model : all) model->cancelForClose();
    for (const auto& model : all) co_await model->waitForStop();
    if (alive.expired()) co_return;
    // Every queue keeps its edits first: a failure leaves every window with
    // its tabs and sessions as they were, so each stays usable.
    try {
        for (const auto& model : all) model->queue->prepareToClose();
    } catch (...) {
        for (const auto& model : all) {
            model->closing = false;
            model->message = quitFailed;
        }
        self->terminating_ = false;
        self->changed.emit();
        co_return;
    }
    for (const auto& model : all) model->shutDownTabs();
    self->quitApplication();
}

Gtk::Window* WorkspaceWindows::platformWindow(const UUID& modelID) {
    auto found = windows_.find(modelID);
    return found == windows_.end() ? nullptr : &found->second->window();
}

std::shared_ptr<WindowModel> WorkspaceWindows::openWindow() {
    // The window made here, not the current one: the desktop may leave
    // another window active, whose queue is not this work's to replace.
    WorkspaceWindow* window = open(std::nullopt);
    return window ? window->model() : nullptr;
}

bool WorkspaceWindows::reopenForRecapture(const std::string& url) {
    auto* window = current();
    if (!window) return false;
    auto& model = *window->model();
    model.section = WindowModel::Section::web;
    auto tab = model.addTab(false);
    try {
        tab->browser->navigate(url);
    } catch (...) {
        // A refused address leaves the new tab empty; the history says
        // nothing more.
    }
    return true;
}

}  // namespace velmora
