#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include <giomm/application.h>
#include <giomm/file.h>
#include <gtkmm/application.h>
#include <gtkmm/applicationwindow.h>

#include "workspace/LaunchSequence.hpp"

namespace velmora {

class AppServices;

// What the desktop asks of the application, answered on the main thread: the
// first activation or file opening runs the launch once; a later activation
// (a second start, forwarded by the desktop bus) raises the window or opens a
// new one; opened files go to the file receiver; "app.about" shows the About
// dialog.
class BrindlexDelegate {
public:
    explicit BrindlexDelegate(class BrindlexApp& app) : app_(app) {}

    void activate();
    void open(const std::vector<Glib::RefPtr<Gio::File>>& files);
    void showAbout();

private:
    // False when the services cannot be made: the error dialog is shown and
    // nothing else happens.
    bool launchOnce();

    BrindlexApp& app_;
    bool launched_ = false;
    bool failed_ = false;
};

// The application: one Gtk::Application with the brand's identifier that also
// opens files. A second process started while one runs hands its request to
// the first over the session bus and ends with status 0.
class BrindlexApp {
public:
    // Tests add NON_UNIQUE so that their application never meets another.
    explicit BrindlexApp(Gio::Application::Flags extraFlags = Gio::Application::Flags::NONE);
    ~BrindlexApp();
    BrindlexApp(const BrindlexApp&) = delete;
    BrindlexApp& operator=(const BrindlexApp&) = delete;

    // The container of the launch; AppServices::shared() unless set. Its
    // error ends the application with status 1 after a dialog.
    std::function<AppServices&()> services;
    // The launch's steps, given the container; the real ones unless set. The
    // window step is always this application's openWindow.
    std::function<LaunchSequence::Steps(AppServices&)> launchSteps;
    // Where the first opened file goes: the settings flow, which reads it
    // and holds it for the user's confirmation. Tests may replace it.
    std::function<void(const std::filesystem::path&)> fileReceiver;
    // Emitted for every workspace window once it is presented.
    sigc::signal<void(Gtk::ApplicationWindow&)> windowOpened;

    const Glib::RefPtr<Gtk::Application>& application() const noexcept { return app_; }
    BrindlexDelegate& delegate() noexcept { return delegate_; }

    // Runs the main loop; the process's exit status.
    int run(int argc, char** argv);

    // One workspace window: for now an empty window with the product's title.
    Gtk::ApplicationWindow& openWindow();
    // Brings the settings forward: the current window in front, a new one
    // when none shows. (Switching the window to its settings section belongs
    // to the workspace windows.)
    void showSettings();
    // The most recently active window of the application, or null.
    Gtk::Window* currentWindow() const;
    bool hasVisibleWindow() const;

    // Ends the main loop with this exit status.
    void quit(int status);

private:
    friend class BrindlexDelegate;

    Glib::RefPtr<Gtk::Application> app_;
    BrindlexDelegate delegate_;
    std::vector<std::unique_ptr<Gtk::Window>> windows_;
    int exitStatus_ = 0;
    bool flowWired_ = false;
};

}  // namespace velmora
