#include "support/gui/GuiHelpers.hpp"

namespace velmora::test {

Gtk::Widget* findByName(Gtk::Widget& root, const std::string& name) {
    if (root.get_name().raw() == name) return &root;
    for (auto* child = root.get_first_child(); child; child = child->get_next_sibling()) {
        if (auto* found = findByName(*child, name)) return found;
    }
    return nullptr;
}

namespace {

void dropSizes(Gtk::Widget& widget) {
    widget.queue_resize();
    for (Gtk::Widget* child = widget.get_first_child(); child; child = child->get_next_sibling()) dropSizes(*child);
}

void collectInconsistent(Gtk::Widget& widget, std::vector<std::string>& found) {
    if (!widget.get_visible()) return;
    if (widget.get_request_mode() == Gtk::SizeRequestMode::HEIGHT_FOR_WIDTH) {
        // The width the toolkit checks with: wider than any screen.
        constexpr int anyWidth = 1048576;
        int unconstrained = 0, natural = 0, wide = 0, ignored = 0, baseline = -1, naturalBaseline = -1;
        widget.measure(Gtk::Orientation::VERTICAL, -1, unconstrained, natural, baseline, naturalBaseline);
        widget.measure(Gtk::Orientation::VERTICAL, anyWidth, wide, ignored, baseline, naturalBaseline);
        if (unconstrained < wide) {
            found.push_back(std::string(G_OBJECT_TYPE_NAME(widget.gobj())) + " '" + widget.get_name() + "' " +
                            std::to_string(unconstrained) + " < " + std::to_string(wide));
        }
    }
    for (Gtk::Widget* child = widget.get_first_child(); child; child = child->get_next_sibling())
        collectInconsistent(*child, found);
}

}  // namespace

std::vector<std::string> inconsistentHeights(Gtk::Widget& root) {
    dropSizes(root);
    std::vector<std::string> found;
    collectInconsistent(root, found);
    return found;
}

Gtk::Widget* findByName(const std::string& name) {
    for (auto* window : Gtk::Window::list_toplevels()) {
        if (auto* found = findByName(*window, name)) return found;
    }
    return nullptr;
}

std::vector<Gtk::Window*> visibleWindows() {
    std::vector<Gtk::Window*> found;
    for (auto* window : Gtk::Window::list_toplevels()) {
        if (window->get_visible()) found.push_back(window);
    }
    return found;
}

bool activateAction(Gtk::Application& app, const std::string& name, const Glib::VariantBase& parameter) {
    if (!app.has_action(name) || !app.get_action_enabled(name)) return false;
    app.activate_action(name, parameter);
    return true;
}

bool answerMessageDialog(const std::string& text, int response, std::chrono::milliseconds bound) {
    Gtk::MessageDialog* dialog = nullptr;
    const bool came = spinUntil(
        [&] {
            for (auto* candidate : visibleWindowsOf<Gtk::MessageDialog>()) {
                if (candidate->property_text().get_value().raw() == text) {
                    dialog = candidate;
                    return true;
                }
            }
            return false;
        },
        bound);
    if (!came) return false;
    dialog->response(response);
    return true;
}

bool saveThroughFileChooser(const std::filesystem::path& file, std::chrono::milliseconds bound) {
    GtkWidget* panel = nullptr;
    const bool came = spinUntil(
        [&] {
            for (auto* w : visibleWindows()) {
                if (GTK_IS_FILE_CHOOSER(w->gobj())) panel = GTK_WIDGET(w->gobj());
            }
            return panel != nullptr;
        },
        bound);
    if (!came) return false;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(panel), file.c_str());
    gtk_widget_activate(gtk_dialog_get_widget_for_response(GTK_DIALOG(panel), GTK_RESPONSE_ACCEPT));
    G_GNUC_END_IGNORE_DEPRECATIONS
    return true;
}

}  // namespace velmora::test
