#include "gui/GtkNativePanel.hpp"

#include <gtkmm/dialog.h>

#include <functional>

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
    for (Gtk::Window* w : Gtk::Window::list_toplevels()) {
        if (w->is_active()) return w;
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
