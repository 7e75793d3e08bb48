#include "settingsui/GtkSettingsFilePanels.hpp"

#include <gtkmm/dialog.h>
#include <gtkmm/filechoosernative.h>
#include <gtkmm/filefilter.h>
#include <gtkmm/window.h>

#include <set>

#include "foundation/ProductBrand.hpp"
#include "gui/GtkNativePanel.hpp"

namespace velmora {

namespace {

using Answer = std::optional<std::filesystem::path>;

Glib::RefPtr<Gtk::FileFilter> settingsFilter(const std::vector<std::string>& extensions) {
    auto filter = Gtk::FileFilter::create();
    filter->set_name(ProductBrand::current().settingsTypeName);
    // A suffix matches in any case, as the reader accepts it.
    for (const std::string& extension : extensions) filter->add_suffix(extension);
    filter->add_mime_type(GtkSettingsFilePanels::mimeType);
    return filter;
}

std::vector<std::string> acceptedExtensions() {
    const std::set<std::string> accepted = ProductBrand::current().acceptedSettingsExtensions();
    return {accepted.begin(), accepted.end()};
}

}  // namespace

Task<Answer> GtkSettingsFilePanels::chooseExport(const std::string& suggestedName, const std::filesystem::path& startFolder) {
    auto panel = Gtk::FileChooserNative::create(exportTitle, Gtk::FileChooser::Action::SAVE, exportAccept, cancelLabel);
    // Without a folder of its own the panel would open in the program's
    // working folder, wherever that is.
    try {
        panel->set_current_folder(Gio::File::create_for_path(startFolder.string()));
    } catch (const Glib::Error&) {
        // A folder gone since it was looked up: the panel opens where GTK
        // would open it, and the user goes from there.
    }
    panel->set_current_name(suggestedName);
    panel->set_filter(settingsFilter(acceptedExtensions()));
    Gtk::Window* parent = parent_ ? parent_() : nullptr;
    Answer chosen = co_await runNativePanel(std::move(panel), parent ? parent : activeToplevel());
    co_return chosen;
}

Task<Answer> GtkSettingsFilePanels::chooseImport(const std::vector<std::string>& extensions) {
    auto panel = Gtk::FileChooserNative::create(importTitle, Gtk::FileChooser::Action::OPEN, importAccept, cancelLabel);
    panel->set_select_multiple(false);
    panel->set_filter(settingsFilter(extensions));
    Gtk::Window* parent = parent_ ? parent_() : nullptr;
    Answer chosen = co_await runNativePanel(std::move(panel), parent ? parent : activeToplevel());
    co_return chosen;
}

}  // namespace velmora
