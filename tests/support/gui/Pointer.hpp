#pragma once

// The real pointer of the test's X display, driven by xdotool (XTest), so
// that widgets receive the same events a user's mouse gives them: presses,
// moves and releases aimed at a point of a widget.

#include <string>

#include <gtkmm/widget.h>

namespace velmora::test {

// A point of a widget (its own coordinates) as the X window of its toplevel
// sees it.
struct WindowPoint {
    unsigned long window = 0;
    int x = 0;
    int y = 0;
};

// Where (x, y) of widget lies in its toplevel's X window; the widget must be
// shown in a mapped window.
WindowPoint pointOf(Gtk::Widget& widget, double x, double y);
// The centre of the widget.
WindowPoint centreOf(Gtk::Widget& widget);

// Each runs xdotool once and returns whether it succeeded; the events reach
// the widgets when the main context turns next.
bool pointerMove(const WindowPoint& to);
bool pointerPress(const WindowPoint& at);
// Releases the primary button where the pointer is, without moving it.
bool pointerRelease();
// A click of a button at that point: the primary one unless another is
// named (3 is the secondary one, which opens context menus).
bool pointerClick(const WindowPoint& at, int button = 1);

}  // namespace velmora::test
