#include "ocrviews/ColumnStyle.hpp"

#include <gtkmm/cssprovider.h>
#include <gtkmm/stylecontext.h>

namespace velmora {

void styleWidget(Gtk::Widget& widget, const std::string& css) {
    auto provider = Gtk::CssProvider::create();
    provider->load_from_data(css);
    widget.get_style_context()->add_provider(provider, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void headlineFont(Gtk::Widget& widget) { styleWidget(widget, "* { font-weight: bold; }"); }

void captionFont(Gtk::Widget& widget) { styleWidget(widget, "* { font-size: 0.85em; }"); }

}  // namespace velmora
