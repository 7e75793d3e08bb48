#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include <giomm/application.h>
#include <giomm/file.h>
#include <giomm/menu.h>
#include <gtkmm/application.h>
#include <gtkmm/applicationwindow.h>

#include "workspace/app/LaunchSequence.hpp"
#include "workspace/windows/WorkspaceWindows.hpp"

namespace velmora {

class AppServices;

// What the desktop asks of the application, answered on the main thread: the
// first activation or file opening runs the launch once; a later activation
// (a second start, forwarded by the desktop bus) raises the window or opens a
// new one; opened files go to the file receiver; "app.about" shows the About
// dialog; "app.quit" (Ctrl+Q) and the session's end ask the window set
// whether the application may quit. The other menu commands are the
// application's (BrindlexCommands.cpp).
class BrindlexDelegate {
public:
    // The About dialog, in the desktop's about-dialog style: the name and
    // version of the running program with its icon, this line that says
    // what it is for, and its licence.
    static constexpr const char* aboutName = "about";
    static constexpr const char* aboutDescription = "Webページの保存と、日本語の画像・PDFの文字認識（OCR）のためのアプリケーション";
    static constexpr const char* aboutLicence =
        "ベルモラは、その開発者が著作権を持つソフトウェアです。開発者の許可なく複製・再配布することはできません。";

    explicit BrindlexDelegate(class BrindlexApp& app) : app_(app) {}

    void activate();
    void open(const std::vector<Glib::RefPtr<Gio::File>>& files);
    void showAbout();
    // "app.quit": quits at once, or once the window set has stopped the
    // work it asked about, or not at all.
    void quit();

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
    // window step is always the window set's start.
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

    // The workspace windows, once the launch has made them; null before.
    WorkspaceWindows* windows() const noexcept { return windows_.get(); }
    // The current workspace window's desktop window, or null.
    // Brings a window forward in its settings section, a new one when none
    // is open.
    void showSettings();
    Gtk::Window* currentWindow() const;
    bool hasVisibleWindow() const;

    // Ends the main loop with this exit status.
    void quit(int status);

    // The menu bar's model (AppCommands), set on the application at its
    // start-up.
    const Glib::RefPtr<Gio::Menu>& menubar() const noexcept { return menubar_; }

private:
    friend class BrindlexDelegate;

    // The menu commands as application actions with their keys, and the
    // menu bar (BrindlexCommands.cpp).
    void installCommands();
    // Enables each command for the current window's section.
    void updateCommands();
    // Gives GTK's own window close its key (the launch's last step).
    void fixCloseKey();
    void reloadPage();

    Glib::RefPtr<Gtk::Application> app_;
    Glib::RefPtr<Gio::Menu> menubar_;
    BrindlexDelegate delegate_;
    std::unique_ptr<WorkspaceWindows> windows_;
    // The session's logout held back while a quit stops the work.
    unsigned int logoutInhibit_ = 0;
    int exitStatus_ = 0;
    bool flowWired_ = false;
};

}  // namespace velmora
