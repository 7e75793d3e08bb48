#include "gui/GtkFolderChooser.hpp"

#include "gui/GtkNativePanel.hpp"

#include <gtkmm/dialog.h>
#include <gtkmm/filechoosernative.h>
#include <gtkmm/window.h>

#include <memory>

namespace velmora {

using Answer = std::optional<std::filesystem::path>;

Task<Answer> GtkFolderChooser::choose(const Request& request) {
    auto dialog = Gtk::FileChooserNative::create(request.title, Gtk::FileChooser::Action::SELECT_FOLDER,
                                                 request.acceptLabel);
    dialog->set_create_folders(true);
    if (!request.startFolder.empty()) {
        try {
            dialog->set_current_folder(Gio::File::create_for_path(request.startFolder.string()));
        } catch (const Glib::Error&) {
            // A start folder that does not exist yet (the default output
            // folder before the first save): the chooser opens where GTK
            // would open it.
        }
    }
    Answer chosen = co_await runNativePanel(std::move(dialog), parent_ ? parent_ : activeToplevel());
    co_return chosen;
}

}  // namespace velmora
