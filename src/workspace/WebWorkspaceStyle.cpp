#include "workspace/WebWorkspaceStyle.hpp"

#include <gdkmm/display.h>
#include <gtkmm/cssprovider.h>
#include <gtkmm/stylecontext.h>

namespace velmora::WebWorkspaceStyle {

void install() {
    auto display = Gdk::Display::get_default();
    if (!display) return;
    // One sheet per display; the program and its tests have one display.
    static GdkDisplay* installed = nullptr;
    if (installed == display->gobj()) return;
    installed = display->gobj();
    // The theme's named colours: the base colour stands for the control
    // background, the selection colour for the accent.
    auto provider = Gtk::CssProvider::create();
    provider->load_from_data(
        ".velmora-tab { border-radius: 6px; padding: 7px; background-color: @theme_base_color; }\n"
        ".velmora-tab.velmora-tab-selected { background-color: alpha(@theme_selected_bg_color, 0.18); }\n"
        ".velmora-tab button.velmora-tab-close { padding: 4px; min-width: 0; min-height: 0; }\n"
        ".velmora-strip { padding: 12px; background-color: @theme_base_color; }\n");
    Gtk::StyleContext::add_provider_for_display(display, provider, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

}  // namespace velmora::WebWorkspaceStyle
