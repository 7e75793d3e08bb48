#include "workspace/BrindlexApp.hpp"

#include <gtkmm/aboutdialog.h>
#include <gtkmm/headerbar.h>
#include <gtkmm/messagedialog.h>
#include <glibmm/main.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/ProductBrand.hpp"
#include "settingsui/SettingsFlow.hpp"
#include "workspace/AppServices.hpp"

namespace velmora {

namespace {

constexpr int defaultWidth = 1240;
constexpr int defaultHeight = 850;
constexpr int minimumWidth = 920;
constexpr int minimumHeight = 720;

}  // namespace

BrindlexApp::BrindlexApp(Gio::Application::Flags extraFlags)
    : app_(Gtk::Application::create(ProductBrand::current().bundleIdentifier,
                                    Gio::Application::Flags::HANDLES_OPEN | extraFlags)),
      delegate_(*this) {
    fileReceiver = [](const std::filesystem::path& file) { SettingsFlow::shared().read(file); };
    app_->signal_startup().connect([this] {
        app_->add_action("about", [this] { delegate_.showAbout(); });
    });
    app_->signal_activate().connect([this] { delegate_.activate(); });
    app_->signal_open().connect(
        [this](const std::vector<Glib::RefPtr<Gio::File>>& files, const Glib::ustring&) { delegate_.open(files); });
}

BrindlexApp::~BrindlexApp() {
    // The flow outlives this application: it must not call into it.
    if (flowWired_) {
        SettingsFlow& flow = SettingsFlow::shared();
        flow.storedPreferences = nullptr;
        flow.showSettings = nullptr;
    }
    for (auto& window : windows_) {
        window->hide();
        app_->remove_window(*window);
    }
    windows_.clear();
}

int BrindlexApp::run(int argc, char** argv) {
    const int status = app_->run(argc, argv);
    return exitStatus_ != 0 ? exitStatus_ : status;
}

Gtk::ApplicationWindow& BrindlexApp::openWindow() {
    auto window = std::make_unique<Gtk::ApplicationWindow>();
    window->set_title(ProductPresentation::windowTitle());
    window->set_default_size(defaultWidth, defaultHeight);
    window->set_size_request(minimumWidth, minimumHeight);
    // The title bar of the desktop's own applications, drawn by the window
    // itself, so the window looks the same with or without a compositor.
    window->set_titlebar(*Gtk::make_managed<Gtk::HeaderBar>());
    app_->add_window(*window);
    auto& shown = *window;
    windows_.push_back(std::move(window));
    shown.present();
    windowOpened.emit(shown);
    return shown;
}

void BrindlexApp::showSettings() {
    if (!hasVisibleWindow()) {
        openWindow();
    } else if (auto* window = currentWindow()) {
        window->present();
    }
}

Gtk::Window* BrindlexApp::currentWindow() const { return app_->get_active_window(); }

bool BrindlexApp::hasVisibleWindow() const {
    for (const auto& window : windows_) {
        if (window->get_visible()) return true;
    }
    return false;
}

void BrindlexApp::quit(int status) {
    exitStatus_ = status;
    app_->quit();
}

bool BrindlexDelegate::launchOnce() {
    if (failed_) return false;
    if (launched_) return true;
    launched_ = true;
    AppServices* services = nullptr;
    try {
        services = app_.services ? &app_.services() : &AppServices::shared();
    } catch (const std::exception& error) {
        // Without its website data stores the application cannot keep the
        // user's sessions safely: say why and end before any clean-up or
        // window.
        failed_ = true;
        auto* dialog = new Gtk::MessageDialog(error.what(), false, Gtk::MessageType::ERROR, Gtk::ButtonsType::OK, true);
        dialog->set_title(ProductPresentation::name());
        app_.app_->add_window(*dialog);
        dialog->signal_response().connect([this, dialog](int) {
            dialog->hide();
            app_.app_->remove_window(*dialog);
            delete dialog;
            app_.quit(1);
        });
        dialog->present();
        return false;
    }
    // A settings file read from now on is checked against these services'
    // preferences and brought forward in this application's windows.
    SettingsFlow& flow = SettingsFlow::shared();
    flow.storedPreferences = [services] { return services->settings.value(); };
    flow.showSettings = [this] { app_.showSettings(); };
    app_.flowWired_ = true;
    auto steps = app_.launchSteps ? app_.launchSteps(*services) : LaunchSequence::real(*services);
    steps.openWindows = [this] { app_.openWindow(); };
    LaunchSequence(std::move(steps)).run();
    return true;
}

void BrindlexDelegate::activate() {
    if (!launched_) {
        launchOnce();
        return;
    }
    if (failed_) return;
    // A second start: the user wants the application in front.
    if (!app_.hasVisibleWindow()) {
        app_.openWindow();
    } else if (auto* window = app_.currentWindow()) {
        window->present();
    }
}

void BrindlexDelegate::open(const std::vector<Glib::RefPtr<Gio::File>>& files) {
    if (!launchOnce()) return;
    if (files.empty() || !app_.fileReceiver) return;
    // The desktop may hand over several files; a settings import reads one.
    const std::string path = files.front()->get_path();
    if (!path.empty()) app_.fileReceiver(path);
}

void BrindlexDelegate::showAbout() {
    auto* dialog = new Gtk::AboutDialog();
    dialog->set_program_name(ProductPresentation::name());
    dialog->set_version(ProductPresentation::version());
    dialog->set_modal(true);
    if (auto* parent = app_.currentWindow()) dialog->set_transient_for(*parent);
    dialog->set_hide_on_close(true);
    dialog->signal_hide().connect([dialog] { Glib::signal_idle().connect_once([dialog] { delete dialog; }); });
    dialog->present();
}

}  // namespace velmora
