#include "gui/GtkNativePanel.hpp"

#include <gtkmm/application.h>
#include <gtkmm/dialog.h>

#include <gtk/gtk.h>

#include <algorithm>
#include <functional>
#include <string_view>
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

// The dialog GTK makes for a panel, taken when it is realized: its size is
// set before it is first presented, as a window manager expects it.
gboolean sizeDialog(GSignalInvocationHint*, guint, const GValue* values, gpointer data) {
    GObject* object = G_OBJECT(g_value_get_object(&values[0]));
    if (!GTK_IS_FILE_CHOOSER(object) || !GTK_IS_WINDOW(object)) return TRUE;
    GtkWindow* dialog = GTK_WINDOW(object);
    int width = panelWidth;
    int height = panelHeight;
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(dialog));
    if (GdkMonitor* monitor = surface ? gdk_display_get_monitor_at_surface(gdk_surface_get_display(surface), surface)
                                      : nullptr) {
        GdkRectangle screen;
        gdk_monitor_get_geometry(monitor, &screen);
        // Room for the window's frame and the desktop's own bars.
        width = std::min(width, screen.width - 64);
        height = std::min(height, screen.height - 96);
    }
    int shownWidth = 0;
    int shownHeight = 0;
    gtk_window_get_default_size(dialog, &shownWidth, &shownHeight);
    gtk_window_set_default_size(dialog, std::max(width, shownWidth), std::max(height, shownHeight));
    *static_cast<GtkWidget**>(data) = GTK_WIDGET(dialog);
    return TRUE;
}

void widenPlaces(GtkWidget* widget) {
    if (GTK_IS_PANED(widget)) {
        if (gtk_paned_get_position(GTK_PANED(widget)) < placesWidth) gtk_paned_set_position(GTK_PANED(widget), placesWidth);
        return;
    }
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
        widenPlaces(child);
    }
}

// GTK's path bar lays out its two scroll arrows only once it has read the
// folder it shows, yet draws them (warning of each) when a frame comes
// first, as on a busy machine. They are put away until then: its first
// layout with folders shows them again where they are needed.
void holdPathBarArrows(GtkWidget* widget) {
    if (std::string_view(G_OBJECT_TYPE_NAME(widget)) != "GtkPathBar") {
        for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
            holdPathBarArrows(child);
        }
        return;
    }
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
        if (GTK_IS_TOGGLE_BUTTON(child)) return;  // a folder: it lays out as usual
    }
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
        if (GTK_IS_BUTTON(child)) gtk_widget_set_child_visible(child, FALSE);
    }
}

}  // namespace

void showPanel(Gtk::FileChooserNative& panel) {
    const guint realize = g_signal_lookup("realize", GTK_TYPE_WIDGET);
    GtkWidget* dialog = nullptr;
    const gulong hook = g_signal_add_emission_hook(realize, 0, sizeDialog, &dialog, nullptr);
    panel.show();
    g_signal_remove_emission_hook(realize, hook);
    // A portal's panel is the desktop's to size.
    if (dialog) {
        widenPlaces(dialog);
        holdPathBarArrows(dialog);
    }
}

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
        showPanel(*panel);
    };
    auto answered = awaitCallback<Answer>(std::move(start));
    Answer chosen = co_await answered;
    co_return chosen;
}

}  // namespace velmora
