#include "settingsui/GtkSettingsFilePanels.hpp"

#include <gtkmm/dialog.h>
#include <gtkmm/filechoosernative.h>
#include <gtkmm/filefilter.h>
#include <gtkmm/window.h>

#include <set>

#include "foundation/ProductBrand.hpp"

namespace velmora {

namespace {

using Answer = std::optional<std::filesystem::path>;

Gtk::Window* activeWindow() {
    for (Gtk::Window* w : Gtk::Window::list_toplevels()) {
        if (w->is_active()) return w;
    }
    return nullptr;
}

// Takes the panel down with the task, also when the task is discarded
// before the user answers.
struct PanelGuard {
    Glib::RefPtr<Gtk::FileChooserNative> panel;
    sigc::connection response;
    ~PanelGuard() {
        response.disconnect();
        panel->hide();
    }
};

Glib::RefPtr<Gtk::FileFilter> settingsFilter(const std::vector<std::string>& extensions) {
    auto filter = Gtk::FileFilter::create();
    filter->set_name(ProductBrand::current().settingsTypeName);
    // A suffix matches in any case, as the reader accepts it.
    for (const std::string& extension : extensions) filter->add_suffix(extension);
    filter->add_mime_type(GtkSettingsFilePanels::mimeType);
    return filter;
}

Task<Answer> run(PanelGuard& guard, Gtk::Window* parent) {
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

std::vector<std::string> acceptedExtensions() {
    const std::set<std::string> accepted = ProductBrand::current().acceptedSettingsExtensions();
    return {accepted.begin(), accepted.end()};
}

}  // namespace

Task<Answer> GtkSettingsFilePanels::chooseExport(const std::string& suggestedName) {
    PanelGuard guard{Gtk::FileChooserNative::create(exportTitle, Gtk::FileChooser::Action::SAVE, exportAccept,
                                                    cancelLabel),
                     {}};
    guard.panel->set_current_name(suggestedName);
    guard.panel->set_filter(settingsFilter(acceptedExtensions()));
    Gtk::Window* parent = parent_ ? parent_() : nullptr;
    Answer chosen = co_await run(guard, parent ? parent : activeWindow());
    co_return chosen;
}

Task<Answer> GtkSettingsFilePanels::chooseImport(const std::vector<std::string>& extensions) {
    PanelGuard guard{Gtk::FileChooserNative::create(importTitle, Gtk::FileChooser::Action::OPEN, importAccept,
                                                    cancelLabel),
                     {}};
    guard.panel->set_select_multiple(false);
    guard.panel->set_filter(settingsFilter(extensions));
    Gtk::Window* parent = parent_ ? parent_() : nullptr;
    Answer chosen = co_await run(guard, parent ? parent : activeWindow());
    co_return chosen;
}

}  // namespace velmora
