#include "support/gui/Pointer.hpp"

#include <gdk/x11/gdkx.h>
#include <glib.h>
#include <gtk/gtk.h>

#include <cmath>

namespace velmora::test {

namespace {

bool xdotool(const std::string& arguments) {
    const std::string command = "xdotool " + arguments;
    int status = 0;
    GError* error = nullptr;
    if (!g_spawn_command_line_sync(command.c_str(), nullptr, nullptr, &status, &error)) {
        g_error_free(error);
        return false;
    }
    return g_spawn_check_wait_status(status, nullptr);
}

std::string moveTo(const WindowPoint& point) {
    return "mousemove --window " + std::to_string(point.window) + " " + std::to_string(point.x) + " " +
           std::to_string(point.y);
}

}  // namespace

WindowPoint pointOf(Gtk::Widget& widget, double x, double y) {
    GtkWidget* self = widget.gobj();
    GtkNative* native = gtk_widget_get_native(self);
    WindowPoint point;
    if (!native) return point;
    double nx = 0, ny = 0;
    gtk_widget_translate_coordinates(self, GTK_WIDGET(native), x, y, &nx, &ny);
    double sx = 0, sy = 0;
    gtk_native_get_surface_transform(native, &sx, &sy);
    GdkSurface* surface = gtk_native_get_surface(native);
    if (surface && GDK_IS_X11_SURFACE(surface)) point.window = gdk_x11_surface_get_xid(surface);
    point.x = static_cast<int>(std::lround(nx + sx));
    point.y = static_cast<int>(std::lround(ny + sy));
    return point;
}

WindowPoint centreOf(Gtk::Widget& widget) {
    return pointOf(widget, widget.get_width() / 2.0, widget.get_height() / 2.0);
}

bool pointerMove(const WindowPoint& to) { return xdotool(moveTo(to)); }
bool pointerPress(const WindowPoint& at) { return xdotool(moveTo(at) + " mousedown 1"); }
bool pointerRelease() { return xdotool("mouseup 1"); }
bool pointerClick(const WindowPoint& at, int button) {
    return xdotool(moveTo(at) + " click " + std::to_string(button));
}

}  // namespace velmora::test
