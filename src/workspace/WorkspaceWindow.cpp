#include "workspace/WorkspaceWindow.hpp"

#include <gtkmm/headerbar.h>

#include "foundation/ProductBrand.hpp"
#include "gui/GtkConfirmation.hpp"
#include "workspace/AppServices.hpp"
#include "workspace/HistoryView.hpp"
#include "workspace/SettingsSection.hpp"
#include "workspace/WebWorkspace.hpp"
#include "workspace/WorkspaceWindows.hpp"

namespace velmora {

namespace {

const char* sectionTitle(WindowModel::Section section) {
    switch (section) {
        case WindowModel::Section::web: return "Webキャプチャ";
        case WindowModel::Section::ocr: return "OCR";
        case WindowModel::Section::history: return "履歴";
        case WindowModel::Section::settings: return "設定";
    }
    return "";
}

std::string pageName(WindowModel::Section section) { return std::string(rawValue(section)); }

}  // namespace

WorkspaceWindow::WorkspaceWindow(WorkspaceWindows& set, AppServices& services, int index,
                                 std::optional<RestoredWindow> restored)
    : set_(set), index_(index) {
    model_ = WindowModel::create(services, std::move(restored), set_);
    window_ = std::make_unique<Gtk::ApplicationWindow>();
    window_->set_title(ProductPresentation::windowTitle());
    window_->set_default_size(defaultWidth, defaultHeight);
    window_->set_size_request(minimumWidth, minimumHeight);
    // The title bar of the desktop's own applications, drawn by the window
    // itself, so the window looks the same with or without a compositor.
    window_->set_titlebar(*Gtk::make_managed<Gtk::HeaderBar>());
    // A window let go is hidden; the set destroys it on a later turn.
    window_->set_hide_on_close(true);
    window_->signal_close_request().connect([this] { return !closeRequested(); }, false);
    activeChanged_ = window_->property_is_active().signal_changed().connect([this] { set_.changed.emit(); });
    buildContent();
    window_->set_child(content_);
    modelChanged_ = model_->changed.connect([this] { followModel(); });
    followModel();
}

WorkspaceWindow::~WorkspaceWindow() {
    // A window let go may be destroyed after its set.
    activeChanged_.disconnect();
    modelChanged_.disconnect();
    // A window that goes without closing (its set goes first) still ends
    // its tabs: the web pane's views hold the model and may outlive this
    // object, and a page that went on loading would report to a set that
    // is gone.
    if (!closed_) {
        for (const auto& tab : model_->tabs.get()) tab->shutdown();
        model_->dropTabSubscriptions();
    }
    if (web_) sections_.remove(*web_);
    web_ = nullptr;
    window_->unset_child();
    window_->hide();
    if (auto app = window_->get_application()) app->remove_window(*window_);
}

void WorkspaceWindow::buildContent() {
    web_ = Gtk::make_managed<WebWorkspace>(model_, desktop_);
    web_->set_name(webName);

    sections_.set_vexpand(true);
    sections_.add(*web_, pageName(WindowModel::Section::web));
    for (auto section : {WindowModel::Section::ocr, WindowModel::Section::history, WindowModel::Section::settings}) {
        // The section's own view replaces its title once it exists.
        auto* placeholder = Gtk::make_managed<Gtk::Label>(sectionTitle(section));
        placeholder->set_name("workspace.section." + pageName(section));
        sections_.add(*placeholder, pageName(section));
    }
    content_.append(sections_);

    for (auto* label : {&message_, &stopping_}) {
        label->set_xalign(0);
        label->set_wrap(true);
        label->set_margin(6);
        label->set_use_markup(false);
        content_.append(*label);
    }
    message_.set_name(messageName);
    stopping_.set_name(stoppingName);
    stopping_.set_text(stoppingNotice);
}

void WorkspaceWindow::followModel() {
    if (message_.get_text().raw() != model_->message.get()) message_.set_text(model_->message.get());
    stopping_.set_visible(model_->closing);
    showSection();
}

void WorkspaceWindow::showSection() {
    const auto section = model_->section.get();
    if (section == WindowModel::Section::history && !history_) {
        history_ = Gtk::make_managed<HistoryView>(&set_, true);
        auto* old = sections_.get_child_by_name(pageName(section));
        sections_.add(*history_, pageName(section) + ".view");
        if (old) sections_.remove(*old);
    }
    // The settings screen starts afresh each time its section is chosen.
    if (section == WindowModel::Section::settings && !settings_) {
        settings_ = &makeSettingsSection(model_->services, set_);
        sections_.add(*settings_, pageName(section) + ".view");
    }
    const bool ownView = section == WindowModel::Section::history || section == WindowModel::Section::settings;
    const std::string name = ownView ? pageName(section) + ".view" : pageName(section);
    if (sections_.get_visible_child_name().raw() != name) {
        sections_.set_visible_child(name);
        if (history_) history_->setActive(section == WindowModel::Section::history);
        set_.changed.emit();
    }
    if (section != WindowModel::Section::settings && settings_) {
        sections_.remove(*settings_);
        settings_ = nullptr;
    }
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
