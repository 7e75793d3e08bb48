#pragma once

#include <string>

#include <gtkmm/widget.h>

namespace velmora {

// Styles one widget with its own CSS (the columns carry no stylesheet of
// the application's).
void styleWidget(Gtk::Widget& widget, const std::string& css);

// The orange of a warning or a reason the user must read: 5.2:1 against the
// window's background (the theme's own orange measures about 3.2:1).
inline constexpr const char* warningColour = "rgb(180, 65, 0)";

// The fonts of the columns: a headline, and the caption of legends and
// cautions.
void headlineFont(Gtk::Widget& widget);
void captionFont(Gtk::Widget& widget);

// The desktop palette's highlight colours as CSS, before their alpha.
inline constexpr const char* yellowCSS = "rgba(246, 211, 45, 0.55)";
inline constexpr const char* greenCSS = "rgba(51, 209, 122, 0.55)";
inline constexpr const char* blueCSS = "rgba(53, 132, 228, 0.55)";

}  // namespace velmora
