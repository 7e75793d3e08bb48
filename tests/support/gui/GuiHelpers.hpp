#pragma once

// What GUI tests do with real widgets: find them by name (set_name stands for
// the accessibility identifiers automation addresses), fire the
// application's actions, answer message dialogs, and wait by bounded spins of
// the main context (support/MainLoop.hpp: spinUntil), never by sleeping.

#include <filesystem>
#include <string>
#include <vector>

#include <gtkmm/application.h>
#include <gtkmm/messagedialog.h>
#include <gtkmm/widget.h>
#include <gtkmm/window.h>

#include "support/MainLoop.hpp"

namespace velmora::test {

// The first widget named `name` in the tree under root (root included),
// depth first; null when there is none.
Gtk::Widget* findByName(Gtk::Widget& root, const std::string& name);
// The same over every toplevel window.
Gtk::Widget* findByName(const std::string& name);

// The visible widgets under root (root included) that the toolkit would
// warn about ("reports a minimum height of …, but minimum height for width
// of … is …"): a height-for-width widget whose least height, asked without
// a width, is lower than its least height at a width it can never lack.
// Each is named by its type, name and height pair. The measurements are
// taken afresh, every cached size of the tree dropped first.
std::vector<std::string> inconsistentHeights(Gtk::Widget& root);

// Every toplevel window that is visible now.
std::vector<Gtk::Window*> visibleWindows();

// Windows of type T that are visible now.
template <typename T>
std::vector<T*> visibleWindowsOf() {
    std::vector<T*> found;
    for (auto* window : visibleWindows()) {
        if (auto* t = dynamic_cast<T*>(window)) found.push_back(t);
    }
    return found;
}

// Activates "app.<name>" (the prefix is left out); false when there is no
// such action or it is disabled.
bool activateAction(Gtk::Application& app, const std::string& name, const Glib::VariantBase& parameter = {});

// Waits (bounded) for a visible message dialog whose message is `text`,
// answers it with `response` and returns true; false when none came.
bool answerMessageDialog(const std::string& text, int response, std::chrono::milliseconds bound = 10s);

// Waits (bounded) for a visible file chooser saving a file, names the file
// in it and accepts; false when none came.
bool saveThroughFileChooser(const std::filesystem::path& file, std::chrono::milliseconds bound = 10s);

}  // namespace velmora::test
