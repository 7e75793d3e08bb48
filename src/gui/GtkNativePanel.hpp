#pragma once

#include <gtkmm/filechoosernative.h>
#include <gtkmm/window.h>

#include <filesystem>
#include <optional>

#include "foundation/Task.hpp"

namespace velmora {

// The window the user is working in, for a panel opened without a parent.
Gtk::Window* activeToplevel();

// Shows a set-up file panel modal over parent (when given) and answers the
// local path the user accepted, or nothing. The panel is taken down with the
// task, also when the task is discarded before the user answers.
Task<std::optional<std::filesystem::path>> runNativePanel(Glib::RefPtr<Gtk::FileChooserNative> panel,
                                                         Gtk::Window* parent);

}  // namespace velmora
