#include "gui/GtkNativePanel.hpp"

#include <gtkmm/application.h>
#include <gtkmm/dialog.h>

#include <functional>
#include <vector>

namespace velmora {

namespace {

using Answer = std::optional<std::filesystem::path>;

struct PanelGuard {
    Glib::RefPtr<Gtk::FileChooserNative> panel;
    sigc::connection response;
    ~PanelGuard() {
        response.disconnect();
        panel->hide();
    }
};

}  // namespace

Gtk::Window* activeToplevel() {
    const std::vector<Gtk::Window*> windows = Gtk::Window::list_toplevels();
    for (Gtk::Window* w : windows) {
        if (w->is_active()) return w;
    }
    // None is active: no window manager says which is, or the focus went
    // with a dialog that has closed. The application's windows are kept in
    // the order they last had the focus.
    if (auto app = std::dynamic_pointer_cast<Gtk::Application>(Gio::Application::get_default())) {
        if (Gtk::Window* w = app->get_active_window(); w && w->get_visible()) return w;
    }
    // Else a main window on screen: neither a dialog nor another window's
    // child.
    for (Gtk::Window* w : windows) {
        if (w->get_visible() && !w->get_transient_for() && !dynamic_cast<Gtk::Dialog*>(w)) return w;
    }
    return nullptr;
}

Task<Answer> runNativePanel(Glib::RefPtr<Gtk::FileChooserNative> shown, Gtk::Window* parent) {
    PanelGuard guard{std::move(shown), {}};
    Gtk::FileChooserNative* panel = guard.panel.get();
    panel->set_modal(true);
    if (parent) panel->set_transient_for(*parent);
    std::function<void(Resumer<Answer>)> start = [panel, &guard](Resumer<Answer> resumer) {
        guard.response = panel->signal_response().connect([panel, resumer](int response) {
            Answer chosen;
            if (response == Gtk::ResponseType::ACCEPT) {
                if (const auto file = panel->get_file()) {
                    const std::string path = file->get_path();
                    // A location without a local path (a remote share) is
                    // nothing we can open by descriptor.
                    if (!path.empty()) chosen = std::filesystem::path(path);
                }
            }
            resumer.resume(std::move(chosen));
        });
        panel->show();
    };
    auto answered = awaitCallback<Answer>(std::move(start));
    Answer chosen = co_await answered;
    co_return chosen;
}

}  // namespace velmora
