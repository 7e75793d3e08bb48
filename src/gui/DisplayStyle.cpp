#include "gui/DisplayStyle.hpp"

#include <set>
#include <utility>

#include <gdkmm/display.h>
#include <gtkmm/cssprovider.h>
#include <gtkmm/stylecontext.h>

namespace velmora {

void installDisplayStyle(const char* css) {
    auto display = Gdk::Display::get_default();
    if (!display) return;
    static std::set<std::pair<GdkDisplay*, const char*>> installed;
    if (!installed.emplace(display->gobj(), css).second) return;
    auto provider = Gtk::CssProvider::create();
    provider->load_from_data(css);
    Gtk::StyleContext::add_provider_for_display(display, provider, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

}  // namespace velmora
