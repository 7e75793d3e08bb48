#include "gui/GtkFolderChooser.hpp"

#include <gtkmm/dialog.h>
#include <gtkmm/filechoosernative.h>
#include <gtkmm/window.h>

#include <memory>

namespace velmora {

namespace {

using Answer = std::optional<std::filesystem::path>;

Gtk::Window* activeWindow() {
    for (Gtk::Window* w : Gtk::Window::list_toplevels()) {
        if (w->is_active()) return w;
    }
    return nullptr;
}

// Takes the dialog down with the task, also when the task is discarded
// before the user answers.
struct DialogGuard {
    Glib::RefPtr<Gtk::FileChooserNative> dialog;
    sigc::connection response;
    ~DialogGuard() {
        response.disconnect();
        dialog->hide();
    }
};

}  // namespace

Task<Answer> GtkFolderChooser::choose(const Request& request) {
    DialogGuard guard{Gtk::FileChooserNative::create(request.title, Gtk::FileChooser::Action::SELECT_FOLDER,
                                                     request.acceptLabel),
                      {}};
    Gtk::FileChooserNative* dialog = guard.dialog.get();
    dialog->set_create_folders(true);
    dialog->set_modal(true);
    if (Gtk::Window* parent = parent_ ? parent_ : activeWindow()) dialog->set_transient_for(*parent);
    if (!request.startFolder.empty()) {
        try {
            dialog->set_current_folder(Gio::File::create_for_path(request.startFolder.string()));
        } catch (const Glib::Error&) {
            // A start folder that does not exist yet (the default output
            // folder before the first save): the chooser opens where GTK
            // would open it.
        }
    }
    std::function<void(Resumer<Answer>)> start = [dialog, &guard](Resumer<Answer> resumer) {
        guard.response = dialog->signal_response().connect([dialog, resumer](int response) {
            Answer chosen;
            if (response == Gtk::ResponseType::ACCEPT) {
                if (const auto file = dialog->get_file()) {
                    const std::string path = file->get_path();
                    // A location without a local path (a remote share) is no
                    // folder we can open by descriptor.
                    if (!path.empty()) chosen = std::filesystem::path(path);
                }
            }
            resumer.resume(std::move(chosen));
        });
        dialog->show();
    };
    auto answered = awaitCallback<Answer>(std::move(start));
    Answer chosen = co_await answered;
    co_return chosen;
}

}  // namespace velmora
