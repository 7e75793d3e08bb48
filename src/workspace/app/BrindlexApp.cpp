#include "workspace/app/BrindlexApp.hpp"

#include <gtkmm/aboutdialog.h>
#include <gtkmm/headerbar.h>
#include <gtkmm/messagedialog.h>
#include <glibmm/main.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/ProductBrand.hpp"
#include "gui/ForeignDrops.hpp"
#include "gui/GtkConfirmation.hpp"
#include "settingsui/SettingsFlow.hpp"
#include "workspace/model/AppServices.hpp"

// The application's resources (its icon), compiled into the program.
extern "C" void velmora_register_resource(void);

namespace velmora {

namespace {

void registerResources() {
    static const bool registered = [] {
        velmora_register_resource();
        return true;
    }();
    (void)registered;
}

}  // namespace

BrindlexApp::BrindlexApp(Gio::Application::Flags extraFlags)
    : app_((registerResources(),
            Gtk::Application::create(ProductBrand::current().bundleIdentifier,
                                      Gio::Application::Flags::HANDLES_OPEN | extraFlags))),
      delegate_(*this) {
    fileReceiver = [](const std::filesystem::path& file) { SettingsFlow::shared().read(file); };
    app_->signal_startup().connect([this] {
        // GTK finds the icon in the application's resources at start-up;
        // once installed, the icon theme has the same one.
        Gtk::Window::set_default_icon_name(ProductBrand::current().bundleIdentifier);
        // Files dropped from a file manager on any window, the web pages' too.
        settleForeignDrops();
        installCommands();
    });
    // The session asks before it ends, as a quit does.
    app_->property_register_session() = true;
    app_->signal_query_end().connect([this] {
        if (!windows_) return;
        const auto reply = windows_->requestTermination();
        if (reply == WorkspaceWindows::TerminateReply::now) {
            quit(0);
        } else if (reply == WorkspaceWindows::TerminateReply::later && logoutInhibit_ == 0) {
            Gtk::Window* window = currentWindow();
            const std::string reason = windows_->pendingWork().question();
            logoutInhibit_ = gtk_application_inhibit(app_->gobj(), window ? window->gobj() : nullptr,
                                                     GTK_APPLICATION_INHIBIT_LOGOUT, reason.c_str());
        }
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
    windows_.reset();
}

int BrindlexApp::run(int argc, char** argv) {
    const int status = app_->run(argc, argv);
    return exitStatus_ != 0 ? exitStatus_ : status;
}

Gtk::Window* BrindlexApp::currentWindow() const {
    auto* window = windows_ ? windows_->current() : nullptr;
    return window ? &window->window() : nullptr;
}

void BrindlexApp::showSettings() {
    if (windows_) windows_->showSettings();
}

bool BrindlexApp::hasVisibleWindow() const {
    if (!windows_) return false;
    for (const auto& [id, window] : windows_->windows()) {
        if (window->window().get_visible()) return true;
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
        if (auto* ok = dialog->get_widget_for_response(Gtk::ResponseType::OK)) ok->add_css_class(GtkConfirmation::suggestedStyle);
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
    flow.storedPreferences = SettingsFlow::storedIn(services->settings);
    flow.showSettings = [this] { app_.showSettings(); };
    app_.flowWired_ = true;
    auto steps = app_.launchSteps ? app_.launchSteps(*services) : LaunchSequence::real(*services);
    app_.windows_ = std::make_unique<WorkspaceWindows>(*services, app_.app_);
    auto& windows = *app_.windows_;
    windows.quitApplication = [this] { app_.quit(0); };
    windows.opened.connect([this](WorkspaceWindow& window) { app_.windowOpened.emit(window.window()); });
    // A quit called off lets the session end again.
    windows.changed.connect([this] {
        app_.updateCommands();
        if (app_.logoutInhibit_ != 0 && !app_.windows_->terminating()) {
            app_.app_->uninhibit(app_.logoutInhibit_);
            app_.logoutInhibit_ = 0;
        }
    });
    steps.openWindows = [&windows] { windows.start(); };
    steps.fixCloseKey = [this] { app_.fixCloseKey(); };
    LaunchSequence(std::move(steps)).run();
    app_.updateCommands();
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
        app_.windows_->open(std::nullopt);
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

void BrindlexDelegate::quit() {
    if (!app_.windows_) {
        app_.quit(0);
        return;
    }
    if (app_.windows_->requestTermination() == WorkspaceWindows::TerminateReply::now) app_.quit(0);
}

void BrindlexDelegate::showAbout() {
    auto* dialog = new Gtk::AboutDialog();
    dialog->set_name(aboutName);
    dialog->set_program_name(ProductPresentation::name());
    dialog->set_version(ProductPresentation::version());
    dialog->set_logo_icon_name(ProductBrand::current().bundleIdentifier);
    dialog->set_comments(aboutDescription);
    dialog->set_license_type(Gtk::License::CUSTOM);
    dialog->set_license(aboutLicence);
    dialog->set_wrap_license(true);
    dialog->set_modal(true);
    if (auto* parent = app_.currentWindow()) dialog->set_transient_for(*parent);
    dialog->set_hide_on_close(true);
    dialog->signal_hide().connect([dialog] { Glib::signal_idle().connect_once([dialog] { delete dialog; }); });
    dialog->present();
}

}  // namespace velmora
