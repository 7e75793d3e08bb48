#pragma once

#include <filesystem>
#include <optional>

#include "foundation/FolderChooser.hpp"

namespace Gtk {
class Window;
}

namespace velmora {

// The folder chooser of the desktop: a native file chooser selecting one
// folder, with folder creation allowed. GTK runs no dialog modally, so the
// task resumes when the user answers; cancelling or closing it is nothing.
class GtkFolderChooser final : public FolderChooser {
public:
    // The dialog belongs to parent, or, without one, to the window the user
    // works in when it opens (activeToplevel).
    explicit GtkFolderChooser(Gtk::Window* parent = nullptr) : parent_(parent) {}

    Task<std::optional<std::filesystem::path>> choose(const Request& request) override;

private:
    Gtk::Window* parent_;
};

}  // namespace velmora
