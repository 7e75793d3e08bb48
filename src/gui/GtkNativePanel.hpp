#pragma once

#include <gtkmm/filechoosernative.h>
#include <gtkmm/window.h>

#include <filesystem>
#include <optional>

#include "foundation/Task.hpp"

namespace velmora {

// The window the user is working in, for a dialog or panel opened without a
// parent: the active window; while none is (no window manager tells, or the
// focus left with a dialog), the application's window that had the focus
// last, else a main window on screen. A dialog without a parent floats free
// of the window it is about, and GTK warns of it.
Gtk::Window* activeToplevel();

// Shows a set-up file panel. GTK without a portal shows it as a dialog of
// its own, sized from the size it last had or else from its font: a low
// window whose places column cuts their Japanese names ("デスクト…"). That
// dialog opens at least `panelWidth` × `panelHeight` (within its screen),
// with a places column `placesWidth` wide; a larger size left by the user
// stays.
inline constexpr int panelWidth = 900;
inline constexpr int panelHeight = 600;
inline constexpr int placesWidth = 200;
void showPanel(Gtk::FileChooserNative& panel);

// Shows a set-up file panel modal over parent (when given) and answers the
// local path the user accepted, or nothing. The panel is taken down with the
// task, also when the task is discarded before the user answers.
Task<std::optional<std::filesystem::path>> runNativePanel(Glib::RefPtr<Gtk::FileChooserNative> panel,
                                                         Gtk::Window* parent);

}  // namespace velmora
