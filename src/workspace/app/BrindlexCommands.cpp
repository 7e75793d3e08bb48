// The menu commands of the application: each item of AppCommands becomes an
// application action acting on the window set's current window, with its
// keys; the menu bar shows them all. None keeps state of its own.
#include <map>

#include <giomm/simpleaction.h>
#include <webkit/webkit.h>

#include "foundation/Task.hpp"
#include "settingsui/SettingsFlow.hpp"
#include "workspace/app/AppCommands.hpp"
#include "workspace/app/BrindlexApp.hpp"
#include "workspace/app/CommandState.hpp"

namespace velmora {

namespace {

constexpr std::string_view appPrefix = "app.";

// The current window's model, or null without windows or a current one.
WindowModel* currentModel(WorkspaceWindows* windows) {
    if (!windows) return nullptr;
    auto* window = windows->current();
    return window ? window->model().get() : nullptr;
}

}  // namespace

void BrindlexApp::installCommands() {
    // The window set exists only once the launch has run; a command before
    // it (or after a failed launch) finds no window and does nothing, except
    // those that the delegate answers by itself.
    const std::map<std::string, std::function<void()>> handlers{
        {"about", [this] { delegate_.showAbout(); }},
        {"settings", [this] { showSettings(); }},
        {"wizard",
         [this] {
             showSettings();
             if (windows_) SettingsFlow::shared().wizard = true;
         }},
        {"quit", [this] { delegate_.quit(); }},
        {"new-window",
         [this] {
             if (windows_) windows_->open(std::nullopt);
         }},
        {"close-selected",
         [this] {
             if (windows_) windows_->closeSelected();
         }},
        {"close-tab",
         [this] {
             if (windows_) windows_->closeSelected();
         }},
        {"new-tab",
         [this] {
             auto* model = currentModel(windows_.get());
             if (model && model->section.get() == WindowModel::Section::web) model->openTab(false);
         }},
        {"new-private-tab",
         [this] {
             auto* model = currentModel(windows_.get());
             if (model && model->section.get() == WindowModel::Section::web) model->openTab(true);
         }},
        {"next-tab",
         [this] {
             if (windows_) windows_->cycleTab(1);
         }},
        {"previous-tab",
         [this] {
             if (windows_) windows_->cycleTab(-1);
         }},
        {"focus-address",
         [this] {
             if (windows_) windows_->focusAddress();
         }},
        {"reload", [this] { reloadPage(); }},
        // The queue's choice and save wait for the user in dialogs: they
        // run on as tasks of their own and report through the queue.
        {"open-ocr",
         [this] {
             auto* model = currentModel(windows_.get());
             if (model && model->section.get() == WindowModel::Section::ocr) (void)spawn(model->queue->choose());
         }},
        {"search-ocr",
         [this] {
             auto* model = currentModel(windows_.get());
             if (model && model->section.get() == WindowModel::Section::ocr) model->queue->focusSearch = true;
         }},
        {"save-ocr",
         [this] {
             auto* model = currentModel(windows_.get());
             if (model && model->section.get() == WindowModel::Section::ocr) (void)spawn(model->queue->save(false));
         }},
        {"help",
         [this] {
             if (windows_) windows_->showHelp();
         }},
    };
    for (const auto& menu : AppCommands::menus()) {
        for (const auto& item : menu.items) {
            if (!item.action.starts_with(appPrefix)) continue;
            const std::string name = item.action.substr(appPrefix.size());
            const auto handler = handlers.find(name);
            if (handler == handlers.end()) continue;
            app_->add_action(name, handler->second);
            if (!item.accels.empty()) {
                std::vector<Glib::ustring> accels(item.accels.begin(), item.accels.end());
                app_->set_accels_for_action(item.action, accels);
            }
        }
    }
    menubar_ = AppCommands::menuModel();
    app_->set_menubar(menubar_);
    updateCommands();
}

void BrindlexApp::updateCommands() {
    std::optional<WindowModel::Section> section;
    if (auto* model = currentModel(windows_.get())) section = model->section.get();
    const CommandState state(section);
    for (const auto& menu : AppCommands::menus()) {
        for (const auto& item : menu.items) {
            if (!item.action.starts_with(appPrefix)) continue;
            auto action = std::dynamic_pointer_cast<Gio::SimpleAction>(
                app_->lookup_action(item.action.substr(appPrefix.size())));
            if (action && action->get_enabled() != state.enabled(item.action)) {
                action->set_enabled(state.enabled(item.action));
            }
        }
    }
}

void BrindlexApp::fixCloseKey() {
    if (AppCommands::fixCloseKey(menubar_) > 0) {
        app_->set_accels_for_action(AppCommands::windowClose, {AppCommands::windowCloseAccel});
    }
}

void BrindlexApp::reloadPage() {
    auto* model = currentModel(windows_.get());
    if (!model || model->section.get() != WindowModel::Section::web) return;
    BrowserSession& session = model->browser();
    // A capture or print reads the page as it is: a reload would change it
    // under the save.
    if (session.hasPendingOperation()) return;
    if (WebKitWebView* view = session.webView()) webkit_web_view_reload(view);
}

}  // namespace velmora
